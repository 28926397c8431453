#include "platform/PathText.h"

namespace ztv {

int BackInstr(const QString& text, const QString& pattern)
{
    if (pattern.isEmpty())
        return 0;
    return int(text.lastIndexOf(pattern, -1, Qt::CaseSensitive)) + 1;
}

QString GetFileTitle(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return path; // a bare name is its own title
    return path.mid(slash + 1);
}

int PageScrollPosition(int page)
{
    return (page - 1) * kThumbnailsPerPage + 1;
}

int PagesFor(int pageCount)
{
    return pageCount <= 0 ? 1 : pageCount;
}

} // namespace ztv
