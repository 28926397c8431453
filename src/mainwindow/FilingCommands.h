#pragma once

#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace ztv {

class BoxKeyCommands;
class BoxKeys;
class FileOps;
class FilingJournal;
class OperationContext;
class UndoRedo;
class VaultTransfer;

// Undo, redo, the history window and the box keys 1-9: the journal and the key file they work
// on, and the box menu's items that give a key.
class FilingCommands {
public:
    // Makes an action that runs run, with the window's caption and menu conventions.
    using MakeCommand = std::function<QAction*(const char16_t* caption, std::function<void()> run)>;

    FilingCommands(FileOps& ops, VaultTransfer& transfer);
    ~FilingCommands();

    // The box menu's items that give a key, in a submenu put before the undo group; undo, redo
    // and history are the window's commands (CommandTable), kept here to be found with them.
    struct HistoryActions {
        QAction* undo;
        QAction* redo;
        QAction* history;
    };
    void buildActions(
        OperationContext& context, const MakeCommand& command, QMenu* boxMenu, HistoryActions history);
    // A digit pressed on a browsing tab: files the choice into that key's box. False when the
    // key is given to no box, so the key does what it did before.
    bool boxKeyPressed(OperationContext& context, int key);

    FilingJournal* journal() { return m_journal.get(); }
    BoxKeys* boxKeys() { return m_boxKeys.get(); }
    UndoRedo& undoRedo() { return *m_undoRedo; }
    BoxKeyCommands& boxKeyCommands() { return *m_boxKeyCommands; }
    QAction* Undo() const { return m_Undo; }
    QAction* Redo() const { return m_Redo; }
    QAction* History() const { return m_History; }
    // Index 0: the item that frees the box's key.
    QAction* BoxKey(int key) const { return m_BoxKey[key]; }

private:
    std::unique_ptr<FilingJournal> m_journal;
    std::unique_ptr<BoxKeys> m_boxKeys;
    std::unique_ptr<UndoRedo> m_undoRedo;
    std::unique_ptr<BoxKeyCommands> m_boxKeyCommands;
    QAction *m_Undo = nullptr, *m_Redo = nullptr, *m_History = nullptr;
    QAction* m_BoxKey[10] {};
};

} // namespace ztv
