#include "filing/BoxKeys.h"

#include "platform/FileOps.h"
#include "platform/PathCodec.h"

#include <QDir>
#include <QFile>

namespace ztv {

BoxKeys::BoxKeys(FileOps& ops, const QString& folder)
    : m_ops(ops)
    , m_file((folder.isEmpty() ? defaultFolder() : folder) + QStringLiteral("/boxkeys"))
{
    // One "key<TAB>path" a line, the path's bytes percent-encoded.
    QFile f(m_file);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype tab = line.indexOf('\t');
        const int key = tab == 1 ? line.left(1).toInt() : 0;
        if (key >= 1 && key <= 9)
            m_keys.insert(key, decodePath(QByteArray::fromPercentEncoding(line.mid(tab + 1))));
    }
}

QString BoxKeys::defaultFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.startsWith(u'/'))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/zentovi");
}

std::optional<QString> BoxKeys::boxOf(int key) const
{
    const auto it = m_keys.constFind(key);
    return it == m_keys.cend() ? std::nullopt : std::optional(*it);
}

int BoxKeys::keyOf(const QString& boxPath) const
{
    for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it)
        if (*it == boxPath)
            return it.key();
    return 0;
}

bool BoxKeys::assign(int key, const QString& boxPath)
{
    if (key < 1 || key > 9)
        return false;
    m_keys.removeIf([&](const auto& it) { return it.value() == boxPath; });
    m_keys.insert(key, boxPath);
    return save();
}

bool BoxKeys::remove(const QString& boxPath)
{
    if (!m_keys.removeIf([&](const auto& it) { return it.value() == boxPath; }))
        return true;
    return save();
}

bool BoxKeys::boxRenamed(const QString& from, const QString& to)
{
    bool changed = false;
    for (auto it = m_keys.begin(); it != m_keys.end(); ++it) {
        if (*it == from) {
            *it = to;
            changed = true;
        } else if (it->startsWith(from + u'/') && !from.isEmpty()) {
            *it = to + it->mid(from.size());
            changed = true;
        }
    }
    return !changed || save();
}

bool BoxKeys::boxDeleted(const QString& boxPath)
{
    return remove(boxPath);
}

bool BoxKeys::save()
{
    QDir().mkpath(m_file.left(m_file.lastIndexOf(u'/')));
    QByteArray all;
    for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it)
        all += QByteArray::number(it.key()) + '\t' + encodePath(*it).toPercentEncoding("/") + '\n';
    return m_ops.writeFile(m_file, all, true).ok();
}

} // namespace ztv
