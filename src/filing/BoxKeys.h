#pragma once

#include <QMap>
#include <QString>
#include <optional>

namespace ztv {

class FileOps;

// The keys 1-9 given to boxes of the vault, kept in the user's configuration
// ($XDG_CONFIG_HOME/zentovi/boxkeys) by the box's path below the vault ("旅行/京都"; "" for the
// vault itself), so they survive a restart and follow a box renamed in the program.
class BoxKeys {
public:
    explicit BoxKeys(FileOps& ops, const QString& folder = QString());

    static QString defaultFolder();

    // The box path of that key; none when the key is free.
    std::optional<QString> boxOf(int key) const;
    // The key of that box; 0 when it has none.
    int keyOf(const QString& boxPath) const;
    const QMap<int, QString>& all() const { return m_keys; }

    // Each gives false when the keys could not be saved (they still hold in the program).
    bool assign(int key, const QString& boxPath); // the box's former key, if any, is freed
    bool remove(const QString& boxPath);
    // A box renamed or moved in the program: its key, and its sub-boxes' keys, follow it.
    bool boxRenamed(const QString& from, const QString& to);
    // A box deleted in the program loses its key.
    bool boxDeleted(const QString& boxPath);

private:
    bool save();

    FileOps& m_ops;
    QString m_file;
    QMap<int, QString> m_keys;
};

} // namespace ztv
