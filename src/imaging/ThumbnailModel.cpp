#include "imaging/ThumbnailModel.h"

namespace ztv {

int ThumbnailModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Item& item = m_items[index.row()];
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
    m_held.clear();
    if (m_items.isEmpty())
        return;
    beginResetModel();
    m_items.clear();
    endResetModel();
}

void ThumbnailModel::append(const QImage& image, const QString& caption, int counter)
{
    const int row = int(m_items.size());
    beginInsertRows({}, row, row);
    m_items.append(Item { image, caption, counter });
    endInsertRows();
}

void ThumbnailModel::appendLater(const QImage& image, const QString& caption, int counter)
{
    m_held.append(Item { image, caption, counter });
}

void ThumbnailModel::commit()
{
    if (m_held.isEmpty())
        return;
    const int row = int(m_items.size());
    beginInsertRows({}, row, row + int(m_held.size()) - 1);
    m_items.append(std::move(m_held));
    m_held.clear();
    endInsertRows();
}

} // namespace ztv
