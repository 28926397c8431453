#include "FolderListing.h"

#include "imaging/ExtraFormats.h"
#include "platform/FolderEntries.h"
#include "platform/PathCodec.h"

#include <QCollator>
#include <QFile>
#include <QImageReader>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

void sortNatural(QStringList& names, qsizetype skip)
{
    // Qt compares by plain code point in the C locale, which would put "img10" before "img2";
    // there, English rules stand in.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Keys made once per name: comparing through the collator each time took tens of
    // milliseconds on a folder of thousands, all of it a pause of the window.
    struct Keyed {
        QCollatorSortKey key;
        QString name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(names.size()));
    for (QString& name : names) {
        // The key is made from a view of the text, never a copy of it.
        const qsizetype from = std::min(skip, name.size());
        QCollatorSortKey key
            = collator.sortKey(QString::fromRawData(name.constData() + from, name.size() - from));
        keyed.push_back({ std::move(key), std::move(name) });
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const int c = a.key.compare(b.key);
        if (c != 0)
            return c < 0;
        return a.name < b.name;
    });
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[size_t(i)].name);
}

FileFilter::FileFilter(const QString& filter)
{
    const QStringList patterns = filter.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    m_all = patterns.isEmpty();
    for (const QString& raw : patterns) {
        const QString pattern = raw.trimmed();
        if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
            m_all = true;
        m_patterns.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
            QRegularExpression::CaseInsensitiveOption));
    }
}

bool FileFilter::matches(const QString& name) const
{
    if (m_all)
        return true;
    for (const QRegularExpression& re : m_patterns)
        if (re.match(name).hasMatch())
            return true;
    return false;
}

bool matchesFileFilter(const QString& name, const QString& filter)
{
    return FileFilter(filter).matches(name);
}

bool listFolderFiles(const QString& folder, const QString& filter, QStringList* paths, bool resolveTypes)
{
    paths->clear();
    // Names are taken by their bytes (decodePath), so a name that is not UTF-8 still leads
    // back to its own file and never to one whose lossy text is the same.
    QList<FolderEntry> entries;
    if (!readFolderEntries(folder, &entries, resolveTypes))
        return false;
    const FileFilter matching(filter);
    QString base = folder;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    // Every path is kept as long as the folder is listed: each takes exactly its own length,
    // and the names go before the sort keys are made.
    QStringList found;
    found.reserve(entries.size());
    for (FolderEntry& entry : entries) {
        // Everything but folders: a dangling or looping link stays listed and is counted as
        // unreadable later.
        if (!entry.isFolder && matching.matches(entry.name)) {
            QString path;
            path.reserve(base.size() + entry.name.size());
            path.append(base).append(entry.name);
            found.append(std::move(path));
        }
        entry.name = QString();
    }
    entries = QList<FolderEntry>();
    sortNatural(found, base.size());
    *paths = std::move(found);
    return true;
}

FileStamp fileStamp(const QString& path, bool* isFolder)
{
    struct stat st { };
    if (isFolder)
        *isFolder = false;
    if (!statPath(path, &st))
        return {};
    if (isFolder)
        *isFolder = S_ISDIR(st.st_mode);
    return { quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
        qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec };
}

bool isPictureFile(const QString& path)
{
    // O_NONBLOCK: a FIFO dropped by mistake must not block the open.
    const int fd = openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    if (sniffExtraFormat(fd) != ExtraFormat::None) {
        ::close(fd);
        return true;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return !QImageReader::imageFormat(&file).isEmpty();
}

} // namespace ztv
