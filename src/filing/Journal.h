#pragma once

#include "display/PictureChoice.h"
#include "platform/FileOps.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

namespace ztv {

class FileOps;

// One file or folder a filing step changed.
struct JournalEntry {
    JournalEntry() = default;
    JournalEntry(
        QString from, QString to, QString record, FileIdentity identity, FileIdentity source, bool applied)
        : from(std::move(from))
        , to(std::move(to))
        , record(std::move(record))
        , identity(identity)
        , source(source)
        , applied(applied)
    {
    }
    QString from; // the place before the step (for a delete: where the file was)
    QString to; // the place after it (for a delete: the file in the trash)
    QString record; // a delete: the trash record that names the file's way back
    // The file as it stands where the step (or its undo) left it; for a box, the folder (its
    // device and inode only).
    FileIdentity identity;
    FileIdentity source; // a copy: its source as copied; a redo copies it only while unchanged
    // The folders that hold from and to (device and inode); none in older journals.
    FileIdentity fromFolder;
    FileIdentity toFolder;
    bool applied = true; // done (or redone) and not undone since
};

// One step the user took: a filing operation, a rename, a delete, a box change; a batch is
// one step.
struct JournalStep {
    enum class Kind { Move, Copy, Rename, Delete, BoxAdd, BoxRename, BoxDelete };
    enum class State {
        Begun, // written before the change, not yet marked done: under way, or a crash in between
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
    // An undo (of a done step) or a redo (of an undone one) that could act on none of its
    // entries: the step is passed over from then on, so older steps stay within reach.
    bool blocked = false;
    // Undone and not yet followed by a new step: a new step ends the chance to redo.
    bool redoable = true;
    QString owner; // the process that began it, or an undo or redo of it ("pid:start")
};

// What an undo or a redo did.
struct JournalOutcome {
    bool none = true; // there was no step to take back or do again
    bool stale = false; // the step the caller showed is no longer the one to take: nothing done
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
//
// The file is shared by every window on the home: each change is written under a lock
// (journal.lock) after reading what the others wrote since, so step ids stay unique. It is
// read without following links, only as a regular file of at most kMaxBytes; anything else
// there, or a file that is not a journal, is moved aside (journal.broken) and a new one begun.
// Every place read from it is checked before use: below the storage root's stock yard or vault,
// or in a trash of the file's own disk, with the identity of each file and folder it touches.
// The one place outside the storage root: a file deleted from a removable medium (another
// disk than the root's and the home's) into that medium's own trash, and back.
class FilingJournal {
public:
    // The journal in folder (made where missing); the default is the user's data folder.
    explicit FilingJournal(FileOps& ops, const QString& folder = QString());

    static QString defaultFolder();
    QString filePath() const { return m_file; }

    // The storage root the steps act in (with or without a trailing "/"); without one, no
    // step is written, undone or redone.
    void setStorageRoot(const QString& root);

    // Writes the step as begun before anything changes; the plan is what it means to do.
    // 0 (nothing written) when the plan names a place outside the storage root.
    qint64 begin(JournalStep::Kind kind, const QList<JournalEntry>& plan);
    // Marks it done with the entries actually done (an empty list: nothing was done).
    void finish(qint64 id, const QList<JournalEntry>& done);

    // The last step done (undo) or the last one undone (redo). expected, where not 0, is the
    // step the caller showed: another one is not acted on (the outcome says stale).
    JournalOutcome undo(qint64 expected = 0);
    JournalOutcome redo(qint64 expected = 0);
    bool canUndo() const { return undoTarget() >= 0; }
    bool canRedo() const { return redoTarget() >= 0; }
    qint64 undoStep() const;
    qint64 redoStep() const;

    // The steps kept, oldest first (at least the last kKept).
    const QList<JournalStep>& steps() const { return m_steps; }
    // The steps found interrupted when the journal was read; each is reported once.
    QList<JournalStep> takeInterrupted();

    // Reads what another window wrote since; true when the steps changed. Does nothing while an
    // undo or redo of this journal is under way (a timer run while its disk call waits aside).
    bool refresh();
    // Called after every change of the steps, this window's own or another's read here.
    void setOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }

    static constexpr int kKept = 300;
    static constexpr qint64 kMaxBytes = qint64(64) << 20; // larger is not read at all
    static constexpr qint64 kCompactBytes = qint64(8) << 20; // written again, shorter, past this

    // False once a record could not be written (a full or read-only disk): the steps still run,
    // but may not be undoable. tellFailure() is true the first time only, so it is said once.
    bool writing() const { return m_writing; }
    bool tellFailure() { return !m_writing && !std::exchange(m_told, true); }
    // Where an unreadable journal was moved aside; empty when none, or when said already.
    QString takeMovedAside() { return std::exchange(m_movedAside, {}); }

    // The entry's identity: the file at path now; an empty identity when none.
    static FileIdentity identityAt(const QString& path);
    // A folder's identity (device and inode; a link is followed only where asked); empty when
    // there is none.
    static FileIdentity folderIdentityAt(const QString& path, bool followLinks = false);
    // The folder that holds path (no trailing "/").
    static QString folderOf(const QString& path);

    // The file as last read or written: what tells that another window changed it.
    struct Stamp {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    // The steps as the file tells them.
    struct Model {
        QList<JournalStep> steps;
        qint64 maxId = 0;
        qint64 records = 0; // lines in the file
        qint64 offset = 0; // bytes read: the end of the last whole line
        bool corrupt = false;
    };

private:
    class Lock;
    void sync(bool atStart);
    void readFile(bool whole, bool atStart);
    void moveAside();
    bool append(const QByteArray& lines);
    bool replaceWith(const QByteArray& all);
    bool dropBegun(qint64 id);
    void compactIfLong();
    void notify();
    int undoTarget() const;
    int redoTarget() const;
    JournalStep* find(qint64 id);
    JournalOutcome act(bool undo, qint64 expected);
    QString check(const JournalStep& step, const JournalEntry& e, bool undo) const;
    bool placeText(const QString& path) const;
    bool inArea(const QString& path) const;
    bool planAllowed(JournalStep::Kind kind, const QList<JournalEntry>& plan) const;
    QString trashCheck(const JournalEntry& e) const;
    QString mediumTop(const QString& path) const;
    bool inMediumTrash(const JournalEntry& e) const;
    bool revert(JournalStep::Kind kind, JournalEntry& e, QString* reason);
    bool reapply(JournalStep::Kind kind, JournalEntry& e, QString* reason);

    FileOps& m_ops;
    QString m_folder;
    QString m_file;
    QString m_root; // the storage root, no trailing "/"
    Model m_model;
    QList<JournalStep>& m_steps = m_model.steps;
    Stamp m_stamp;
    // The begin record written last here and where it lies, so a step that did nothing can
    // be taken out of the file again.
    struct Begun {
        qint64 id = 0;
        Stamp file; // the file just after it was written
        QByteArray text;
    } m_begun;
    QList<JournalStep> m_interrupted;
    std::function<void()> m_onChange;
    QString m_movedAside;
    bool m_changed = false;
    bool m_readOnly = false; // not locked: never truncated nor moved aside
    bool m_writing = true;
    bool m_told = false;
    int m_acting = 0; // an undo or redo under way, its disk calls perhaps waiting aside
};

} // namespace ztv
