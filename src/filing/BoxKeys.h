#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace ztv {

class FileOps;

// The keys 1-9 given to boxes of the vault, kept in the user's configuration
// ($XDG_CONFIG_HOME/zentovi/boxkeys) by the box's path below the vault ("旅行/京都"; "" for the
// vault itself), so they survive a restart and follow a box renamed in the program.
//
// The file is read without following a link, only when it is a regular file of at most
// MaxFileSize bytes; a line naming no box below the vault is dropped. A file found broken so is
// moved aside (boxkeys.broken) and written anew with the keys that held. Several windows may
// share the file: each change is made under a lock on boxkeys.lock, on the file as read again
// then, so no window drops another's key.
class BoxKeys : public QObject {
    Q_OBJECT
public:
    explicit BoxKeys(FileOps& ops, const QString& folder = QString(), QObject* parent = nullptr);

    static QString defaultFolder();
    static constexpr qint64 MaxFileSize = 256 * 1024;

    // Whether boxPath can name the vault ("") or a box below it: relative, with no empty, "."
    // or ".." part and no NUL. Says nothing of the disk.
    static bool isBoxPath(const QString& boxPath);
    // The folder of that box (vaultFolder + "/" + boxPath), once it is a folder whose real path,
    // links resolved, is the vault's or lies below it; none for a box gone or leading outside.
    static std::optional<QString> folderInVault(const QString& vaultFolder, const QString& boxPath);

    // The box path of that key; none when the key is free.
    std::optional<QString> boxOf(int key) const;
    // The key of that box; 0 when it has none.
    int keyOf(const QString& boxPath) const;
    const QMap<int, QString>& all() const { return m_keys; }
    // Where a broken file found at start was moved; "" when none was.
    QString setAside() const { return m_setAside; }

    // Each gives false when the keys could not be saved (they still hold in the program).
    bool assign(int key, const QString& boxPath); // the box's former key, if any, is freed
    bool remove(const QString& boxPath);
    // A box renamed or moved in the program: its key, and its sub-boxes' keys, follow it.
    bool boxRenamed(const QString& from, const QString& to);
    // A box deleted in the program loses its key.
    bool boxDeleted(const QString& boxPath);

Q_SIGNALS:
    // The keys held changed: by a change made here, or by another window's found on reading
    // the file again for one.
    void changed();

private:
    using Keys = QMap<int, QString>;
    enum class Read { Ok, Missing, Broken };
    // The keys of the file as it is now; Broken still gives the lines that held.
    static Read read(const QString& path, Keys& keys);
    // changeFile, then changed() when the keys held differ afterwards.
    bool change(const std::function<bool(Keys&)>& edit);
    // Under the lock: the file read again (set aside and written anew when broken), then edit
    // applied to it and saved when it tells of a change.
    bool changeFile(const std::function<bool(Keys&)>& edit);
    bool save(const Keys& keys);

    FileOps& m_ops;
    QString m_folder;
    QString m_file;
    Keys m_keys;
    QString m_setAside;
};

} // namespace ztv
