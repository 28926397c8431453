#pragma once

#include "FolderListing.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <vector>

namespace ztv {

// One file's outcome, handed from a decoding thread to the user-interface thread.
struct ThumbnailResult {
    enum Status {
        Made = 0, // image holds the thumbnail
        Unreadable = 1, // not a picture, corrupt, too large, not a regular file: counted, not listed
        Vanished = 2, // gone between listing and reading: neither counted nor listed
    };
    QString path;
    QImage image;
    int status = Unreadable;
    FileStamp stamp {}; // taken before the picture was made, where the browse stamps as it goes
};

// Reads a folder's files in the order a file manager shows them and makes a thumbnail of
// each. Decoding may run on worker threads; ThumbnailReady is always emitted on the thread
// that called BrowseFolder, once per file, in name order, before BrowseFolder returns.
class ThumbnailBrowser : public QObject {
    Q_OBJECT
public:
    static constexpr int ResultOk = 0;
    static constexpr int ResultCancelled = 20100;
    static constexpr int ResultFolderUnreadable = 20007; // the folder is missing or cannot be listed
    // A run whose threads all wait in calls that do not return (a phone or card pulled out
    // mid-read) for this long ends as unreadable; the stuck threads are left behind. A single
    // call that is only slow (a camera whose mount fetches a large video whole on opening it)
    // looks the same, hence seconds, not less.
    static constexpr int StallLimitMs = 10000;

    explicit ThumbnailBrowser(QObject* parent = nullptr);
    ~ThumbnailBrowser() override;

    // Fixed settings made once at start; the program uses "*.*", seven flags and two integers.
    void setFileFilter(const QString& filter);
    QString fileFilter() const;

    void setThumbnailSize(const QSize& size); // pictures are fitted into this box (default 100 x 100)
    QSize thumbnailSize() const;

    // 0 when the run completed, 20100 when ContinueBrowsing was set false, else an error code.
    int BrowseFolder(const QString& folder);

    // The folder's files as the last BrowseFolder or listNames found them, each with its stamp
    // taken before its picture was made; empty after a run that did not list the folder.
    // BrowseFolder stamps each file as it reaches it (a stopped run has fewer stamps than
    // paths), and where the file system gives no entry types, a folder may be among its paths
    // (reported Vanished): on a card or phone every stat is a round trip, and the first page
    // must not wait for thousands of them.
    const QStringList& listedPaths() const { return m_listedPaths; }
    const std::vector<FileStamp>& listedStamps() const { return m_listedStamps; }
    // Only the names (and stamps) of the folder's files, as BrowseFolder would list them:
    // 0, 20100 (stopped) or 20007.
    int listNames(const QString& folder);
    // The thumbnails of paths, in that order, handed to each (on this thread), as BrowseFolder
    // makes them (BrowseStarted first): 0 when all were made, 20100 when stopped.
    int makeEach(const QStringList& paths, const std::function<void(ThumbnailResult&)>& each);

    // Set by the ThumbnailReady handler; false stops the run after the current file.
    void setContinueBrowsing(bool on);
    bool continueBrowsing() const;

    // Asked during every event pass while the run waits for a decode; true ends the run as
    // ContinueBrowsing false does, at once, without waiting for the decode (an Esc watch).
    void setCancelCheck(std::function<bool()> check);

    // Files the running browse will examine (valid from BrowseStarted on); untyped folders
    // among them are found as their turn comes (see listedPaths).
    int filesInRun() const;

    // How long a run may see no thread of its own at work before it ends (StallLimitMs).
    void setStallLimit(int ms);

    // Decoding threads; 0 (the default) means one per core.
    void setWorkerCount(int count);
    int workerCount() const;

    // The shared thumbnail cache: its "thumbnails" folder (default $XDG_CACHE_HOME/thumbnails;
    // empty turns the cache off), whether entries are read and written, and the test that
    // decides whether a file lies on writable storage (entries are written only for those).
    void setCacheFolder(const QString& root);
    QString cacheFolder() const;
    void setCacheReading(bool on);
    void setCacheWriting(bool on);
    void setWritableStorageCheck(std::function<bool(const QString& path)> check);
    // The program deleted a file, or renamed or moved it: its cache entries go, or follow it,
    // so that a later file of the same name and time never shows this one's thumbnail. A new
    // file of a name drops whatever was kept for that name.
    void dropCacheEntries(const QString& path) const;
    void moveCacheEntries(const QString& from, const QString& to) const;

Q_SIGNALS:
    void BrowseStarted(int fileCount);
    void ThumbnailReady(const QImage& bitmap, const QString& path, int status);

private:
    enum class Listed { Ok, Unreadable, Stopped };
    // The folder's files as listFolderFiles gives them, read on a thread of their own; with
    // stamps, each file stamped there too (folders among unknown types left out).
    Listed listOffThread(const QString& folder, QStringList* paths, std::vector<FileStamp>* stamps);
    // A new run's start: its counts reset and the folder's names listed (with each file's stamp
    // when withStamps); ResultOk, or why not.
    int startRun(const QString& folder, bool withStamps);
    int makeAll(const QStringList& paths, bool stamping, const std::function<void(ThumbnailResult&)>& each);

    QString m_filter = QStringLiteral("*.*");
    std::array<bool, 7> m_flags {};
    std::array<int, 2> m_ints {};
    QSize m_size { 100, 100 };
    bool m_continue = true;
    int m_filesInRun = 0;
    int m_workers = 0;
    int m_stallMs = StallLimitMs;
    QString m_cacheRoot;
    bool m_cacheRead = true;
    bool m_cacheWrite = true;
    std::function<bool(const QString&)> m_writableStorage;
    std::function<bool()> m_cancelCheck;
    QStringList m_listedPaths;
    std::vector<FileStamp> m_listedStamps;
};

} // namespace ztv
