#include "widgets/FolderTree.h"

#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "widgets/DropTarget.h"
#include "widgets/Icons.h"

#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeWidgetItemIterator>

namespace ztv {

namespace {
constexpr int KeyRole = Qt::UserRole;
constexpr int ImageRole = Qt::UserRole + 1;
constexpr int NameRole = Qt::UserRole + 2;
constexpr int ShownRole = Qt::UserRole + 3;

QString shownName(const QTreeWidgetItem* item)
{
    const QString shown = item->data(0, ShownRole).toString();
    return shown.isEmpty() ? displayName(item->data(0, NameRole).toString()) : shown;
}

// The node shows its name readably, but keeps the name itself for its tree path: two
// names that are not UTF-8 may show alike and still be different folders.
void setName(QTreeWidgetItem* item, const QString& name)
{
    item->setText(0, displayName(name));
    item->setData(0, NameRole, name);
}
}

void FolderTree::setNoteSource(NoteSource source)
{
    m_noteSource = std::move(source);
    showNotes();
}

QString FolderTree::noteOf(const QTreeWidgetItem* item) const
{
    return m_noteSource ? m_noteSource(nodeKey(item)) : QString();
}

void FolderTree::showNotes()
{
    for (QTreeWidgetItem* item : allNodes())
        item->setText(0, shownName(item) + noteOf(item));
}

void FolderTree::keyPressEvent(QKeyEvent* event)
{
    // "*" would open every folder below at once: Qt lays the tree out while it tells each
    // opening, and the handlers that change a node's picture then leave it reading freed rows.
    // The folders open one at a time, each listed as it opens.
    if (event->key() == Qt::Key_Asterisk) {
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

FolderTree::~FolderTree() = default;

FolderTree::FolderTree(QWidget* parent)
    : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setExpandsOnDoubleClick(true);
    // Qt's own opening on a rest toggles the node, closing one already open (which lists it);
    // the tree opens only, with its own timer.
    setAutoExpandDelay(-1);
    m_openTimer.setSingleShot(true);
    m_openTimer.setInterval(OpenDelayMs);
    connect(&m_openTimer, &QTimer::timeout, this, [this] {
        if (m_drop && m_drop->childCount() > 0)
            m_drop->setExpanded(true);
    });
}

void FolderTree::setDropHandlers(CanDrop canDrop, Dropped dropped, std::function<bool()> busy)
{
    m_canDrop = std::move(canDrop);
    m_dropped = std::move(dropped);
    m_busy = std::move(busy);
    const bool on = bool(m_canDrop) && bool(m_dropped);
    setAcceptDrops(on);
    viewport()->setAcceptDrops(on);
    setDragDropMode(on ? QAbstractItemView::DropOnly : QAbstractItemView::NoDragDrop);
    setDropIndicatorShown(false); // the highlight of the whole row shows where it goes
}

QTreeWidgetItem* FolderTree::dropTarget(QDropEvent* event) const
{
    if (!m_canDrop || !event->mimeData() || (m_busy && m_busy()))
        return nullptr;
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    return item && m_canDrop(treePath(item), *event->mimeData()) ? item : nullptr;
}

void FolderTree::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
    // Entered over a place that refuses the drop, the tree still follows the pointer to
    // a node that takes it.
    if (m_canDrop && m_dropped && event->mimeData())
        event->accept();
}

void FolderTree::dragMoveEvent(QDragMoveEvent* event)
{
    QTreeWidgetItem* target = dropTarget(event);
    if (target != m_drop) {
        setDropHighlight(target);
        if (target)
            m_openTimer.start();
        else
            m_openTimer.stop();
    }
    if (!target) {
        event->ignore();
        return;
    }
    // Never a move: a file manager offering one would delete its own file once we took it.
    event->setDropAction(Qt::CopyAction);
    event->accept(visualItemRect(target));
    const QRect inner = viewport()->rect().adjusted(0, autoScrollMargin(), 0, -autoScrollMargin());
    if (!inner.contains(event->position().toPoint()))
        startAutoScroll();
}

void FolderTree::dragLeaveEvent(QDragLeaveEvent* event)
{
    endDrag();
    event->accept();
}

void FolderTree::dropEvent(QDropEvent* event)
{
    QTreeWidgetItem* target = dropTarget(event);
    endDrag();
    if (!target) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The filing runs after the drag has ended (a drag from another program waits for the
    // drop's answer); the data lives only as long as the event.
    std::shared_ptr<QMimeData> data = copyMimeData(*event->mimeData());
    const QString path = treePath(target);
    const Qt::KeyboardModifiers keys = event->modifiers();
    whenFree(this, m_busy, [this, data, path, keys] {
        if (m_dropped)
            m_dropped(path, *data, keys);
    });
}

void FolderTree::endDrag()
{
    m_openTimer.stop();
    setDropHighlight(nullptr);
    stopAutoScroll();
}

QTreeWidgetItem* FolderTree::addRoot(const QString& key, const QString& text, const QString& image)
{
    auto* item = new QTreeWidgetItem;
    setName(item, text);
    item->setData(0, KeyRole, key);
    if (const QString note = noteOf(item); !note.isEmpty())
        item->setText(0, item->text(0) + note);
    setImage(item, image);
    addTopLevelItem(item);
    return item;
}

QTreeWidgetItem* FolderTree::addRoot(
    const QString& key, const QString& text, const QString& image, const QString& shown)
{
    QTreeWidgetItem* item = addRoot(key, text, image);
    item->setData(0, ShownRole, shown);
    item->setText(0, shownName(item) + noteOf(item));
    item->setToolTip(0, displayName(text));
    item->setData(0, Qt::AccessibleDescriptionRole, displayName(text));
    return item;
}

QTreeWidgetItem* FolderTree::addNode(
    const QString& parentKey, const QString& key, const QString& text, const QString& image)
{
    QTreeWidgetItem* parent = node(parentKey);
    if (!parent)
        return nullptr;
    // A key is the parent's key and a name, so a taken key can only be among the siblings.
    for (int i = 0; i < parent->childCount(); ++i) {
        if (nodeKey(parent->child(i)) == key)
            return nullptr;
    }
    auto* item = new QTreeWidgetItem(parent);
    setName(item, text);
    item->setData(0, KeyRole, key);
    if (const QString note = noteOf(item); !note.isEmpty())
        item->setText(0, item->text(0) + note);
    setImage(item, image);
    return item;
}

QTreeWidgetItem* FolderTree::node(const QString& key) const
{
    for (QTreeWidgetItemIterator it(const_cast<FolderTree*>(this)); *it; ++it) {
        if (nodeKey(*it) == key)
            return *it;
    }
    return nullptr;
}

void FolderTree::removeAllNodes()
{
    m_drop = nullptr;
    ++m_generation;
    clear();
}

void FolderTree::removeRoot(const QString& key)
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (nodeKey(topLevelItem(i)) != key)
            continue;
        for (const QTreeWidgetItem* at = m_drop; at; at = at->parent()) {
            if (at == topLevelItem(i)) {
                m_drop = nullptr;
                break;
            }
        }
        ++m_generation; // a press under way no longer acts on what it hit
        delete takeTopLevelItem(i);
        return;
    }
}

