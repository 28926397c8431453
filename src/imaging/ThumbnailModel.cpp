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

QString ThumbnailModel::captionOf(int row) const
{
    const Row& r = rowAt(row);
    if (r.run == NoRun)
        return r.text;
    if (r.ownCaption)
        return m_captions.value(row);
    return r.text.mid(m_runs[r.run].folder.size());
}

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return captionOf(row);
    case Qt::ToolTipRole: {
        const QString mark = m_marks.value(row);
        return mark.isEmpty() ? captionOf(row) : captionOf(row) + QLatin1Char('\n') + mark;
    }
    case Qt::AccessibleDescriptionRole:
    case MarkRole:
        return m_marks.value(row);
    case Qt::DecorationRole:
        return m_images.value(row);
    case CounterRole:
        return rowAt(row).counter;
    default:
        return {};
    }
}

void ThumbnailModel::clear()
{
    ++m_generation;
    m_held.clear();
    m_runs.clear();
    m_images.clear();
    m_marks.clear();
    m_captions.clear();
    m_droppable.clear();
    if (m_items.empty())
        return;
    beginResetModel();
    m_items.clear();
    endResetModel();
}

quint16 ThumbnailModel::runFor(const ThumbnailSource& s, qsizetype folderSize, float ratio)
{
    const QStringView folder = QStringView(s.path).left(folderSize);
    // A listing is one run; rows of another one start a new run.
    if (!m_runs.empty()) {
        const Run& last = m_runs.back();
        if (last.folder == folder && last.box == s.box && last.cacheRoot == s.cacheRoot
            && last.ratio == ratio)
            return quint16(m_runs.size() - 1);
    }
    if (m_runs.size() >= NoRun)
        return NoRun; // the picture is then kept, as one without a source
    m_runs.push_back({ folder.toString(), s.box, s.cacheRoot, ratio });
    return quint16(m_runs.size() - 1);
}

ThumbnailModel::Row ThumbnailModel::makeRow(int row, const QImage& image, const QString& caption, int counter)
{
    return makeRow(row, thumbnailSourceOf(image), float(image.devicePixelRatio()), caption, counter);
}

ThumbnailModel::Row ThumbnailModel::makeRow(
    int row, ThumbnailSource s, float ratio, const QString& caption, int counter)
{
    Row r;
    r.counter = counter;
    const qsizetype slash = s.path.lastIndexOf(QLatin1Char('/'));
    if (s.isValid() && slash >= 0)
        r.run = runFor(s, slash + 1, ratio);
    if (r.run == NoRun) {
        r.text = caption;
        return r;
    }
    r.ownCaption = QStringView(s.path).mid(slash + 1) != caption;
    if (r.ownCaption)
        m_captions.insert(row, caption);
    r.text = std::move(s.path);
    return r;
}

void ThumbnailModel::noteImage(int row, const QImage& image)
{
    if (image.isNull())
        return;
    m_images.insert(row, image);
    if (rowAt(row).run != NoRun)
        m_droppable.append(row);
}

void ThumbnailModel::append(const QImage& image, const QString& caption, int counter)
{
    commit();
    const int row = int(m_items.size());
    beginInsertRows({}, row, row);
    m_items.push_back(makeRow(row, image, caption, counter));
    noteImage(row, image);
    endInsertRows();
}

void ThumbnailModel::appendLater(const QImage& image, const QString& caption, int counter)
{
    const int row = allCount();
    m_held.push_back(makeRow(row, image, caption, counter));
    noteImage(row, image);
}

ThumbnailModel::Kept ThumbnailModel::kept(int row) const
{
    if (row < 0 || row >= allCount())
        return {};
    const Row& r = rowAt(row);
    return { source(row), r.run == NoRun ? 1.0f : m_runs[r.run].ratio, m_images.value(row) };
}

void ThumbnailModel::appendLaterKept(const Kept& kept, const QString& caption, int counter)
{
    if (!kept.image.isNull() || !kept.source.isValid()) {
        appendLater(kept.image, caption, counter);
        return;
    }
    const int row = allCount();
    m_held.push_back(makeRow(row, kept.source, kept.ratio, caption, counter));
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

ThumbnailModel::Row& ThumbnailModel::rowAt(int row)
{
    return size_t(row) < m_items.size() ? m_items[size_t(row)] : m_held[size_t(row) - m_items.size()];
}

const ThumbnailModel::Row& ThumbnailModel::rowAt(int row) const
{
    return size_t(row) < m_items.size() ? m_items[size_t(row)] : m_held[size_t(row) - m_items.size()];
}

void ThumbnailModel::setMark(int row, const QString& text)
{
    if (row < 0 || row >= allCount() || m_marks.value(row) == text)
        return;
    if (text.isEmpty())
        m_marks.remove(row);
    else
        m_marks.insert(row, text);
    if (size_t(row) < m_items.size())
        Q_EMIT dataChanged(
            index(row), index(row), { MarkRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole });
}

bool ThumbnailModel::hasImage(int row) const
{
    return m_images.contains(row);
}

ThumbnailSource ThumbnailModel::source(int row) const
{
    if (row < 0 || row >= allCount() || rowAt(row).run == NoRun)
        return {};
    const Row& r = rowAt(row);
    const Run& run = m_runs[r.run];
    return { r.text, run.box, run.cacheRoot };
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
        m_images.remove(row);
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
    const Row& r = rowAt(row);
    // Only the file the row was listed for: a row never shows another file's picture.
    if (r.run == NoRun || m_images.contains(row) || path != r.text)
        return false;
    QImage picture = image;
    picture.setDevicePixelRatio(m_runs[r.run].ratio);
    noteImage(row, picture);
    if (size_t(row) < m_items.size())
        Q_EMIT dataChanged(index(row), index(row), { Qt::DecorationRole });
    return true;
}

} // namespace ztv
