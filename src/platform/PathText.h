#pragma once

#include <QString>

namespace ztv {

// Position (from 1) of the last occurrence of pattern in text, 0 when there is none.
// Case-sensitive.
int BackInstr(const QString& text, const QString& pattern);

// Everything after the last "/" of a path; "" for a path ending with "/" and for "".
QString GetFileTitle(const QString& path);

inline constexpr int kThumbnailsPerPage = 25;
// The list position the page selector scrolls to for a page (from 1): the second
// thumbnail of the page, counted from 0.
int PageScrollPosition(int page);
// Pages shown for a list of that many thumbnails: an empty list still shows one page.
int PagesFor(int pageCount);

} // namespace ztv
