#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTreeWidgetItem;

namespace ztv {

class FolderTree;
class FolderList;

// The destination chooser: the vault's folder tree, the chosen folder as a tree path, and
// the action and cancel buttons. Modeless; its captions are set once, by the request that
// loads it. Either button closes it before the filing starts. It knows nothing of what is
// filed: the action button hands the destination to file.
class SetFolder : public QWidget {
    Q_OBJECT
public:
    // vaultBase is the folder that holds the vault; copy sets the captions of a copy rather
    // than a move. file gets the destination's tree path ("保管庫", "保管庫/旅行"); closed is
    // told when the window closes, by a button or its close box.
    SetFolder(QWidget* owner, const QString& vaultBase, bool copy,
        std::function<void(const QString& destination)> file, std::function<void(SetFolder*)> closed);
    ~SetFolder() override;

    QLabel* Label3 = nullptr; // instruction line
    FolderTree* TreeView1 = nullptr;
    QLabel* Label1 = nullptr; // the destination, "保管庫" or "保管庫/箱/…"
    QPushButton* Command1[2] {};
    FolderList& Dir1();
    // Whether the window has an operation under way: the action button then does nothing and
    // the chooser stays open.
    void setBusy(std::function<bool()> busy) { m_busy = std::move(busy); }

    void Command1_Click(int index);
    void TreeView1_Expand(QTreeWidgetItem* node);
    void TreeView1_Collapse(QTreeWidgetItem* node);
    void TreeView1_NodeClick(QTreeWidgetItem* node);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load(bool copy);
    void setDestination(const QString& treePath);

    const QString m_vaultBase;
    std::function<void(const QString&)> m_file;
    std::function<void(SetFolder*)> m_closed;
    std::function<bool()> m_busy;
    QString m_destination; // the tree path Label1 shows
};

} // namespace ztv
