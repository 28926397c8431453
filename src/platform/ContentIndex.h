#pragma once

#include <QByteArray>
#include <QHash>
#include <QMultiHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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
class ContentIndex : public QObject {
    Q_OBJECT
public:
    // vaultRoot: the vault folder, without a trailing "/". cacheFile: where the index is kept
    // between runs ("" keeps it nowhere).
    ContentIndex(QString vaultRoot, QString cacheFile, QObject* parent = nullptr);
    ~ContentIndex() override;

    // $XDG_CACHE_HOME/zentovi (or ~/.cache/zentovi), one file per vault folder.
    static QString defaultCacheFile(const QString& vaultRoot);

    const QString& vaultRoot() const { return m_root; }

    // The worker runs at the lowest priority unless told otherwise before start (the
    // benchmark measures the work itself that way).
    void setLowPriority(bool low) { m_lowPriority = low; }
    // Loads what the last run kept, then brings it up to date; in the background.
    void start();
    // Compares the vault's folders with the index and rebuilds it where they differ (a vault
    // listing asks this; it costs one stat per folder).
    void checkForOutsideChanges();
    // The program changed this path below the vault (a file copied in or deleted, a box
    // deleted): it is looked at again. Paths outside the vault are ignored.
    void pathChanged(const QString& path);
    // The program moved or renamed a file or a box; either side may be outside the vault.
    void pathMoved(const QString& from, const QString& to);

    // Which of files have their content in the vault: copyFound for each one that has, in
    // list order, then lookUpDone; both on this object's thread. A later lookUp on the same
    // channel (one per tab) ends an earlier one. Gives the ticket the answers carry.
    quint64 lookUp(const QStringList& files, int channel = 0);

    // Now, on the calling thread: for each file a vault file with the same bytes, or "". Uses
    // the index when it is complete and nothing is waiting; otherwise walks the vault once and
    // compares the files of the same size, so the answer never depends on how far a build got.
    QStringList copiesInVault(const QStringList& files) const;

    // Whether no task is waiting or running (tests and the benchmark wait for it).
    bool idle() const;
    int fileCount() const;
    // Full walks of the vault done since construction (the first build counts).
    int buildCount() const { return m_builds.load(); }

    // Both files readable and equal byte for byte.
    static bool sameBytes(const QString& a, const QString& b);

Q_SIGNALS:
    void copyFound(quint64 ticket, int position, const QString& file, const QString& vaultCopy);
    void lookUpDone(quint64 ticket);
    void built();

private:
    struct Entry {
        qint64 size = 0;
        qint64 mtime = 0; // ns
        quint64 device = 0;
        quint64 inode = 0;
        QByteArray hash;
    };

    void post(std::function<void()> task);
    void workerLoop();
    bool stopping() const { return m_stop.load(); }

    // Worker side.
    void load();
    void save();
    bool foldersChanged() const;
    void rebuild();
    void refreshFile(const QString& path);
    void moveEntries(const QString& from, const QString& to);
    void noteFolder(const QString& folder);
    void runLookUp(quint64 ticket, int channel, const QStringList& files);
    void lookUpTask(quint64 ticket, int channel, const QStringList& files);
    // Rebuilds when the folders changed. False when that has to wait behind the program's
    // own changes not yet applied: again then runs once they are.
    bool checked(const std::function<void()>& again);
    void ownChange(std::function<void()> apply);
    bool superseded(quint64 ticket, int channel) const;
    QString confirmedCopy(const QString& file, const QList<QString>& candidates) const;
    bool insideVault(const QString& path) const;

    static QByteArray fastHash(const QString& path, qint64* size);
    static QByteArray contentKey(qint64 size, const QByteArray& hash);
    void putLocked(const QString& path, const Entry& e);
    void takeLocked(const QString& path);

    const QString m_root;
    const QString m_cacheFile;

    // The index; the worker changes it, any thread reads it under the lock.
    mutable QMutex m_lock;
    QHash<QString, Entry> m_files; // full path
    QMultiHash<QByteArray, QString> m_byContent; // contentKey -> full path
    QHash<QString, qint64> m_folders; // full path -> mtime (ns) when last read
    bool m_complete = false; // a build (or a loaded index found current) is behind it
    bool m_dirty = false; // differs from the cache file

    mutable std::mutex m_queueLock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_running = false;
    bool m_lowPriority = true;
    std::atomic<bool> m_stop { false };
    quint64 m_lastTicket = 0; // under m_queueLock
    QHash<int, quint64> m_channelTickets; // under m_queueLock
    std::atomic<int> m_builds { 0 };
    std::atomic<int> m_ownPending { 0 }; // own changes posted and not yet applied
    std::vector<std::function<void()>> m_deferred; // worker only
    std::thread m_worker;
};

} // namespace ztv
