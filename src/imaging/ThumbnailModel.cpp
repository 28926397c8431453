#include "imaging/ThumbnailModel.h"

namespace ztv {

int ThumbnailModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

Qt::ItemFlags ThumbnailModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags base = QAbstractListModel::flags(index);
    return index.isValid() ? base | Qt::ItemIsDragEnabled : base;
}

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Item& item = m_items[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return item.caption;
    case Qt::DecorationRole:
        return item.image;
    case CounterRole:
        return item.counter;
    default:
        return {};
    }
}

void ThumbnailModel::clear()
{
    ++m_generation;
    m_held.clear();
    m_droppable.clear();
    m_imageCount = 0;
    if (m_items.empty())
        return;
    beginResetModel();
    m_items.clear();
    endResetModel();
}

ThumbnailModel::Item ThumbnailModel::makeItem(const QImage& image, const QString& caption, int counter)
{
    Item it { image, caption, {}, nullptr, counter, float(image.devicePixelRatio()) };
    ThumbnailSource s = thumbnailSourceOf(image);
    const qsizetype slash = s.path.lastIndexOf(QLatin1Char('/'));
    if (!s.isValid() || slash < 0)
        return it;
    // A folder of 100,000 pictures holds 100,000 items: only the name is each item's own.
    const QString folder = s.path.left(slash + 1);
    it.fileName = s.path.mid(slash + 1);
    if (it.fileName == caption)
        it.fileName = caption; // one copy of the text for both
    const RunSource& last = !m_held.empty() ? m_held.back().run
        : !m_items.empty()                  ? m_items.back().run
                                            : nullptr;
    if (last && last->path == folder && last->box == s.box && last->cacheRoot == s.cacheRoot) {
        it.run = last;
    } else {
        s.path = folder;
        it.run = std::make_shared<const ThumbnailSource>(std::move(s));
    }
    return it;
}

void ThumbnailModel::noteImage(int row, const Item& it)
{
    if (it.image.isNull())
        return;
    ++m_imageCount;
    if (it.run)
        m_droppable.append(row);
}

void ThumbnailModel::append(const QImage& image, const QString& caption, int counter)
{
    commit();
    const int row = int(m_items.size());
    beginInsertRows({}, row, row);
    m_items.push_back(makeItem(image, caption, counter));
    noteImage(row, m_items.back());
    endInsertRows();
}

void ThumbnailModel::appendLater(const QImage& image, const QString& caption, int counter)
{
    const int row = allCount();
    m_held.push_back(makeItem(image, caption, counter));
    noteImage(row, m_held.back());
}

void ThumbnailModel::commit()
{
    if (m_held.empty())
        return;
    const int row = int(m_items.size());
    beginInsertRows({}, row, row + int(m_held.size()) - 1);
    std::move(m_held.begin(), m_held.end(), std::back_inserter(m_items));
    m_held.clear();
    endInsertRows();
}

ThumbnailModel::Item& ThumbnailModel::item(int row)
{
    return size_t(row) < m_items.size() ? m_items[size_t(row)] : m_held[size_t(row) - m_items.size()];
}

const ThumbnailModel::Item& ThumbnailModel::item(int row) const
{
    return size_t(row) < m_items.size() ? m_items[size_t(row)] : m_held[size_t(row) - m_items.size()];
}

bool ThumbnailModel::hasImage(int row) const
{
    return row >= 0 && row < allCount() && !item(row).image.isNull();
}

ThumbnailSource ThumbnailModel::source(int row) const
{
    if (row < 0 || row >= allCount() || !item(row).run)
        return {};
    const Item& it = item(row);
    return { it.run->path + it.fileName, it.run->box, it.run->cacheRoot };
}

void ThumbnailModel::keepOnly(int first, int last)
{
    int firstDropped = -1, lastDropped = -1;
    for (qsizetype i = 0; i < m_droppable.size();) {
        const int row = m_droppable[i];
        if (row >= first && row <= last) {
            ++i;
            continue;
        }
        item(row).image = QImage();
        --m_imageCount;
        m_droppable[i] = m_droppable.constLast();
        m_droppable.removeLast();
        if (size_t(row) < m_items.size()) {
            firstDropped = firstDropped < 0 ? row : std::min(firstDropped, row);
            lastDropped = std::max(lastDropped, row);
        }
    }
    if (firstDropped >= 0)
        Q_EMIT dataChanged(index(firstDropped), index(lastDropped), { Qt::DecorationRole });
}

bool ThumbnailModel::restore(int row, quint64 generation, const QString& path, const QImage& image)
{
    if (generation != m_generation || row < 0 || row >= allCount() || image.isNull())
        return false;
    Item& it = item(row);
    // Only the file the row was listed for: a row never shows another file's picture.
    if (!it.run || !it.image.isNull() || path.size() != it.run->path.size() + it.fileName.size()
        || !path.startsWith(it.run->path) || !path.endsWith(it.fileName))
        return false;
    it.image = image;
    it.image.setDevicePixelRatio(it.ratio);
    noteImage(row, it);
    if (size_t(row) < m_items.size())
        Q_EMIT dataChanged(index(row), index(row), { Qt::DecorationRole });
    return true;
}

} // namespace ztv
