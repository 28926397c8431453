#include "ThumbnailBrowser.h"

#include "FolderListing.h"
#include "StallWatch.h"
#include "ThumbnailCache.h"
#include "ThumbnailEngine.h"
#include "ThumbnailPipeline.h"
#include "ThumbnailRestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
// Files decoded ahead of the one the program waits for; thumbnails are small, so this
// mostly lets the other workers carry on past a slow file.
constexpr int DecodeWindow = 64;
// The window must get an event pass at least this often during a run.
constexpr int EventPassMs = 10;
}

namespace ztv {

namespace {
void giveBackFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
} // namespace

ThumbnailBrowser::ThumbnailBrowser(QObject* parent)
    : QObject(parent)
    , m_cacheRoot(ThumbnailCache::defaultRoot())
    , m_writableStorage(isOnWritableStorage)
{
    setReaderAllocationLimitOnce();
}

ThumbnailBrowser::~ThumbnailBrowser() = default;

void ThumbnailBrowser::setFileFilter(const QString& filter)
{
    m_filter = filter;
}
QString ThumbnailBrowser::fileFilter() const
{
    return m_filter;
}

void ThumbnailBrowser::setThumbnailSize(const QSize& size)
{
    if (!size.isEmpty())
        m_size = size;
}

QSize ThumbnailBrowser::thumbnailSize() const
{
    return m_size;
}

void ThumbnailBrowser::setContinueBrowsing(bool on)
{
    m_continue = on;
}
bool ThumbnailBrowser::continueBrowsing() const
{
    return m_continue;
}
int ThumbnailBrowser::filesInRun() const
{
    return m_filesInRun;
}

void ThumbnailBrowser::setWorkerCount(int count)
{
    m_workers = std::max(0, count);
}
int ThumbnailBrowser::workerCount() const
{
    return m_workers > 0 ? m_workers : defaultWorkerCount();
}
void ThumbnailBrowser::setCacheFolder(const QString& root)
{
    m_cacheRoot = root;
}
QString ThumbnailBrowser::cacheFolder() const
{
    return m_cacheRoot;
}
void ThumbnailBrowser::setCacheReading(bool on)
{
    m_cacheRead = on;
}
void ThumbnailBrowser::setCacheWriting(bool on)
{
    m_cacheWrite = on;
}
void ThumbnailBrowser::setCancelCheck(std::function<bool()> check)
{
    m_cancelCheck = std::move(check);
}
void ThumbnailBrowser::setWritableStorageCheck(std::function<bool(const QString&)> check)
{
    m_writableStorage = std::move(check);
}

void ThumbnailBrowser::dropCacheEntries(const QString& path) const
{
    if (!m_cacheRoot.isEmpty())
        ThumbnailCache(m_cacheRoot).forget(QDir::cleanPath(path));
}

void ThumbnailBrowser::moveCacheEntries(const QString& from, const QString& to) const
{
    if (!m_cacheRoot.isEmpty())
        ThumbnailCache(m_cacheRoot).carry(QDir::cleanPath(from), QDir::cleanPath(to));
}

namespace {

// Stamps every listed file, several at once: on a share or a phone each stat is a round trip.
// Folders among names of unknown type are left out. Each thread writes only its own slots.
void stampAll(QStringList* listed, std::vector<FileStamp>* stamps, StallWatch::Threads& watched)
{
    const size_t n = size_t(listed->size());
    stamps->assign(n, FileStamp());
    std::vector<char> folder(n, 0);
    std::atomic<size_t> next { 0 };
    auto work = [&] {
        for (size_t i = next++; i < n; i = next++) {
            bool isFolder = false;
            (*stamps)[i] = fileStamp(listed->at(qsizetype(i)), &isFolder);
            folder[i] = isFolder;
        }
    };
    const size_t threads = std::min<size_t>(8, n / 16);
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) {
        pool.emplace_back([&] {
            watched.addCurrent();
            work();
        });
    }
    work();
    for (std::thread& t : pool)
        t.join();
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        if (folder[i])
            continue;
        if (kept != i) {
            (*listed)[qsizetype(kept)] = std::move((*listed)[qsizetype(i)]);
            (*stamps)[kept] = (*stamps)[i];
        }
        ++kept;
    }
    listed->resize(qsizetype(kept));
    stamps->resize(kept);
}

} // namespace

void ThumbnailBrowser::setStallLimit(int ms)
{
    m_stallMs = ms;
}

