#include "export/LibreOfficeSpreadsheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#ifndef ZENTOVI_LIBEXEC_DIR
#define ZENTOVI_LIBEXEC_DIR "/usr/local/libexec/zentovi"
#define ZENTOVI_LIBEXEC_FROM_BIN "../libexec/zentovi"
#endif
#ifndef ZENTOVI_OFFICE_PROGRAM_DIR
#define ZENTOVI_OFFICE_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

namespace ztv {

namespace {
constexpr char kHelperName[] = "zentovi-calc";

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}
} // namespace

LibreOfficeSpreadsheet::LibreOfficeSpreadsheet(QObject* parent)
    : LibreOfficeSpreadsheet(Config {}, parent)
{
}

LibreOfficeSpreadsheet::LibreOfficeSpreadsheet(Config config, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
{
}

LibreOfficeSpreadsheet::~LibreOfficeSpreadsheet() = default;

QString LibreOfficeSpreadsheet::findHelper()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString candidates[] = {
        programDir + u'/' + QLatin1String(kHelperName),
        programDir + QStringLiteral("/" ZENTOVI_LIBEXEC_FROM_BIN "/") + QLatin1String(kHelperName),
        QStringLiteral(ZENTOVI_LIBEXEC_DIR "/") + QLatin1String(kHelperName),
    };
    for (const QString& c : candidates)
        if (isExecutableFile(c))
            return c;
    return {};
}

bool LibreOfficeSpreadsheet::canShowWindows(const QString& programFolder)
{
    const QStringList plugins
        = QDir(programFolder).entryList({ QStringLiteral("libvclplug_*.so") }, QDir::Files);
    // "svp" was the headless plugin of older versions.
    for (const QString& plugin : plugins)
        if (!plugin.startsWith(QLatin1String("libvclplug_svp")))
            return true;
    return false;
}

QString LibreOfficeSpreadsheet::helperProgram() const
{
    if (!m_config.helper.isEmpty())
        return isExecutableFile(m_config.helper) ? m_config.helper : QString();
    return findHelper();
}

QString LibreOfficeSpreadsheet::versionFromOutput(const QByteArray& output)
{
    const QStringList words = QString::fromLocal8Bit(output).simplified().split(u' ', Qt::SkipEmptyParts);
    return words.size() >= 2 ? words.at(1) : QString();
}

void LibreOfficeSpreadsheet::startCheck()
{
    m_check.reset();
    // Without the helper nothing could be exported, so there is no usable application.
    if (helperProgram().isEmpty())
        return;
    const QString found = m_config.soffice.isEmpty()
        ? QStandardPaths::findExecutable(QStringLiteral("soffice"))
        : m_config.soffice;
    // /usr/bin/soffice is a link into the installation's program folder.
    const QString soffice = QFileInfo(found).canonicalFilePath();
    if (soffice.isEmpty() || !isExecutableFile(soffice))
        return;
    m_check = std::make_unique<QProcess>();
    m_check->setStandardInputFile(QProcess::nullDevice());
    m_check->setStandardErrorFile(QProcess::nullDevice());
    m_checkStarted.start();
    m_check->start(soffice, { QStringLiteral("--version") });
}

std::optional<Spreadsheet::Info> LibreOfficeSpreadsheet::applicationInfo()
{
    if (!m_check)
        startCheck();
    if (!m_check)
        return std::nullopt;
    const std::unique_ptr<QProcess> process = std::move(m_check);
    const int left = int(qMax<qint64>(0, m_config.versionTimeoutMs - m_checkStarted.elapsed()));
    if (process->state() != QProcess::NotRunning && !process->waitForFinished(left)) {
        process->kill();
        process->waitForFinished(500);
        return std::nullopt;
    }
    if (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0)
        return std::nullopt;
    const QString version = versionFromOutput(process->readAllStandardOutput());
    if (version.isEmpty())
        return std::nullopt;
    const QString folder = QFileInfo(process->program()).absolutePath();
    return Info { version, folder, canShowWindows(folder) };
}

