// "新しい画像だけ表示" on the CD tab: the page without the pictures the vault already holds.
#include "display/BrowsingArea.h"

#include "display/BrowseRun.h"
#include "display/texts.h"
#include "imaging/ThumbnailList.h"
#include "platform/ContentIndex.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTimer>
#include <algorithm>

namespace ztv {

int BrowsingArea::shownRow(int position) const
{
    if (position < 0 || position >= m_lookedUp.size())
        return -1;
    if (m_rowOf.empty())
        return position < m_HiddenList.size() ? position : -1;
    return m_rowOf[size_t(position)];
}

QString BrowsingArea::markText(const QString& vaultCopy) const
{
    // Shown from the vault's own name on ("保管庫/旅行/写真1.jpg").
    const ContentIndex* index = m_connectedIndex;
    const qsizetype cut = index ? index->vaultRoot().lastIndexOf(QLatin1Char('/')) + 1 : 0;
    return QString::fromUtf16(texts::display::InVaultMark).arg(displayName(vaultCopy.mid(cut)));
}

QStringList BrowsingArea::listedPictures() const
{
    return m_hiddenRows.isEmpty() ? m_HiddenList : m_lookedUp;
}

void BrowsingArea::applyOnlyNew()
{
    const bool on = m_OnlyNew->isChecked() && m_OnlyNew->isVisibleTo(this);
    const qsizetype count = m_lookedUp.size();
    auto hidden = [&](int position) { return on && m_markCopies.contains(position); };
    bool same = true;
    for (qsizetype i = 0; i < count && same; ++i)
        same = hidden(int(i)) == m_hiddenRows.contains(int(i));
    if (same)
        return;
    // Not under an operation or a listing, which act on the rows as they are: once it ends.
    if (m_run.busy() || m_HiddenList.size() + m_hiddenRows.size() != count) {
        if (m_run.busy())
            m_filterTimer->start();
        return;
    }
    // Each position's row as it stands, shown or hidden.
    std::vector<HiddenRow> rows(static_cast<size_t>(count));
    for (qsizetype i = 0; i < count; ++i) {
        const int row = shownRow(int(i));
        if (row >= 0)
            rows[size_t(i)] = { m_LEADImgList1->keptItem(row), m_LEADImgList1->counter(row) };
        else
            rows[size_t(i)] = m_hiddenRows.take(int(i));
    }
    const int page = m_Combo1->currentIndex();
    const QStringList lookedUp = m_lookedUp;
    const QHash<int, QString> copies = m_markCopies;
    const QSet<int> found = m_markFound;
    clearPage();
    m_lookedUp = lookedUp;
    m_markCopies = copies;
    m_markFound = found;
    m_rowOf.assign(size_t(count), -1);
    for (qsizetype i = 0; i < count; ++i) {
        if (hidden(int(i))) {
            m_hiddenRows.insert(int(i), std::move(rows[size_t(i)]));
            continue;
        }
        m_rowOf[size_t(i)] = int(m_HiddenList.size());
        m_HiddenList.append(lookedUp.at(i));
        const HiddenRow& r = rows[size_t(i)];
        m_LEADImgList1->AddKeptThumbnail(r.kept, displayName(GetFileTitle(lookedUp.at(i))), r.counter);
    }
    m_LEADImgList1->commitAdded();
    if (m_hiddenRows.isEmpty())
        m_rowOf.clear();
    for (auto it = m_markCopies.cbegin(); it != m_markCopies.cend(); ++it) {
        const int row = shownRow(it.key());
        if (row >= 0)
            m_LEADImgList1->setMark(row, markText(it.value()));
    }
    // The choice stays on its file while that is shown; a hidden one ends.
    afterListing();
    ComboSet();
    if (page > 0 && m_Combo1->count() > 0) {
        m_Combo1->setCurrentIndex(std::min(page, m_Combo1->count() - 1));
        Combo1_Click();
    }
}

} // namespace ztv
