#include "filing/SetFolder.h"

#include "filing/texts.h"
#include "platform/PathCodec.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ztv {

namespace T = filingtexts;

SetFolder::SetFolder(QWidget* owner, const QString& vaultBase, bool copy,
    std::function<void(const QString& destination)> file, std::function<void(SetFolder*)> closed)
    : QWidget(owner, Qt::Dialog)
    , m_vaultBase(vaultBase)
    , m_file(std::move(file))
    , m_closed(std::move(closed))
{
    setObjectName(QStringLiteral("SetFolder"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromUtf16(T::ChooserCaption));

    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    TreeView1 = new FolderTree(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    // Long box names scroll sideways instead of being cut short.
    TreeView1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    TreeView1->header()->setStretchLastSection(false);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAccessibleDescription(QString::fromUtf16(T::AccDestination));
    Label1->setFrameShape(QFrame::StyledPanel);
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Command1[0] = new QPushButton(this);
    Command1[0]->setObjectName(QStringLiteral("Command1_0"));
    Command1[0]->setDefault(true);
    Command1[1] = new QPushButton(QString::fromUtf16(T::CancelButton), this);
    Command1[1]->setObjectName(QStringLiteral("Command1_1"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1[0]);
    buttons->addWidget(Command1[1]);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label3);
    layout->addWidget(TreeView1, 1);
    layout->addWidget(Label1);
    layout->addLayout(buttons);
    resize(340, 440);
    // Over the main window, where the picture was chosen.
    if (owner)
        move(owner->frameGeometry().center() - rect().center());

    connect(TreeView1, &QTreeWidget::itemExpanded, this, &SetFolder::TreeView1_Expand);
    connect(TreeView1, &QTreeWidget::itemCollapsed, this, &SetFolder::TreeView1_Collapse);
    connect(TreeView1, &QTreeWidget::itemClicked, this, &SetFolder::TreeView1_NodeClick);
    // The highlight moved by the keyboard is the destination too, so what is highlighted
    // is always what the action button files into.
    connect(TreeView1, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current)
            TreeView1_NodeClick(current);
    });
    for (int i = 0; i < 2; ++i)
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    Form_Load(copy);
}

SetFolder::~SetFolder()
{
    // The tree outlives this part of the window: a change of its current node while it is
    // taken down must not reach the destination, already gone.
    disconnect(TreeView1, nullptr, this, nullptr);
}

FolderList& SetFolder::Dir1()
{
    return TreeView1->Dir1();
}

void SetFolder::Form_Load(bool copy)
{
    Label3->setText(QString::fromUtf16(copy ? T::CopyInstruction : T::MoveInstruction));
    Command1[0]->setText(QString::fromUtf16(copy ? T::CopyButton : T::MoveButton));
    const QString key = m_vaultBase + QString::fromUtf16(T::VaultRoot);
    TreeView1->addRoot(key, QString::fromUtf16(T::VaultRoot), QString::fromUtf16(FolderTree::FoldClose));
    TreeView1->TreeEnum({ key });
    TreeView1->setCurrentItem(TreeView1->topLevelItem(0));
    setDestination(QString::fromUtf16(T::VaultRoot));
}

void SetFolder::setDestination(const QString& treePath)
{
    // The label shows the path readably; the filing takes the names themselves.
    m_destination = treePath;
    Label1->setText(displayName(treePath));
    // A name of its own would replace the text a screen reader reads; it carries the path.
    Label1->setAccessibleName(QString::fromUtf16(T::AccDestinationOf).arg(Label1->text()));
}

void SetFolder::TreeView1_Expand(QTreeWidgetItem* node)
{
    if (node->parent())
        TreeView1->setImage(node, QString::fromUtf16(FolderTree::FoldOpen));
    // A box removed meanwhile simply shows nothing below it.
    if (!Dir1().setPath(m_vaultBase + TreeView1->treePath(node) + QLatin1Char('/')))
        return;
    TreeView1->TreeEnum(Dir1().folders());
}

void SetFolder::TreeView1_Collapse(QTreeWidgetItem* node)
{
    if (node->parent())
        TreeView1->setImage(node, QString::fromUtf16(FolderTree::FoldClose));
}

void SetFolder::TreeView1_NodeClick(QTreeWidgetItem* node)
{
    setDestination(TreeView1->treePath(node));
}

void SetFolder::Command1_Click(int index)
{
    if (index == 0 && m_busy && m_busy())
        return;
    // Closing deletes this window later; what the filing needs is taken out first.
    const QString destination = m_destination;
    const std::function<void(const QString&)> file = m_file;
    close();
    if (index == 0)
        file(destination);
}

void SetFolder::keyPressEvent(QKeyEvent* event)
{
    // Reached by the keys the focused control leaves alone. Enter presses the focused
    // button, else the action button; Esc is the cancel button.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            Command1[0]->click();
        return;
    case Qt::Key_Escape:
        Command1[1]->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void SetFolder::closeEvent(QCloseEvent* event)
{
    if (m_closed)
        m_closed(this);
    event->accept();
}

} // namespace ztv
