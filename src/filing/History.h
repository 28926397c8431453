#pragma once

#include "filing/Journal.h"

#include <QHash>
#include <QPointer>

#include <QDialog>
#include <QListWidget>

namespace ztv {

class OperationContext;
struct StoragePaths;

// A filing step written to the journal for as long as it lives: begun when made (before the
// change), marked done with what was done when it ends, whatever way the operation returns.
class StepRecord {
public:
    StepRecord(OperationContext& context, JournalStep::Kind kind, const QList<JournalEntry>& plan);
    ~StepRecord();
    StepRecord(const StepRecord&) = delete;
    StepRecord& operator=(const StepRecord&) = delete;

    // A file moved or renamed; a file copied (source as it was before); a file trashed; a
    // folder made, removed or renamed.
    void moved(const QString& from, const QString& to);
    void copied(const QString& from, const QString& to, const FileIdentity& source);
    void trashed(const QString& from, const TrashedFile& where);
    void folder(const QString& from, const QString& to = QString());

    // A plan of files going into a folder (to empty: staying where they are).
    static QList<JournalEntry> plan(const QStringList& files, const QString& toFolder = QString());

    // The step's id in the journal; 0 when none was written.
    qint64 id() const { return m_id; }

private:
    // The identity of the folder that holds path, asked once per folder for a batch.
    FileIdentity folderOf(const QString& path);

    FilingJournal* m_journal = nullptr;
    qint64 m_id = 0;
    QList<JournalEntry> m_done;
    QHash<QString, FileIdentity> m_folders;
};

// Undo and redo of the journal's steps, the report of a step a crash interrupted and the
// history window.
class UndoRedo {
public:
    ~UndoRedo();
    void undo(OperationContext& context);
    void redo(OperationContext& context);
    // At start: the steps begun and never finished, and a journal put aside, told once.
    void reportInterrupted(OperationContext& context);
    void showHistory(OperationContext& context);
    QDialog* historyWindow() const { return m_history.data(); }
    QListWidget* historyList() const { return m_list.data(); }

    // A step in words ("写真1.jpg を 旅行 へ移動").
    static QString words(const JournalStep& step);

private:
    // expected: the step the history window shows as the one to take (-1: none); 0 for the keys.
    void act(OperationContext& context, bool undo, qint64 expected);
    void fillHistory(OperationContext& context);

    QPointer<QDialog> m_history;
    QPointer<QListWidget> m_list;
    FilingJournal* m_watched = nullptr; // the journal the window follows
    qint64 m_shownUndo = -1;
    qint64 m_shownRedo = -1;
};

// Says once that the journal could not be written, or was unreadable and put aside.
void tellJournalTrouble(OperationContext& context, FilingJournal& journal);

} // namespace ztv
