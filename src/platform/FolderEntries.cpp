#include "FolderEntries.h"

#include "PathCodec.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

namespace {

// Where the file system gives no types (some network shares, links), each entry costs a stat,
// which on a share is a round trip: thousands of them one after another took minutes, so they
// overlap. Each thread writes only the flags of the entries it took.
void resolveFolders(
    int dirFd, QList<FolderEntry>* entries, const std::vector<std::pair<qsizetype, QByteArray>>& unknown)
{
    FolderEntry* const flags = entries->data(); // detached here, before the threads
    std::atomic<size_t> next { 0 };
    auto work = [&] {
        for (size_t i = next++; i < unknown.size(); i = next++) {
            struct stat st;
            flags[unknown[i].first].isFolder
                = ::fstatat(dirFd, unknown[i].second.constData(), &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
    };
    const size_t threads = std::min<size_t>(8, unknown.size() / 16);
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
}

} // namespace

bool readFolderEntries(const QString& folder, QList<FolderEntry>* entries, bool resolveTypes)
{
    entries->clear();
    const int dirFd = openPath(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    std::vector<std::pair<qsizetype, QByteArray>> unknown;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // ".", ".." and hidden names
        const QByteArray name(entry->d_name);
        const bool known = entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK;
        if (!known && resolveTypes)
            unknown.emplace_back(entries->size(), name);
        entries->append({ decodePath(name), entry->d_type == DT_DIR, known || resolveTypes });
    }
    resolveFolders(dirFd, entries, unknown);
    ::closedir(dir);
    return true;
}

} // namespace ztv
