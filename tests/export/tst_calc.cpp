// The export through a real, headless LibreOffice with a private profile: the workbook that
// Calc holds afterwards has the path in B2 of sheet 1 and one embedded picture anchored at B4.

#include "DiskFileOps.h"
#include "Fakes.h"
#include "StorageBuilder.h"
#include "export/LibreOfficeSpreadsheet.h"
#include "export/WorkbookExport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <optional>
#include <signal.h>

using namespace ztv;

namespace {

// Processes whose command line names the given folder (the private profile).
QStringList processesUsing(const QString& folder)
{
    QStringList found;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString dir = it.next();
        QFile f(dir + QStringLiteral("/cmdline"));
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray cmd = f.readAll().replace('\0', ' ');
            if (cmd.contains(folder.toUtf8()))
                found << QFileInfo(dir).fileName() + u' ' + QString::fromUtf8(cmd);
        }
    }
    return found;
}

// Whether the Debian package is installed (false where there is no dpkg).
bool installed(const char* package)
{
    QProcess p;
    p.start(QStringLiteral("dpkg-query"),
        { QStringLiteral("-W"), QStringLiteral("-f=${Status}"), QString::fromLatin1(package) });
    p.waitForFinished(60000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
        && p.readAllStandardOutput().contains("install ok installed");
}

QMap<QString, QStringList> parseReport(const QByteArray& out)
{
    QMap<QString, QStringList> r;
    for (const QString& line : QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts)) {
        const int colon = line.indexOf(QStringLiteral(": "));
        if (colon > 0)
            r[line.left(colon)] << line.mid(colon + 2);
    }
    return r;
}

} // namespace

class TestCalc : public QObject {
    Q_OBJECT

    QString m_helper = QStringLiteral(ZENTOVI_BUILD_PROGRAM_DIR "/zentovi-calc");
    std::optional<QTemporaryDir> m_work;
    QString m_profile;
    QStringList m_options;

    bool waitForNoProcess(int msecs)
    {
        QElapsedTimer t;
        t.start();
        while (!processesUsing(m_profile).isEmpty() && t.elapsed() < msecs)
            QThread::msleep(100);
        return processesUsing(m_profile).isEmpty();
    }

    QByteArray runHelper(const QStringList& args, int* exitCode)
    {
        QProcess p;
        // As the program starts it: the helper finds the office's libraries through this path.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(ZENTOVI_OFFICE_PROGRAM_DIR));
        p.setProcessEnvironment(env);
        p.start(m_helper, m_options + args);
        if (!p.waitForFinished(40000))
            p.kill();
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        const QByteArray err = p.readAllStandardError();
        if (!err.isEmpty())
            qInfo("helper: %s", err.constData());
        return p.readAllStandardOutput();
    }

private Q_SLOTS:
    // Whatever happened, the office of the private profile ends before its folder goes: asked
    // first, then by signal to the processes this test started for that profile.
    void cleanup()
    {
        if (m_profile.isEmpty())
            return;
        if (!processesUsing(m_profile).isEmpty()) {
            int code = 0;
            runHelper({ QStringLiteral("--inspect"), QStringLiteral("--terminate"), QStringLiteral("/none") },
                &code);
        }
        waitForNoProcess(15000);
        for (int sig : { SIGTERM, SIGKILL }) {
            for (const QString& p : processesUsing(m_profile))
                ::kill(p.section(u' ', 0, 0).toInt(), sig);
            waitForNoProcess(3000);
        }
        m_work.reset();
        m_profile.clear();
    }

    void exportFromVault()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
            QSKIP("LibreOffice is not installed (soffice not on PATH): the Calc export is not tested");
        if (!QFileInfo(m_helper).isExecutable())
            QSKIP("zentovi-calc was not built (LibreOffice SDK missing): the Calc export is not tested");

        test::TestHome home;
        m_work.emplace();
        QVERIFY(m_work->isValid());
        const QString workDir = m_work->path();
        m_profile = workDir + QStringLiteral("/profile");
        m_options = { QStringLiteral("--headless"), QStringLiteral("--profile"), m_profile };

        const QString picture = home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/写真 1.png"),
            test::pictures::png(QSize(300, 150), Qt::red));
        const QString cache = workDir + QStringLiteral("/cache");
        QVERIFY(QDir().mkpath(cache));
        // A stale lock beside the copy would stop the load on a modal box.
        QFile lock(cache + QStringLiteral("/.~lock.temp.xls#"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(",someone,otherhost,01.01.2020 00:00,file:///nowhere;\n");
        lock.close();

        test::RecordingPrompts prompts;
        test::LoggingFileOps files;
        // A first start of the office on a cold, loaded machine takes seconds; only a hang should fail.
        LibreOfficeSpreadsheet calc({ QString(), m_helper, m_options, 60000, 60000 });
        // Either Calc serves a headless export; only the desktop one is offered to the user.
        const std::optional<Spreadsheet::Info> info = calc.applicationInfo();
        QVERIFY(info);
        QCOMPARE(Spreadsheet::usable(info), info->showsWindows);
        QCOMPARE(info->showsWindows, !installed("libreoffice-core-nogui"));
        WorkbookExport exporter(prompts, files, calc, { QStringLiteral(ZENTOVI_BUILD_PROGRAM_DIR) }, cache);

        QSignalSpy finished(&calc, &LibreOfficeSpreadsheet::exportFinished);
        QElapsedTimer t;
        t.start();
        exporter.run(picture);
        QVERIFY(calc.waitForExports(60000));
        qInfo("export with a fresh headless office: %lld ms", qint64(t.elapsed()));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toInt(), 0);
        QVERIFY(prompts.calls.isEmpty());

        // Read back from a second connection: the helper released the document, Calc keeps it.
        int code = 0;
        const auto report = parseReport(runHelper(
            { QStringLiteral("--inspect"), QStringLiteral("--terminate"), exporter.workbookPath() }, &code));
        QCOMPARE(code, 0);
        QCOMPARE(report.value(QStringLiteral("b2-type")), QStringList { QStringLiteral("TEXT") });
        QCOMPARE(report.value(QStringLiteral("b2")), QStringList { picture });
        QCOMPARE(report.value(QStringLiteral("graphics")), QStringList { QStringLiteral("1") });
        QCOMPARE(report.value(QStringLiteral("graphic-anchor")), QStringList { QStringLiteral("B4") });
        QCOMPARE(report.value(QStringLiteral("graphic-linked")), QStringList { QStringLiteral("no") });
        const QStringList size = report.value(QStringLiteral("graphic-size")).value(0).split(u' ');
        QCOMPARE(size.size(), 2);
        const double w = size[0].toDouble(), h = size[1].toDouble();
        QVERIFY2(h > 0 && qAbs(w / h - 2.0) < 0.02, qPrintable(size.join(u'x')));

        // The office ends when asked, leaving no process behind.
        QVERIFY2(waitForNoProcess(30000), qPrintable(processesUsing(m_profile).join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestCalc)
#include "tst_calc.moc"
