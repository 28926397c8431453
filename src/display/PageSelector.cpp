// The page selector of each browsing tab: current page, "/", number of pages.
#include "display/BrowsingArea.h"

#include "display/texts.h"
#include "imaging/ThumbnailList.h"
#include "platform/PathText.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>

namespace ztv {

static_assert(
    ThumbnailList::ItemsPerPage == kThumbnailsPerPage, "the selector and the list must agree on a page");

namespace {

// The selector is laid out for two digits. A folder of thousands of pictures has page
// numbers that would show cut ("90" for 901), so it grows leftwards, its right edge and the
// "/" beside it staying where they are.
void fitPageNumbers(QComboBox* combo, int pages)
{
    if (!combo->property("designWidth").isValid())
        combo->setProperty("designWidth", combo->width());
    const int designWidth = combo->property("designWidth").toInt();
    QStyleOptionComboBox option;
    option.initFrom(combo);
    const QSize text(
        combo->fontMetrics().horizontalAdvance(QString::number(pages)), combo->fontMetrics().height());
    const int needed = combo->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, combo).width();
    const int width = std::max(designWidth, needed);
    const QRect g = combo->geometry();
    combo->setGeometry(g.right() + 1 - width, g.top(), width, g.height());
}

} // namespace

void BrowsingArea::ComboSet()
{
    const int n = PagesFor(m_LEADImgList1->PageCount());
    QComboBox* combo = m_Combo1;
    {
        const QSignalBlocker quiet(combo);
        combo->clear();
        m_Label3->setText(QString::number(n));
        // Read aloud with its number: a name alone would replace the text.
        m_Label3->setAccessibleName(QString::fromUtf16(texts::display::AccRoleAndValue)
                                        .arg(m_Label3->accessibleDescription(), QString::number(n)));
        QStringList pages;
        pages.reserve(n);
        for (int i = 1; i <= n; ++i)
            pages << QString::number(i);
        combo->addItems(pages);
        combo->setCurrentIndex(0);
        fitPageNumbers(combo, n);
    }
    Combo1_Click();
}

void BrowsingArea::Combo1_Click()
{
    // Page numbers are int. With 16 bits the positions would end at page 1311 (position
    // 32751); here page 1312 and beyond scroll the same way, up to any folder's last page.
    const int page = m_Combo1->currentText().toInt();
    const int position = PageScrollPosition(page);
    const int count = m_LEADImgList1->ThumbnailCount();
    // The second thumbnail of the last page may not exist; its last one is then the target.
    if (count > 0)
        m_LEADImgList1->ScrollToThumbnail(qMin(position, count - 1));
}

} // namespace ztv