void LibreOfficeSpreadsheet::exportToWorkbook(
    const QString& workbookPath, const QString& cellText, const QString& macroName)
{
    const QString helper = helperProgram();
    if (helper.isEmpty())
        return;
    auto* process = new QProcess(this);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // The helper carries no library path: its UNO libraries load the office's own libraries
    // from the office's program folder, which goes first on the loader's path.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString libraries = env.value(QStringLiteral("LD_LIBRARY_PATH"));
    env.insert(QStringLiteral("LD_LIBRARY_PATH"),
        QStringLiteral(ZENTOVI_OFFICE_PROGRAM_DIR) + (libraries.isEmpty() ? QString() : u':' + libraries));
    process->setProcessEnvironment(env);
    // The helper's own connection deadline ends well before ours.
    const int helperDeadline = qMax(1, m_config.exportTimeoutMs / 2000);
    QStringList args = m_config.helperOptions;
    args << QStringLiteral("--deadline") << QString::number(helperDeadline) << QStringLiteral("--")
         << workbookPath << cellText << macroName;

    ++m_running;
    auto done = [this, process](int exitCode) {
        if (process->property("zentoviDone").toBool())
            return;
        process->setProperty("zentoviDone", true);
        --m_running;
        process->deleteLater();
        Q_EMIT exportFinished(exitCode);
    };
    connect(process, &QProcess::finished, this, [done](int exitCode, QProcess::ExitStatus status) {
        done(status == QProcess::NormalExit ? exitCode : -1);
    });
    connect(process, &QProcess::errorOccurred, this, [done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(-1);
    });
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, process, &QProcess::kill);
    deadline->start(m_config.exportTimeoutMs);
    process->start(helper, args);
}

QString LibreOfficeSpreadsheet::sofficeProgram() const
{
    return m_config.soffice.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("soffice"))
                                      : m_config.soffice;
}

bool LibreOfficeSpreadsheet::openDocument(const QString& path)
{
    const QString soffice = sofficeProgram();
    if (soffice.isEmpty())
        return false;
    return QProcess::startDetached(
        soffice, { QStringLiteral("--norestore"), QStringLiteral("--nologo"), path });
}

bool LibreOfficeSpreadsheet::convertToPdf(
    const QString& document, const QString& pdfPath, const std::atomic<bool>* stop)
{
    const QString soffice = sofficeProgram();
    if (soffice.isEmpty())
        return false;
    // A profile of its own: a running office of the user's would otherwise take the request
    // (and its documents' recovery) over.
    QTemporaryDir profile(QDir::tempPath() + QStringLiteral("/zentovi-office-XXXXXX"));
    // The PDF is made beside its final name and renamed over it when whole.
    QTemporaryDir out(QFileInfo(pdfPath).absolutePath() + QStringLiteral("/.zentovi-pdf-XXXXXX"));
    if (!profile.isValid() || !out.isValid())
        return false;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(soffice,
        { QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile.path()).toString(),
            QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
            QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"), out.path(),
            document });
    if (!process.waitForStarted(10000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(100)) {
        if ((stop && stop->load()) || clock.elapsed() > m_config.pdfTimeoutMs) {
            process.kill();
            process.waitForFinished(5000);
            return false;
        }
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    const QString made = out.path() + u'/' + QFileInfo(document).completeBaseName() + QStringLiteral(".pdf");
    if (!QFileInfo(made).isFile())
        return false;
    return std::rename(QFile::encodeName(made).constData(), QFile::encodeName(pdfPath).constData()) == 0;
}

bool LibreOfficeSpreadsheet::waitForExports(int msecs)
{
    if (m_running == 0)
        return true;
    QEventLoop loop;
    connect(this, &LibreOfficeSpreadsheet::exportFinished, &loop, [this, &loop] {
        if (m_running == 0)
            loop.quit();
    });
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
    return m_running == 0;
}

} // namespace ztv
