#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace ztv {

// What the vault holds, by content: for every file below the vault its size and a fast hash
// (of the size, the first and the last 64 KiB), so a picture elsewhere can be found in the
// vault without reading the vault. A hash only points at a candidate: a copy is reported only
// after the two files were compared byte for byte.
//
// All the work runs on one thread of its own at idle priority (CPU and disk), one task after
// another, so a listing or a thumbnail decode never waits on it. The index is kept in the
// cache folder between runs; at start and on each check the vault's folder times are
// compared with the ones kept, and a difference (a change made outside the program) rebuilds
// it, reusing the hash of every file whose device, inode, size and time are unchanged. A
// change of the program's own made while such a check still waits to run may be taken for
// one from outside: that costs a walk, never a wrong answer.
//
// The program's own changes take effect at once: what left a place is forgotten on the
// caller's thread (no disk touched), and the worker learns the new places after it. The worker
// and its state outlive this object when it is destroyed mid-task: it stops between two files
// and is never waited for, so closing never waits on a slow disk.
class ContentIndex : public QObject {
    Q_OBJECT
public:
    // vaultRoot: the vault folder, without a trailing "/". cacheFile: where the index is kept
    // between runs ("" keeps it nowhere).
    ContentIndex(QString vaultRoot, QString cacheFile, QObject* parent = nullptr);
    ~ContentIndex() override;

    // $XDG_CACHE_HOME/zentovi (or ~/.cache/zentovi), one file per vault folder.
    static QString defaultCacheFile(const QString& vaultRoot);
    // A cache file larger than this is not read (moved aside as damaged).
    static constexpr qint64 CacheSizeLimit = 256 * 1024 * 1024;

    const QString& vaultRoot() const;

    // The worker runs at the lowest priority unless told otherwise before start (the
    // benchmark measures the work itself that way).
    void setLowPriority(bool low);
    // Loads what the last run kept, then brings it up to date; in the background.
    void start();
    // Ends the work: what is waiting is dropped, a task running stops at its next file, and
    // nothing unfinished is kept. Returns at once.
    void stop();
    bool stopped() const;
    // Compares the vault's folders with the index and rebuilds it where they differ (a vault
    // listing asks this; it costs one stat per folder).
    void checkForOutsideChanges();
    // The program changed this path below the vault (a file copied in or deleted, a box
    // deleted or made again): what the index held there is forgotten now, and the worker
    // looks at it again. Paths outside the vault are ignored.
    void pathChanged(const QString& path);
    // The program moved or renamed a file or a box; either side may be outside the vault.
    // The index follows at once.
    void pathMoved(const QString& from, const QString& to);

    // Which of files have their content in the vault: copyFound for each one that has, in
    // list order, then lookUpDone; both on this object's thread. A later lookUp on the same
    // channel (one per tab) ends an earlier one. After the program's own changes, the last
    // look-up of every channel is answered again under its ticket. Gives the ticket the
    // answers carry.
    quint64 lookUp(const QStringList& files, int channel = 0);

    // Now, on the calling thread: for each file a vault file with the same bytes, or "" (a
    // file that lies in the vault is its own copy). Answers from what the index holds, however
    // far it got, never walking the vault: the candidates of the same size and hash, and the
    // files of the same size the program filed that the worker has not read yet. Reads the
    // files and the candidates: call it aside.
    QStringList copiesInVault(const QStringList& files) const;

    // Whether no task is waiting or running (tests and the benchmark wait for it).
    bool idle() const;
    int fileCount() const;
    // Full walks of the vault done since construction (the first build counts).
    int buildCount() const;
    // Whether a complete index is behind the answers (a build finished or the kept one found
    // current).
    bool complete() const;

    // Both files readable and equal byte for byte. CopyFromDisk: copy's cached pages are dropped
    // first, so what is compared is what copy's disk holds, not memory; neither may grow while
    // read, and a file is never its own copy (one file under two paths, as a bind mount shows it).
    enum class Read { Cached, CopyFromDisk };
    static bool sameBytes(const QString& a, const QString& copy, Read how = Read::Cached);

    struct Core;

Q_SIGNALS:
    void copyFound(quint64 ticket, int position, const QString& file, const QString& vaultCopy);
    void lookUpDone(quint64 ticket);
    void built();
    // The program's own change took these files or folders from where they were (on the
    // calling thread, at once): a mark naming one of them, or a file below one, is stale.
    void forgotten(const QStringList& paths);

private:
    std::shared_ptr<Core> m_core;
};

} // namespace ztv
