#pragma once

#include "platform/FolderList.h"

#include <QTimer>
#include <QTreeWidget>
#include <functional>

namespace ztv {

// A folder tree filled one level ahead: every node shown already holds its children, so
// it shows an expand button exactly when its folder has sub-folders. Node keys are full
// paths; a node's tree path is the names from the root down joined by "/". A node shows
// its name through displayName(), so a name that is not UTF-8 reads as well as it can; the
// tree path keeps the names themselves. The main window has one per browsing tab; the
// destination chooser builds its own over the vault.
class FolderTree : public QTreeWidget {
    Q_OBJECT
public:
    // The keys of the icon list.
    static constexpr char16_t Drive[] = u"Drive";
    static constexpr char16_t FoldClose[] = u"FoldClose";
    static constexpr char16_t FoldOpen[] = u"FoldOpen";
    static constexpr char16_t Medium[] = u"Medium"; // a card or stick
    static constexpr char16_t Phone[] = u"Phone"; // a phone or camera over GVfs

    explicit FolderTree(QWidget* parent = nullptr);
    ~FolderTree() override;

    // A short note shown after a node's name (a box's key), by the node's key (its full path);
    // "" for none. Set by whoever builds the tree; showNotes() shows the notes anew.
    using NoteSource = std::function<QString(const QString& key)>;
    void setNoteSource(NoteSource source);
    void showNotes();

    FolderList& Dir1() { return m_dir; }
    // Where TreeEnum counts its child additions (the main window's NodeCount); none by default.
    void setNodeCounter(int* counter) { m_counter = counter; }

    QTreeWidgetItem* addRoot(const QString& key, const QString& text, const QString& image);
    // A root whose tree path is its folder (a medium's mount point, text) but which shows
    // another name (its label, shown); its tool tip and accessible description give the folder.
    QTreeWidgetItem* addRoot(
        const QString& key, const QString& text, const QString& image, const QString& shown);
    // Sub-folders that hide(full path) declares are not added; none hidden by default.
    void setHiddenFolders(std::function<bool(const QString& folder)> hide) { m_hide = std::move(hide); }
    // Adds below the node with parentKey; nullptr when there is no such parent or the key is
    // taken (a repeated expansion), which callers ignore.
    QTreeWidgetItem* addNode(
        const QString& parentKey, const QString& key, const QString& text, const QString& image);
    QTreeWidgetItem* node(const QString& key) const;
    void removeAllNodes();
    // Removes the top-level node with that key and everything below it.
    void removeRoot(const QString& key);

    static QString nodeKey(const QTreeWidgetItem* item);
    static QString nodeName(const QTreeWidgetItem* item); // the folder's name, as on disk
    static QString imageKey(const QTreeWidgetItem* item);
    void setImage(QTreeWidgetItem* item, const QString& image);
    QString treePath(const QTreeWidgetItem* item) const;
    // The tree path of the node the tree marks as current; the root's while none is.
    QString markedPath() const;
    QList<QTreeWidgetItem*> allNodes() const; // in the tree's node order

    // For each key, adds the sub-folders of that folder (as Dir1 lists them) below its node.
    // Unreadable folders and failed additions are skipped.
    void TreeEnum(const QStringList& parentKeys);
    // Selects and expands every node whose tree path equals the argument (the scan goes on
    // past a match) and gives the tree the focus. Nothing happens when no node has it.
    void Node_Exp(const QString& path);

    // The drop highlight shown under a right click while its menu is open.
    void setDropHighlight(QTreeWidgetItem* item);
    QTreeWidgetItem* dropHighlight() const { return m_drop; }

    // Drops onto a node: canDrop tells whether data could be filed into the folder with that
    // tree path; dropped gets it, after the drop has ended (the data copied), with the keys
    // held. Without them every drop is refused. While dragging, the node under the pointer is
    // highlighted, and one the pointer rests on opens (after OpenDelayMs). While busy (if
    // given) says the window has an operation under way, every node refuses, and a drop taken
    // just before it began is given to dropped only after it has ended.
    using CanDrop = std::function<bool(const QString& treePath, const QMimeData& data)>;
    using Dropped
        = std::function<void(const QString& treePath, const QMimeData& data, Qt::KeyboardModifiers keys)>;
    void setDropHandlers(CanDrop canDrop, Dropped dropped, std::function<bool()> busy = {});
    static constexpr int OpenDelayMs = 700;

Q_SIGNALS:
    // Any mouse button pressed over the tree, before the tree reacts to it; at is in the
    // tree's viewport.
    void MouseButton(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint at);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The node a drop at p would file into, or nullptr (the event then refused).
    QTreeWidgetItem* dropTarget(QDropEvent* event) const;
    QString noteOf(const QTreeWidgetItem* item) const;
    void endDrag();

    FolderList m_dir;
    int* m_counter = nullptr;
    NoteSource m_noteSource;
    QTreeWidgetItem* m_drop = nullptr;
    quint64 m_generation = 0; // raised by removeAllNodes
    CanDrop m_canDrop;
    Dropped m_dropped;
    std::function<bool()> m_busy;
    std::function<bool(const QString&)> m_hide;
    QTimer m_openTimer; // opens m_drop once the pointer rested on it
};

} // namespace ztv
