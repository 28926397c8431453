#include "imaging/ThumbnailList.h"

#include "imaging/ThumbnailModel.h"
#include "imaging/ThumbnailRestore.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QEvent>
#include <QFontMetrics>
#include <QImage>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace ztv {

namespace {

// Paints one cell: the picture fitted (never enlarged) above its caption, shortened in the
// middle so the extension stays visible.
class ThumbnailDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt(option);
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

        const QRect cell = opt.rect.adjusted(3, 3, -3, -3);
        const int textHeight = opt.fontMetrics.height();
        const QRect pictureArea(cell.left(), cell.top(), cell.width(), cell.height() - textHeight - 2);
        const QImage image = index.data(Qt::DecorationRole).value<QImage>();
        if (!image.isNull() && !pictureArea.isEmpty()) {
            QSize size = image.deviceIndependentSize().toSize();
            if (size.width() > pictureArea.width() || size.height() > pictureArea.height())
                size.scale(pictureArea.size(), Qt::KeepAspectRatio);
            QRect target(QPoint(), size);
            target.moveCenter(pictureArea.center());
            painter->save();
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(target, image);
            painter->restore();
        }
        if (!index.data(ThumbnailModel::MarkRole).toString().isEmpty())
            paintMark(painter, opt, pictureArea);
        const QRect textRect(cell.left(), cell.bottom() - textHeight + 1, cell.width(), textHeight);
        const QString text = opt.fontMetrics.elidedText(
            index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, textRect.width());
        const bool selected = opt.state & QStyle::State_Selected;
        painter->setPen(
            opt.palette.color(QPalette::Normal, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(textRect, Qt::AlignCenter, text);
        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.backgroundColor = opt.palette.color(selected ? QPalette::Highlight : QPalette::Base);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

    // A round badge with a tick in the picture's top right corner: already in the vault.
    static void paintMark(QPainter* painter, const QStyleOptionViewItem& opt, const QRect& area)
    {
        const int d = std::max(12, opt.fontMetrics.height());
        const QRect badge(area.right() - d + 1, area.top(), d, d);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(opt.palette.color(QPalette::Base), 1.5));
        painter->setBrush(opt.palette.color(QPalette::Normal, QPalette::Highlight));
        painter->drawEllipse(QRectF(badge).adjusted(0.75, 0.75, -0.75, -0.75));
        QPen tick(opt.palette.color(QPalette::Normal, QPalette::HighlightedText), std::max(1.5, d / 8.0));
        tick.setCapStyle(Qt::RoundCap);
        tick.setJoinStyle(Qt::RoundJoin);
        painter->setPen(tick);
        const QPointF o = badge.topLeft();
        const QPointF points[] = { o + QPointF(d * 0.27, d * 0.52), o + QPointF(d * 0.44, d * 0.69),
            o + QPointF(d * 0.74, d * 0.34) };
        painter->drawPolyline(points, 3);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        const auto* view = qobject_cast<const QListView*>(option.widget);
        return view ? view->gridSize() : QSize(100, 100);
    }
};

} // namespace

// The list view behind ThumbnailList: a wrapping left-to-right grid of uniform cells sized
// so that exactly Columns x Rows fit, scrolling by pixels over whole pages.
class ThumbnailView : public QListView {
public:
    // The page was listed again under a held button: the row pressed may hold another file now.
    void forgetPress() { m_pressedRow = -1; }

    explicit ThumbnailView(ThumbnailList* owner)
        : QListView(owner)
        , m_owner(owner)
    {
        setViewMode(QListView::ListMode);
        setFlow(QListView::LeftToRight);
        setWrapping(true);
        setResizeMode(QListView::Adjust);
        setUniformItemSizes(true);
        setMovement(QListView::Static);
        setSpacing(0);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setItemDelegate(new ThumbnailDelegate(this));
        setGridSize(QSize(100, 100));
        setDragEnabled(true);
        setDragDropMode(QAbstractItemView::DragOnly);
    }