ThumbnailBrowser::Listed ThumbnailBrowser::listOffThread(
    const QString& folder, QStringList* paths, std::vector<FileStamp>* stamps)
{
    // Reading a folder of 100,000 names, or any folder on a slow share, takes long: the window
    // keeps answering meanwhile, and a stop ends the wait. The reader then finishes alone, or
    // never, when a call of it does not return: it holds only what it shares here.
    struct Result {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        bool ok = false;
        QStringList paths;
        std::vector<FileStamp> stamps;
    };
    const auto result = std::make_shared<Result>();
    StallWatch watch(m_stallMs);
    std::thread([result, folder, filter = m_filter, stamping = stamps != nullptr, watched = watch.threads()] {
        watched->addCurrent();
        // Memory freed between blocks still in use stays with the process: the rows of the
        // folder listed before (freed as the list was cleared) and this listing's names and
        // sort keys, which lie between the paths kept: 10 to 20 MiB each at 100,000 files;
        // both are given back here, off the window's thread (about 1 ms each).
        giveBackFreedMemory();
        QStringList listed;
        const bool ok = listFolderFiles(folder, filter, &listed, false);
        // Taken before any picture is made: a file changed after this reads as changed the
        // next time, never the other way round.
        std::vector<FileStamp> stamped;
        if (ok && stamping)
            stampAll(&listed, &stamped, *watched);
        giveBackFreedMemory();
        const std::lock_guard<std::mutex> hold(result->lock);
        result->ok = ok;
        result->paths = std::move(listed);
        result->stamps = std::move(stamped);
        result->finished = true;
        result->done.notify_all();
    }).detach();
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(result->lock);
            if (result->done.wait_for(
                    hold, std::chrono::milliseconds(EventPassMs), [&] { return result->finished; })) {
                if (!result->ok)
                    return Listed::Unreadable;
                *paths = std::move(result->paths);
                if (stamps)
                    *stamps = std::move(result->stamps);
                return Listed::Ok;
            }
        }
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        if (!m_continue || (m_cancelCheck && m_cancelCheck())) {
            m_continue = false;
            return Listed::Stopped;
        }
        if (watch.stalled())
            return Listed::Unreadable;
    }
}

int ThumbnailBrowser::startRun(const QString& folder, bool withStamps)
{
    m_filesInRun = 0;
    m_continue = true;
    m_listedPaths = QStringList();
    m_listedStamps = std::vector<FileStamp>();
    QStringList paths;
    std::vector<FileStamp> stamps;
    switch (listOffThread(folder, &paths, withStamps ? &stamps : nullptr)) {
    case Listed::Unreadable:
        return ResultFolderUnreadable;
    case Listed::Stopped:
        return ResultCancelled;
    case Listed::Ok:
        break;
    }
    m_listedPaths = std::move(paths);
    m_listedStamps = std::move(stamps);
    return ResultOk;
}

int ThumbnailBrowser::listNames(const QString& folder)
{
    return startRun(folder, true);
}

int ThumbnailBrowser::BrowseFolder(const QString& folder)
{
    if (const int listed = startRun(folder, false); listed != ResultOk)
        return listed;
    m_listedStamps.reserve(size_t(m_listedPaths.size()));
    return makeAll(m_listedPaths, true, [this](ThumbnailResult& r) {
        m_listedStamps.push_back(r.stamp);
        Q_EMIT ThumbnailReady(r.image, r.path, r.status);
    });
}

int ThumbnailBrowser::makeEach(const QStringList& paths, const std::function<void(ThumbnailResult&)>& each)
{
    return makeAll(paths, false, each);
}

int ThumbnailBrowser::makeAll(
    const QStringList& paths, bool stamping, const std::function<void(ThumbnailResult&)>& each)
{
    m_continue = true;
    m_filesInRun = int(paths.size());
    Q_EMIT BrowseStarted(m_filesInRun);
    if (paths.isEmpty())
        return ResultOk;

    ThumbnailCachePolicy policy;
    policy.root = m_cacheRoot;
    policy.read = m_cacheRead;
    policy.write = m_cacheWrite;
    policy.writableStorage = m_writableStorage;
    const QSize box = m_size;
    StallWatch watch(m_stallMs);
    ThumbnailPipeline pipeline(
        paths, workerCount(), DecodeWindow,
        [policy, box, stamping](const QString& path, const std::atomic<bool>* stop) {
            FileStamp stamp;
            if (stamping) {
                // Where the listing could not tell files from folders, the stamp does.
                bool folder = false;
                stamp = fileStamp(path, &folder);
                if (folder) {
                    ThumbnailResult none;
                    none.path = path;
                    none.status = ThumbnailResult::Vanished;
                    none.stamp = stamp;
                    return none;
                }
            }
            ThumbnailResult made = makeCachedThumbnail(path, box, policy, stop);
            made.stamp = stamp;
            return made;
        },
        watch.threads());
    QElapsedTimer sincePass;
    sincePass.start();
    bool stalled = false;
    // A stop asked for while the run waits on a slow decode ends the wait at once: the file
    // gets no event, and its decode is abandoned. So does a wait on workers that are all stuck.
    auto eventPass = [&] {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        sincePass.restart();
        if (!m_continue || (m_cancelCheck && m_cancelCheck())) {
            m_continue = false;
            pipeline.stop();
        } else if (watch.stalled() && decodesWaitingForMemory() == 0) {
            // (Workers waiting for their share of the decode memory wait on a decode elsewhere.)
            stalled = true;
            m_continue = false;
            pipeline.stop();
        }
    };
    // A list may let a thumbnail go and make it again from the cache the run read.
    const QString restoreCache = m_cacheRead ? m_cacheRoot : QString();
    for (int i = 0; i < pipeline.size(); ++i) {
        ThumbnailResult r = pipeline.takeNext(eventPass, EventPassMs);
        if (stalled)
            return ResultFolderUnreadable;
        if (!m_continue)
            return ResultCancelled;
        watch.progressed();
        if (r.status == ThumbnailResult::Made)
            markThumbnailSource(&r.image, { r.path, box, restoreCache });
        each(r);
        if (!m_continue) {
            pipeline.stop();
            return ResultCancelled;
        }
        if (sincePass.elapsed() >= 2 * EventPassMs)
            eventPass();
    }
    return ResultOk;
}

} // namespace ztv
