#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidgetItem;

namespace ztv {

class FolderTree;
class FolderList;
class OperationContext;
class VaultTransfer;

// The destination chooser: the vault's folder tree, the chosen folder as a tree path, and
// the action and cancel buttons. Modeless; its captions are set once, by the request that
// loads it. Either button closes it before the filing starts.
class SetFolder : public QWidget {
    Q_OBJECT
public:
    SetFolder(OperationContext& context, VaultTransfer& transfer);
    ~SetFolder() override;

    QLabel* Label3 = nullptr; // instruction line
    FolderTree* TreeView1 = nullptr;
    QLabel* Label1 = nullptr; // the destination, "保管庫" or "保管庫/箱/…"
    QPushButton* Command1[2] {};
    FolderList& Dir1();

    void Command1_Click(int index);
    void TreeView1_Expand(QTreeWidgetItem* node);
    void TreeView1_Collapse(QTreeWidgetItem* node);
    void TreeView1_NodeClick(QTreeWidgetItem* node);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load();
    void setDestination(const QString& treePath);
    QString vaultBase() const;

    OperationContext& m_context;
    VaultTransfer& m_transfer;
    QString m_destination; // the tree path Label1 shows
};

} // namespace ztv