    int rowHeight() const { return std::max(1, gridSize().height()); }
    // Fixed by the grid, also before the view was first laid out (a list on a hidden tab).
    int columns() const { return ThumbnailList::Columns; }
    int rowOf(int item) const { return item / columns(); }

    void scrollToRow(int row)
    {
        updatePageRange();
        verticalScrollBar()->setValue(row * rowHeight());
        m_topItem = row * columns();
    }

    int indexAtOwnerPoint(const QPoint& ownerPoint)
    {
        executeDelayedItemsLayout();
        const QModelIndex index = indexAt(viewport()->mapFrom(m_owner, ownerPoint));
        return index.isValid() ? index.row() : -1;
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        // Keep the top item, not the top row: a list filled before it was first laid out
        // (the start-up listing) has a different number of columns afterwards.
        const int topItem = m_topItem;
        const Settling settling(this);
        QListView::resizeEvent(event);
        const QSize area = viewport()->size();
        // The layout wraps once a cell would reach the last pixel column.
        const QSize cell((area.width() - 1) / ThumbnailList::Columns, area.height() / ThumbnailList::Rows);
        if (cell.isValid() && cell != gridSize())
            setGridSize(cell);
        scrollToRow(rowOf(topItem));
    }

    void updateGeometries() override
    {
        const Settling settling(this);
        const int value = verticalScrollBar()->value();
        QListView::updateGeometries();
        updatePageRange();
        verticalScrollBar()->setValue(value);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        // Only the left button changes the selection; the owner's handlers decide for the others.
        if (event->button() == Qt::LeftButton) {
            QListView::mousePressEvent(event);
            const QModelIndex index = indexAt(event->position().toPoint());
            m_pressedRow = index.isValid() ? index.row() : -1;
            m_pressedAt = event->position().toPoint();
            m_leftHeld = true;
        }
        const QPoint p = viewport()->mapTo(m_owner, event->position().toPoint());
        Q_EMIT m_owner->ThumbnailMouseButton(event->button(), event->modifiers(), p);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }

    // Clicks and keys move only the focus frame; the owner draws the chosen item as selected.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex&, const QEvent*) const override
    {
        return QItemSelectionModel::NoUpdate;
    }

    // Input acts on every thumbnail added so far.
    bool event(QEvent* event) override
    {
        if (isInput(event))
            m_owner->commitAdded();
        return QListView::event(event);
    }

    bool viewportEvent(QEvent* event) override
    {
        if (isInput(event))
            m_owner->commitAdded();
        return QListView::viewportEvent(event);
    }

    // A drag carries what it starts on: pressed on a thumbnail outside the choice, it chooses
    // that one first, as a click would, then drags it; on a chosen one it drags the whole choice.
    // The view's own drag would start only while something is drawn selected, and would carry
    // that instead.
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton)) {
            QListView::mouseMoveEvent(event);
            return;
        }
        if (m_pressedRow < 0
            || (event->position().toPoint() - m_pressedAt).manhattanLength()
                < QApplication::startDragDistance())
            return;
        const int row = std::exchange(m_pressedRow, -1);
        if (!m_owner->selectedItems().contains(row))
            Q_EMIT m_owner->ThumbnailClicked(row);
        // Not when the click chose nothing (the file is gone), nor once the button was let go
        // meanwhile (a message about the file), when no drop could end the drag.
        if (m_leftHeld && m_owner->selectedItems().contains(row))
            startDrag(Qt::CopyAction);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QListView::mouseReleaseEvent(event);
        if (event->button() != Qt::LeftButton)
            return;
        m_leftHeld = false;
        const QModelIndex index = indexAt(event->position().toPoint());
        const int pressed = std::exchange(m_pressedRow, -1);
        if (!index.isValid() || index.row() != pressed)
            return;
        const Qt::KeyboardModifiers held = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
        if (held)
            Q_EMIT m_owner->ThumbnailClickedWith(pressed, held);
        else
            Q_EMIT m_owner->ThumbnailClicked(pressed);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
            Q_EMIT m_owner->ThumbnailClicked(currentIndex().row());
            return;
        }
        if (event->matches(QKeySequence::SelectAll)) {
            Q_EMIT m_owner->ChooseAllAsked();
            return;
        }
        // Esc goes on to the window as before; the owner only narrows a choice of several.
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
            Q_EMIT m_owner->EscapeAsked();
        const int before = currentIndex().row();
        QListView::keyPressEvent(event);
        if ((event->modifiers() & Qt::ShiftModifier) && currentIndex().isValid()
            && currentIndex().row() != before)
            Q_EMIT m_owner->ThumbnailClickedWith(currentIndex().row(), Qt::ShiftModifier);
    }

    void startDrag(Qt::DropActions) override
    {
        QMimeData* data = m_owner->dragData();
        if (!data)
            return;
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        // Offered as a copy only: a program that takes the files never deletes ours.
        drag->exec(Qt::CopyAction, Qt::CopyAction);
        m_pressedRow = -1;
        // The drop took the release.
        m_leftHeld = false;
    }

    // The menu key (or any non-mouse request) presses the right button at the current item.
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (event->reason() == QContextMenuEvent::Mouse)
            return;
        const QModelIndex current = currentIndex();
        const QPoint centre = current.isValid() ? visualRect(current).center() : viewport()->rect().center();
        const QPoint p = viewport()->mapTo(m_owner, centre);
        Q_EMIT m_owner->ThumbnailMouseButton(Qt::RightButton, Qt::NoModifier, p);
    }

