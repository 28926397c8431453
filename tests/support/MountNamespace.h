#pragma once

#include <QProcess>
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
