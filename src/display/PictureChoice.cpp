#include "display/PictureChoice.h"

#include "platform/PathCodec.h"

#include <sys/stat.h>

namespace ztv {

std::optional<FileIdentity> identifyFile(const QString& path)
{
    struct stat st { };
    if (path.isEmpty() || !statPath(path, &st) || !S_ISREG(st.st_mode))
        return std::nullopt;
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

std::optional<PictureChoice> PictureChoice::of(const QString& path)
{
    const std::optional<FileIdentity> id = identifyFile(path);
    if (!id)
        return std::nullopt;
    return PictureChoice { path, *id };
}

bool PictureChoice::isStillOnDisk() const
{
    return identifyFile(path) == identity;
}

} // namespace ztv