public:
    // A layout passes the scroll bar through other values on its way back to the page shown;
    // the pictures kept follow only where it ends.
    bool settling() const { return m_settling > 0; }

private:
    struct Settling {
        explicit Settling(ThumbnailView* view)
            : view(view)
        {
            ++view->m_settling;
        }
        ~Settling()
        {
            ThumbnailList* owner = view->m_owner;
            // Not while the list is still being built.
            if (--view->m_settling == 0 && owner->m_view == view && owner->m_restorer
                && owner->m_heldScroll < 0)
                owner->keepAround(owner->focusItem());
        }
        ThumbnailView* view;
    };

    static bool isInput(const QEvent* event)
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::ContextMenu:
        case QEvent::Wheel:
            return true;
        default:
            return false;
        }
    }

    // Any row, the last one included, can be brought to the top, so every page starts there.
    void updatePageRange()
    {
        const int count = model() ? model()->rowCount() : 0;
        const int rows = (count + columns() - 1) / columns();
        verticalScrollBar()->setRange(0, std::max(0, (rows - 1) * rowHeight()));
        verticalScrollBar()->setSingleStep(rowHeight());
        verticalScrollBar()->setPageStep(ThumbnailList::Rows * rowHeight());
    }

    ThumbnailList* m_owner;
    int m_topItem = 0;
    int m_pressedRow = -1;
    QPoint m_pressedAt;
    bool m_leftHeld = false;
    int m_settling = 0;
};

ThumbnailList::ThumbnailList(QWidget* parent)
    : QWidget(parent)
    , m_model(new ThumbnailModel(this))
{
    // Made here, not above: the view's first layouts read both, which must be null until set.
    m_view = new ThumbnailView(this);
    m_restorer = new ThumbnailRestorer(this);
    m_view->setModel(m_model);
    connect(m_restorer, &ThumbnailRestorer::restored, this, &ThumbnailList::onRestored);
    // Every way the page changes (selector, keys, wheel, scroll bar) moves what is kept.
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (m_heldScroll < 0 && !m_view->settling())
            keepAround(focusItem());
    });
    // Often enough for the list to follow a run with the eye.
    m_commitTimer.setSingleShot(true);
    m_commitTimer.setInterval(40);
    connect(&m_commitTimer, &QTimer::timeout, this, [this] { commitAdded(); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);
    warmCaptionFont();
}

void ThumbnailList::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        warmCaptionFont();
}

