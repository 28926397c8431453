#include "mainwindow/FolderList.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>

namespace ztv {

bool FolderList::setPath(const QString& folder)
{
    QString path = folder;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    QDir dir(path);
    dir.setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
    // QDir gives an empty list both for an empty folder and for one it could not open;
    // the checks above tell the two apart.
    const QStringList names = dir.entryList();
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    QStringList full;
    full.reserve(sorted.size());
    const QString prefix = path == QLatin1String("/") ? path : path + QLatin1Char('/');
    for (const QString& name : sorted)
        full << prefix + name;
    m_path = path;
    m_folders = full;
    return true;
}

bool FolderList::refresh()
{
    return setPath(m_path);
}

} // namespace ztv
