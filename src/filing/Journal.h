#pragma once

#include "display/PictureChoice.h"
#include "platform/FileOps.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace ztv {

class FileOps;

// One file or folder a filing step changed.
struct JournalEntry {
    QString from; // the place before the step (for a delete: where the file was)
    QString to; // the place after it (for a delete: the file in the trash)
    QString record; // a delete: the trash record that names the file's way back
    FileIdentity identity; // the file as it stands where the step (or its undo) left it
    FileIdentity source; // a copy: its source as copied; a redo copies it only while unchanged
    bool applied = true; // done (or redone) and not undone since
};

// One step the user took: a filing operation, a rename, a delete, a box change; a batch is
// one step.
struct JournalStep {
    enum class Kind { Move, Copy, Rename, Delete, BoxAdd, BoxRename, BoxDelete };
    enum class State {
        Begun, // written before the change, not yet marked done: a crash in between
        Done,
        Undone, // taken back (every entry it could)
        Interrupted, // begun, or an undo or redo begun, and never finished: never replayed
        Empty, // nothing of it was done
    };
    qint64 id = 0;
    Kind kind = Kind::Move;
    State state = State::Begun;
    qint64 time = 0; // seconds since the epoch, when it was begun
    QList<JournalEntry> entries;
};

// What an undo or a redo did.
struct JournalOutcome {
    bool none = true; // there was no step to take back or do again
    JournalStep step; // the step as it stands after
    int total = 0; // entries it acted on
    int done = 0;
    QStringList problems; // "name（reason）" for each entry left as it was
    QStringList folders; // the folders whose contents changed (full paths, no trailing "/")
};

// The journal of filing steps, kept in the user's data folder ($XDG_DATA_HOME/zentovi) so a
// step can be taken back after the program was closed and started again. Each step is written
// and flushed before the change and marked done after it; a step found begun but not done at
// the next start is reported once and never replayed. An undo never replaces a file: an
// original place that is taken, or a file that changed since, is left as it is and said so.
class FilingJournal {
public:
    // The journal in folder (made where missing); the default is the user's data folder.
    explicit FilingJournal(FileOps& ops, const QString& folder = QString());

    static QString defaultFolder();
    QString filePath() const { return m_file; }

    // Writes the step as begun before anything changes; the plan is what it means to do.
    qint64 begin(JournalStep::Kind kind, const QList<JournalEntry>& plan);
    // Marks it done with the entries actually done (an empty list: nothing was done).
    void finish(qint64 id, const QList<JournalEntry>& done);

    JournalOutcome undo();
    JournalOutcome redo();
    bool canUndo() const { return undoTarget() >= 0; }
    bool canRedo() const { return redoTarget() >= 0; }

    // The steps kept, oldest first (at least the last kKept).
    const QList<JournalStep>& steps() const { return m_steps; }
    // The steps found interrupted when the journal was read; each is reported once.
    QList<JournalStep> takeInterrupted();

    static constexpr int kKept = 100;

    // False once a record could not be written (a full or read-only disk): the steps still run,
    // but may not be undoable. tellFailure() is true the first time only, so it is said once.
    bool writing() const { return m_writing; }
    bool tellFailure() { return !m_writing && !std::exchange(m_told, true); }

    // The entry's identity: the file at path now; an empty identity when none.
    static FileIdentity identityAt(const QString& path);
    // The folder that holds path (no trailing "/").
    static QString folderOf(const QString& path);

private:
    void load();
    void append(const QByteArray& line);
    void rewrite();
    int undoTarget() const;
    int redoTarget() const;
    JournalStep* find(qint64 id);
    bool revert(JournalStep::Kind kind, JournalEntry& e, QString* reason);
    bool reapply(JournalStep::Kind kind, JournalEntry& e, QString* reason);
    JournalOutcome act(int index, bool undo);

    FileOps& m_ops;
    QString m_folder;
    QString m_file;
    QList<JournalStep> m_steps;
    QList<JournalStep> m_interrupted;
    qint64 m_next = 1;
    bool m_writing = true;
    bool m_told = false;
};

} // namespace ztv