void ThumbnailList::warmCaptionFont() const
{
    const QString sample = QStringLiteral("IMG_0123456789.JPG jpeg png");
    const QFontMetrics metrics(m_view->font());
    QImage glyphs(
        metrics.horizontalAdvance(sample) + 2, metrics.height() + 2, QImage::Format_ARGB32_Premultiplied);
    glyphs.fill(Qt::transparent);
    QPainter painter(&glyphs);
    painter.setFont(m_view->font());
    painter.drawText(
        glyphs.rect(), Qt::AlignCenter, metrics.elidedText(sample, Qt::ElideMiddle, glyphs.width()));
}

ThumbnailList::~ThumbnailList() = default;

void ThumbnailList::ClearThumbnails()
{
    m_model->clear();
    m_view->forgetPress();
    if (m_restorer->busy())
        m_restorer->request({});
    m_heldScroll = -1;
    m_view->scrollToRow(0);
}

void ThumbnailList::AddThumbnail(const QImage& bitmap, const QString& caption, int counter)
{
    m_model->appendLater(bitmap, caption, counter);
    afterAppend();
}

ThumbnailModel::Kept ThumbnailList::keptItem(int index) const
{
    return m_model->kept(index);
}

void ThumbnailList::AddKeptThumbnail(const ThumbnailModel::Kept& kept, const QString& caption, int counter)
{
    m_model->appendLaterKept(kept, caption, counter);
    afterAppend();
}

void ThumbnailList::afterAppend()
{
    // A run adds a page at a time beyond the budget before it trims, so trimming stays
    // linear in the folder's size.
    if (m_model->droppableImageCount() > KeptImages + ItemsPerPage)
        keepAround(focusItem());
    if (!m_commitTimer.isActive())
        m_commitTimer.start();
}

void ThumbnailList::commitAdded() const
{
    if (m_model->heldCount() == 0)
        return;
    m_model->commit();
    if (m_heldScroll >= 0)
        m_view->scrollToRow(m_view->rowOf(std::exchange(m_heldScroll, -1)));
    const_cast<ThumbnailList*>(this)->keepAround(focusItem());
}

int ThumbnailList::focusItem() const
{
    if (m_heldScroll >= 0)
        return m_heldScroll - m_heldScroll % Columns;
    const int row = m_view->verticalScrollBar()->value() / m_view->rowHeight();
    return std::clamp(row * Columns, 0, std::max(0, ThumbnailCount() - 1));
}

std::pair<int, int> ThumbnailList::keptRange(int item) const
{
    const int count = ThumbnailCount();
    // The page shown and PagesAround pages either side; near an end, more on the other side.
    int first = item - PagesAround * ItemsPerPage;
    int last = first + KeptImages - 1;
    if (last > count - 1) {
        first -= last - (count - 1);
        last = count - 1;
    }
    if (first < 0) {
        last = std::min(count - 1, last - first);
        first = 0;
    }
    return { first, last };
}

void ThumbnailList::keepAround(int item)
{
    if (ThumbnailCount() == 0)
        return;
    const auto [first, last] = keptRange(item);
    m_model->keepOnly(first, last);
    // Made again in order of nearness: the page shown, then a page after, a page before, and on.
    auto nearness = [item](int row) {
        return row >= item ? (row - item) / ItemsPerPage * 2 : (item - row - 1) / ItemsPerPage * 2 + 1;
    };
    QList<int> rows;
    for (int row = first; row <= last; ++row) {
        if (!m_model->hasImage(row) && m_model->source(row).isValid())
            rows.append(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return nearness(a) < nearness(b); });
    QList<ThumbnailRestorer::Request> wanted;
    wanted.reserve(rows.size());
    for (const int row : rows)
        wanted.append({ row, m_model->generation(), m_model->source(row) });
    if (!wanted.isEmpty() || m_restorer->busy())
        m_restorer->request(std::move(wanted));
}

void ThumbnailList::onRestored(int row, quint64 generation, const QString& path, const QImage& image)
{
    // A page left since it was asked for does not take memory again.
    const auto [first, last] = keptRange(focusItem());
    if (row >= first && row <= last)
        m_model->restore(row, generation, path, image);
}

int ThumbnailList::keptImageCount() const
{
    return m_model->imageCount();
}

bool ThumbnailList::restoringImages() const
{
    return m_restorer->busy();
}

