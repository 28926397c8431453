#include "FolderListing.h"

#include "platform/PathCodec.h"

#include <QCollator>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

void sortNatural(QStringList& names)
{
    // Qt compares by plain code point in the C locale, which would put "img10" before "img2";
    // there, English rules stand in.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        const int c = collator.compare(a, b);
        if (c != 0)
            return c < 0;
        return a < b;
    });
}

bool matchesFileFilter(const QString& name, const QString& filter)
{
    const QStringList patterns = filter.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (patterns.isEmpty())
        return true;
    for (const QString& raw : patterns) {
        const QString pattern = raw.trimmed();
        if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
            return true;
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(name).hasMatch())
            return true;
    }
    return false;
}

bool listFolderFiles(const QString& folder, const QString& filter, QStringList* paths)
{
    paths->clear();
    const QByteArray encoded = encodePath(folder);
    const int dirFd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // ".", ".." and hidden files
        if (entry->d_type == DT_DIR)
            continue;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            // A link to a folder is a folder; a dangling or looping link stays listed and is
            // counted as unreadable later.
            struct stat st;
            if (::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
                continue;
        }
        const QString name = decodePath(QByteArray(entry->d_name)); // names that are not UTF-8 survive
        if (matchesFileFilter(name, filter))
            names.append(name);
    }
    ::closedir(dir);
    sortNatural(names);
    QString base = folder;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    paths->reserve(names.size());
    for (const QString& name : std::as_const(names))
        paths->append(base + name);
    return true;
}

} // namespace ztv
