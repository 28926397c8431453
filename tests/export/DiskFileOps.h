#pragma once

#include "platform/FileOps.h"

#include <QFile>
#include <QStringList>

namespace ztv::test {

// Plain disk operations that log each call and can be told to refuse removing a path, as a
// working copy held open elsewhere would.
class LoggingFileOps : public FileOps {
public:
    FileResult makeDirectory(const QString&) override { return fail(); }
    FileResult removeEmptyDirectory(const QString&) override { return fail(); }
    FileResult moveNoReplace(const QString&, const QString&) override { return fail(); }
    FileResult writeFile(const QString&, const QByteArray&, bool) override { return fail(); }
    FileResult removeFile(const QString& path) override
    {
        log << QStringLiteral("remove ") + path;
        if (refuseRemove.contains(path) || !QFile::remove(path))
            return fail();
        return {};
    }
    FileResult copyNoReplace(const QString& from, const QString& to) override
    {
        log << QStringLiteral("copy ") + from + QStringLiteral(" -> ") + to;
        return QFile::copy(from, to) ? FileResult {} : fail(); // QFile::copy never replaces
    }
    static FileResult fail() { return { FileError::Other, QStringLiteral("refused") }; }

    QStringList log;
    QStringList refuseRemove;
};

} // namespace ztv::test
