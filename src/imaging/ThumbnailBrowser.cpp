#include "ThumbnailBrowser.h"

#include "FolderListing.h"
#include "ThumbnailEngine.h"

namespace ztv {

ThumbnailBrowser::ThumbnailBrowser(QObject* parent)
    : QObject(parent)
{
}

ThumbnailBrowser::~ThumbnailBrowser() = default;

void ThumbnailBrowser::setFileFilter(const QString& filter) { m_filter = filter; }
QString ThumbnailBrowser::fileFilter() const { return m_filter; }

void ThumbnailBrowser::setBooleanOption(int index, bool on)
{
    if (index >= 0 && index < int(m_flags.size()))
        m_flags[size_t(index)] = on;
}

bool ThumbnailBrowser::booleanOption(int index) const
{
    return index >= 0 && index < int(m_flags.size()) && m_flags[size_t(index)];
}

void ThumbnailBrowser::setIntegerOption(int index, int value)
{
    if (index >= 0 && index < int(m_ints.size()))
        m_ints[size_t(index)] = value;
}

int ThumbnailBrowser::integerOption(int index) const
{
    return index >= 0 && index < int(m_ints.size()) ? m_ints[size_t(index)] : 0;
}

void ThumbnailBrowser::setThumbnailSize(const QSize& size)
{
    if (!size.isEmpty())
        m_size = size;
}

QSize ThumbnailBrowser::thumbnailSize() const { return m_size; }

void ThumbnailBrowser::setContinueBrowsing(bool on) { m_continue = on; }
bool ThumbnailBrowser::continueBrowsing() const { return m_continue; }
int ThumbnailBrowser::filesInRun() const { return m_filesInRun; }

int ThumbnailBrowser::BrowseFolder(const QString& folder)
{
    QStringList paths;
    m_filesInRun = 0;
    if (!listFolderFiles(folder, m_filter, &paths))
        return ResultFolderUnreadable;
    m_filesInRun = int(paths.size());
    m_continue = true;
    Q_EMIT BrowseStarted(m_filesInRun);
    for (const QString& path : std::as_const(paths)) {
        const ThumbnailResult r = makeThumbnail(path, m_size);
        Q_EMIT ThumbnailReady(r.image, r.path, r.status);
        if (!m_continue)
            return ResultCancelled;
    }
    return ResultOk;
}

} // namespace ztv