QString FolderTree::nodeKey(const QTreeWidgetItem* item)
{
    return item ? item->data(0, KeyRole).toString() : QString();
}

QString FolderTree::nodeName(const QTreeWidgetItem* item)
{
    return item ? item->data(0, NameRole).toString() : QString();
}

QString FolderTree::imageKey(const QTreeWidgetItem* item)
{
    return item ? item->data(0, ImageRole).toString() : QString();
}

void FolderTree::setImage(QTreeWidgetItem* item, const QString& image)
{
    item->setData(0, ImageRole, image);
    item->setIcon(0, icon(image));
}

QString FolderTree::markedPath() const
{
    if (const QTreeWidgetItem* item = currentItem())
        return treePath(item);
    return topLevelItemCount() > 0 ? treePath(topLevelItem(0)) : QString();
}

QString FolderTree::treePath(const QTreeWidgetItem* item) const
{
    QStringList parts;
    for (const QTreeWidgetItem* i = item; i; i = i->parent())
        parts.prepend(nodeName(i));
    return parts.join(QLatin1Char('/'));
}

QList<QTreeWidgetItem*> FolderTree::allNodes() const
{
    QList<QTreeWidgetItem*> nodes;
    for (QTreeWidgetItemIterator it(const_cast<FolderTree*>(this)); *it; ++it)
        nodes << *it;
    return nodes;
}

void FolderTree::TreeEnum(const QStringList& parentKeys)
{
    // A copy: the keys are often the folder list's own entries, which each step replaces.
    const QStringList keys = parentKeys;
    for (const QString& key : keys) {
        if (!m_dir.setPath(key + QLatin1Char('/')))
            continue;
        const QStringList folders = m_dir.folders();
        for (const QString& folder : folders) {
            if (m_hide && m_hide(folder))
                continue;
            const QString name = folder.mid(BackInstr(folder, QStringLiteral("/")));
            addNode(key, key + QLatin1Char('/') + name, name, QString::fromUtf16(FoldClose));
            if (m_counter)
                ++*m_counter;
        }
    }
}

void FolderTree::Node_Exp(const QString& path)
{
    // Collected first: expanding fills the tree further, and those new nodes lie deeper
    // than any node of the same path could.
    const QList<QTreeWidgetItem*> nodes = allNodes();
    for (QTreeWidgetItem* item : nodes) {
        if (treePath(item) != path)
            continue;
        setCurrentItem(item);
        item->setSelected(true);
        item->setExpanded(true);
        setFocus(Qt::OtherFocusReason);
    }
}

void FolderTree::setDropHighlight(QTreeWidgetItem* item)
{
    if (m_drop) {
        m_drop->setData(0, Qt::BackgroundRole, QVariant());
        m_drop->setData(0, Qt::ForegroundRole, QVariant());
    }
    m_drop = item;
    if (m_drop) {
        m_drop->setData(0, Qt::BackgroundRole, palette().brush(QPalette::Highlight));
        m_drop->setData(0, Qt::ForegroundRole, palette().brush(QPalette::HighlightedText));
    }
}

void FolderTree::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    const quint64 generation = m_generation;
    Q_EMIT MouseButton(event->button(), event->modifiers(), p);
    // A handler (a box menu's add, delete or rename) may have rebuilt the tree: the point
    // now lies over another node, and the highlight the handler set must stay.
    if (generation != m_generation) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

} // namespace ztv
