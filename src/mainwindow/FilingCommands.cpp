#include "mainwindow/FilingCommands.h"

#include "display/BrowseRun.h"
#include "display/OperationContext.h"
#include "filing/BoxKeyCommands.h"
#include "filing/BoxKeys.h"
#include "filing/History.h"
#include "filing/Journal.h"
#include "filing/texts.h"
#include "mainwindow/texts.h"

#include <QAction>
#include <QMenu>

namespace ztv {

FilingCommands::FilingCommands(FileOps& ops, VaultTransfer& transfer)
    : m_journal(std::make_unique<FilingJournal>(ops))
    , m_boxKeys(std::make_unique<BoxKeys>(ops))
    , m_undoRedo(std::make_unique<UndoRedo>())
    , m_boxKeyCommands(std::make_unique<BoxKeyCommands>(transfer))
{
}

FilingCommands::~FilingCommands() = default;

void FilingCommands::buildActions(
    OperationContext& context, const MakeCommand& command, QMenu* boxMenu, HistoryActions history)
{
    m_Undo = history.undo;
    m_Redo = history.redo;
    m_History = history.history;
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
    // Between the box items and the undo group, each set apart by a line.
    boxMenu->insertMenu(m_Undo, keyMenu);
    boxMenu->insertSeparator(m_Undo);
}

bool FilingCommands::boxKeyPressed(OperationContext& context, int key)
{
    if (!context.currentArea() || BoxKeyCommands::treePathOf(context, key).isEmpty())
        return false;
    // A box key is a command: while another operation is under way it does nothing.
    if (const BrowseRun::Hold hold(context.operationRun()); hold)
        m_boxKeyCommands->press(context, key);
    return true;
}

} // namespace ztv