int ThumbnailList::ThumbnailCount() const
{
    return m_model->rowCount() + m_model->heldCount();
}

void ThumbnailList::ScrollToThumbnail(int index)
{
    if (index < 0 || index >= ThumbnailCount())
        return;
    if (index >= m_model->rowCount()) {
        m_heldScroll = index; // done when the item reaches the view
        return;
    }
    m_heldScroll = -1;
    m_view->scrollToRow(m_view->rowOf(index));
}

int ThumbnailList::PageCount() const
{
    return (ThumbnailCount() + ItemsPerPage - 1) / ItemsPerPage;
}

int ThumbnailList::HitTest(int x, int y) const
{
    commitAdded();
    return m_view->indexAtOwnerPoint(QPoint(x, y));
}

void ThumbnailList::SetAllSelected(bool selected)
{
    commitAdded();
    if (!selected || ThumbnailCount() == 0) {
        m_view->clearSelection();
        return;
    }
    const QItemSelection all(m_model->index(0), m_model->index(ThumbnailCount() - 1));
    m_view->selectionModel()->select(all, QItemSelectionModel::Select);
}

void ThumbnailList::SetItemSelected(int index)
{
    commitAdded();
    if (index >= 0 && index < ThumbnailCount())
        m_view->selectionModel()->setCurrentIndex(m_model->index(index), QItemSelectionModel::Select);
}

void ThumbnailList::SetItemsSelected(const QList<int>& items, int current)
{
    commitAdded();
    QList<int> rows = items;
    std::sort(rows.begin(), rows.end());
    // Runs of neighbours as one range each: choosing a whole folder stays one range.
    QItemSelection selection;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] <= rows[j] + 1)
            ++j;
        if (rows[i] >= 0 && rows[j] < ThumbnailCount())
            selection.select(m_model->index(rows[i]), m_model->index(rows[j]));
        i = j + 1;
    }
    m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (current >= 0 && current < ThumbnailCount())
        m_view->selectionModel()->setCurrentIndex(m_model->index(current), QItemSelectionModel::NoUpdate);
}

void ThumbnailList::setMark(int index, const QString& text)
{
    m_model->setMark(index, text);
}

QString ThumbnailList::mark(int index) const
{
    commitAdded();
    return m_model->index(index).data(ThumbnailModel::MarkRole).toString();
}

int ThumbnailList::markCount() const
{
    return m_model->markCount();
}

QString ThumbnailList::caption(int index) const
{
    commitAdded();
    return m_model->index(index).data().toString();
}

int ThumbnailList::counter(int index) const
{
    commitAdded();
    const QVariant v = m_model->index(index).data(ThumbnailModel::CounterRole);
    return v.isValid() ? v.toInt() : -1;
}

QList<int> ThumbnailList::selectedItems() const
{
    commitAdded();
    QList<int> rows;
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    for (const QModelIndex& index : selected)
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int ThumbnailList::topItem() const
{
    commitAdded();
    if (ThumbnailCount() == 0)
        return -1;
    const int row = m_view->verticalScrollBar()->value() / m_view->rowHeight();
    return std::min(row * m_view->columns(), ThumbnailCount() - 1);
}

void ThumbnailList::setDragFiles(std::function<QList<QUrl>()> files)
{
    m_dragFiles = std::move(files);
}

void ThumbnailList::setDragExtra(std::function<void(QMimeData&)> extra)
{
    m_dragExtra = std::move(extra);
}

QMimeData* ThumbnailList::dragData() const
{
    const QList<QUrl> urls = m_dragFiles ? m_dragFiles() : QList<QUrl>();
    if (urls.isEmpty())
        return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    if (m_dragExtra)
        m_dragExtra(*data);
    return data;
}

void ThumbnailList::setAccessibleName(const QString& name)
{
    QWidget::setAccessibleName(name);
    m_view->setAccessibleName(name);
}

QAbstractItemModel* ThumbnailList::model() const
{
    commitAdded();
    return m_model;
}

QAbstractItemView* ThumbnailList::view() const
{
    commitAdded();
    return m_view;
}

} // namespace ztv
