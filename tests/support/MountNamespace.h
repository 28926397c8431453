#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace ztv::test {

// Gives the process a mount namespace of its own, so that what a test mounts never reaches the
// machine's mount table; with ownRun, a /run of its own too (no system bus, no UDisks2). Call
// it while the process has a single thread, before Qt starts any. Gives why it could not, or
// "" when the process has its own.
inline QString enterPrivateMountNamespace(bool ownRun)
{
    if (::geteuid() != 0)
        return QStringLiteral("a private mount namespace needs root");
    auto failed = [](const char* what) {
        return QString::fromLatin1(what) + QString::fromLocal8Bit(std::strerror(errno));
    };
    if (::unshare(CLONE_NEWNS) != 0)
        return failed("unshare(CLONE_NEWNS): ");
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("making / private: ");
    if (ownRun && ::mount("tmpfs", "/run", "tmpfs", 0, nullptr) != 0)
        return failed("tmpfs on /run: ");
    return QString();
}

// The tools a FUSE test in the private namespace needs, found on the PATH or in the system's
// folders; empty, with *whyNot set for the test's QSKIP, when the namespace, FUSE or a tool is
// missing.
inline QStringList fuseTestTools(const QString& noNamespace, const QStringList& names, QString* whyNot)
{
    *whyNot = noNamespace;
    if (whyNot->isEmpty() && !QFile::exists(QStringLiteral("/dev/fuse")))
        *whyNot = QStringLiteral("no /dev/fuse: FUSE is not available");
    QStringList tools;
    for (const QString& name : names) {
        if (!whyNot->isEmpty())
            return {};
        QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            path = QStandardPaths::findExecutable(name, { "/usr/sbin", "/sbin", "/usr/bin", "/bin" });
        if (path.isEmpty())
            *whyNot = name + QStringLiteral(" is not installed (scripts/install-deps.sh test)");
        tools << path;
    }
    return whyNot->isEmpty() ? tools : QStringList();
}

// Runs a tool to its end: "" when it succeeded, else what it said.
inline QString runTool(const QString& program, const QStringList& args,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + QStringLiteral(" failed: ")
            + QString::fromLocal8Bit(p.readAllStandardError()).trimmed() + p.errorString();
    return QString();
}

} // namespace ztv::test
