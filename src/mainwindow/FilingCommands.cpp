#include "mainwindow/FilingCommands.h"

#include "display/OperationContext.h"
#include "filing/BoxKeyCommands.h"
#include "filing/BoxKeys.h"
#include "filing/History.h"
#include "filing/Journal.h"
#include "filing/texts.h"
#include "mainwindow/texts.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace ztv {

FilingCommands::FilingCommands(FileOps& ops, VaultTransfer& transfer)
    : m_journal(std::make_unique<FilingJournal>(ops))
    , m_boxKeys(std::make_unique<BoxKeys>(ops))
    , m_undoRedo(std::make_unique<UndoRedo>())
    , m_boxKeyCommands(std::make_unique<BoxKeyCommands>(transfer))
{
}

FilingCommands::~FilingCommands() = default;

void FilingCommands::buildActions(QWidget& window, OperationContext& context, const MakeCommand& command,
    QMenu* boxMenu, QMenu* emptyListMenu)
{
    UndoRedo& undo = *m_undoRedo;
    m_Undo = command(filingtexts::HistoryUndo, [&context, &undo] { undo.undo(context); });
    m_Undo->setObjectName(QStringLiteral("Undo"));
    m_Undo->setShortcut(QKeySequence::Undo);
    m_Redo = command(filingtexts::HistoryRedo, [&context, &undo] { undo.redo(context); });
    m_Redo->setObjectName(QStringLiteral("Redo"));
    m_Redo->setShortcuts(
        { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y) });
    m_History = command(texts::HistoryItem, [&context, &undo] { undo.showHistory(context); });
    m_History->setObjectName(QStringLiteral("History"));
    for (QAction* a : { m_Undo, m_Redo }) {
        a->setShortcutContext(Qt::WindowShortcut);
        window.addAction(a);
    }

    BoxKeyCommands& keys = *m_boxKeyCommands;
    QMenu* keyMenu = new QMenu(QString::fromUtf16(filingtexts::KeyMenu), boxMenu);
    keyMenu->setObjectName(QStringLiteral("menu_Keys"));
    for (int k = 1; k <= 9; ++k) {
        m_BoxKey[k] = command(filingtexts::KeyAssign, [&context, &keys, k] { keys.assign(context, k); });
        m_BoxKey[k]->setText(QString::fromUtf16(filingtexts::KeyAssign).arg(k));
        m_BoxKey[k]->setObjectName(QStringLiteral("BoxKey%1").arg(k));
        keyMenu->addAction(m_BoxKey[k]);
    }
    keyMenu->addSeparator();
    m_BoxKey[0] = command(filingtexts::KeyRemove, [&context, &keys] { keys.remove(context); });
    m_BoxKey[0]->setObjectName(QStringLiteral("BoxKey0"));
    keyMenu->addAction(m_BoxKey[0]);
    // The items tell which box each key has now, and whether it is still there.
    QObject::connect(boxMenu, &QMenu::aboutToShow, keyMenu, [this, &context] {
        for (int k = 1; k <= 9; ++k)
            m_BoxKey[k]->setText(BoxKeyCommands::itemText(context, k));
    });
    boxMenu->addSeparator();
    boxMenu->addMenu(keyMenu);
    for (QMenu* m : { boxMenu, emptyListMenu }) {
        m->addSeparator();
        m->addActions({ m_Undo, m_Redo, m_History });
    }
}

bool FilingCommands::boxKeyPressed(OperationContext& context, int key)
{
    if (!context.currentArea() || BoxKeyCommands::treePathOf(context, key).isEmpty())
        return false;
    m_boxKeyCommands->press(context, key);
    return true;
}

} // namespace ztv
