#include "DiskFileOps.h"
#include "Fakes.h"
#include "MainFormFixture.h"
#include "export/LibreOfficeSpreadsheet.h"
#include "export/WorkbookExport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace ztv;
using ztv::test::FakeSpreadsheet;
using ztv::test::RecordingPrompts;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A small executable shell script.
QString script(const QString& path, const QByteArray& body)
{
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_run = 0;
    QString m_programDir, m_dataDir, m_cacheDir;
    RecordingPrompts m_prompts;
    ztv::test::LoggingFileOps m_files;
    FakeSpreadsheet m_sheet;

    WorkbookExport makeExport()
    {
        return WorkbookExport(m_prompts, m_files, m_sheet, { m_programDir, m_dataDir }, m_cacheDir);
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        QVERIFY(m_dir.isValid());
        // A fresh tree for every test.
        const QString root = m_dir.path() + QStringLiteral("/") + QString::number(++m_run);
        m_programDir = root + QStringLiteral("/bin");
        m_dataDir = root + QStringLiteral("/share/zentovi");
        m_cacheDir = root + QStringLiteral("/cache/ゼントヴィ");
        QVERIFY(QDir().mkpath(m_programDir) && QDir().mkpath(m_dataDir));
        m_prompts.clear();
        m_files.log.clear();
        m_files.refuseRemove.clear();
        m_sheet.exports.clear();
        m_sheet.infoCalls = 0;
    }

    void checkDecision_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("usable");
        const QString path = QStringLiteral("/usr/lib/libreoffice/program");
        QTest::newRow("no application") << false << QString() << QString() << false;
        QTest::newRow("no installation path") << true << QStringLiteral("7.4.7.2") << QString() << false;
        QTest::newRow("version 9.0") << true << QStringLiteral("9.0") << path << false;
        QTest::newRow("version 8.5") << true << QStringLiteral("8.5") << path << false;
        QTest::newRow("version 11.0") << true << QStringLiteral("11.0") << path << true;
        QTest::newRow("version 7.4") << true << QStringLiteral("7.4.7.2") << path << true;
        QTest::newRow("version 24.8") << true << QStringLiteral("24.8.1") << path << true;
    }
    void checkDecision()
    {
        QFETCH(bool, answered);
        QFETCH(QString, version);
        QFETCH(QString, path);
        QFETCH(bool, usable);
        std::optional<Spreadsheet::Info> info;
        if (answered)
            info = Spreadsheet::Info { version, path };
        QCOMPARE(Spreadsheet::usable(info), usable);
    }

    void exportSequence()
    {
        writeFile(m_programDir + QStringLiteral("/Pastetemp.xls"), "template");
        QVERIFY(QDir().mkpath(m_cacheDir));
        writeFile(m_cacheDir + QStringLiteral("/temp.xls"), "old copy");
        writeFile(m_cacheDir + QStringLiteral("/.~lock.temp.xls#"), "stale lock");

        const QString picture = QStringLiteral("/home/u/My Documents/ZTV_DATA/保管庫/箱/写真 1.jpg");
        makeExport().run(picture);

        const QString temp = m_cacheDir + QStringLiteral("/temp.xls");
        const QStringList expected = {
            QStringLiteral("remove ") + temp,
            QStringLiteral("remove ") + m_cacheDir + QStringLiteral("/.~lock.temp.xls#"),
            QStringLiteral("copy ") + m_programDir + QStringLiteral("/Pastetemp.xls -> ") + temp,
        };
        QCOMPARE(m_files.log, expected);
        QCOMPARE(readFile(temp), QByteArray("template"));
        QVERIFY(!QFile::exists(m_cacheDir + QStringLiteral("/.~lock.temp.xls#")));
        QCOMPARE(m_sheet.exports.size(), 1);
        QCOMPARE(m_sheet.exports[0].workbook, temp);
        QCOMPARE(m_sheet.exports[0].cellText, picture);
        QCOMPARE(m_sheet.exports[0].macro, QStringLiteral("Macro1"));
        QVERIFY(m_prompts.calls.isEmpty());
        QCOMPARE(readFile(m_programDir + QStringLiteral("/Pastetemp.xls")), QByteArray("template"));
    }

    // The cache folder does not exist on a first run; the installed data folder serves when
    // the program's own folder has no template.
    void installedTemplateAndFreshCache()
    {
        writeFile(m_dataDir + QStringLiteral("/Pastetemp.xls"), "installed");
        makeExport().run(QStringLiteral("/p.png"));
        QCOMPARE(readFile(m_cacheDir + QStringLiteral("/temp.xls")), QByteArray("installed"));
        QCOMPARE(m_sheet.exports.size(), 1);
        QVERIFY(m_prompts.calls.isEmpty());
    }

    void missingTemplate()
    {
        QVERIFY(QDir().mkpath(m_cacheDir));
        writeFile(m_cacheDir + QStringLiteral("/temp.xls"), "old copy");
        // A folder of that name is no template.
        QVERIFY(QDir().mkpath(m_programDir + QStringLiteral("/Pastetemp.xls")));

        makeExport().run(QStringLiteral("/p.png"));

        QCOMPARE(m_prompts.calls.size(), 1);
        const auto& m = m_prompts.calls[0];
        QCOMPARE(m.kind, RecordingPrompts::Call::Message);
        QCOMPARE(m.text, QStringLiteral("貼り付けに必要なExcelシートが見当たりません"));
        QCOMPARE(m.title, QStringLiteral("システムエラー"));
        QCOMPARE(m.icon, PromptIcon::Critical);
        QCOMPARE(m.buttons, PromptButtons::Ok);
        QVERIFY(m_sheet.exports.isEmpty());
        QVERIFY(m_files.log.isEmpty());
        QCOMPARE(readFile(m_cacheDir + QStringLiteral("/temp.xls")), QByteArray("old copy"));
    }

    // A working copy that cannot be removed keeps its old content and is still opened; the
    // user hears nothing.
    void workbookThatCannotBeRemoved()
    {
        writeFile(m_programDir + QStringLiteral("/Pastetemp.xls"), "template");
        QVERIFY(QDir().mkpath(m_cacheDir));
        const QString temp = m_cacheDir + QStringLiteral("/temp.xls");
        writeFile(temp, "old copy");
        m_files.refuseRemove << temp;

        makeExport().run(QStringLiteral("/p.png"));

        QCOMPARE(readFile(temp), QByteArray("old copy"));
        QCOMPARE(m_sheet.exports.size(), 1);
        QCOMPARE(m_sheet.exports[0].workbook, temp);
        QVERIFY(m_prompts.calls.isEmpty());
    }

    // Tabs differ only in the path they hand over; an index without an entry gives "".
    void pathsPerTab()
    {
        writeFile(m_programDir + QStringLiteral("/Pastetemp.xls"), "template");
        const QStringList paths = { QStringLiteral("/media/cdrom0/a.jpg"),
            QStringLiteral("/h/My Documents/ZTV_DATA/ストックヤード/b.png"), QString() };
        for (const QString& p : paths)
            makeExport().run(p);
        QCOMPARE(m_sheet.exports.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_sheet.exports[i].cellText, paths[i]);
            QCOMPARE(m_sheet.exports[i].workbook, m_sheet.exports[0].workbook);
            QCOMPARE(m_sheet.exports[i].macro, QStringLiteral("Macro1"));
        }
        QCOMPARE(m_files.log.size(), 9);
        for (int i = 3; i < 9; ++i)
            QCOMPARE(m_files.log[i], m_files.log[i % 3]);
    }

    void versionFromOutput()
    {
        QCOMPARE(LibreOfficeSpreadsheet::versionFromOutput("LibreOffice 7.4.7.2 40(Build:2)\n"),
            QStringLiteral("7.4.7.2"));
        QCOMPARE(LibreOfficeSpreadsheet::versionFromOutput("LibreOffice 24.8.4.2 480(Build:2)\n"),
            QStringLiteral("24.8.4.2"));
        QCOMPARE(LibreOfficeSpreadsheet::versionFromOutput("LibreOffice\n"), QString());
        QCOMPARE(LibreOfficeSpreadsheet::versionFromOutput(""), QString());
    }

    // The check through a stand-in soffice behind a link, as /usr/bin/soffice is.
    void applicationInfo()
    {
        const QString program = m_dataDir + QStringLiteral("/program");
        QVERIFY(QDir().mkpath(program));
        const QString helper = script(m_programDir + QStringLiteral("/zentovi-calc"), "exit 0");
        script(program + QStringLiteral("/soffice"),
            "[ \"$1\" = --version ] && echo 'LibreOffice 9.0.1.2 x(Build:2)'");
        const QString link = m_programDir + QStringLiteral("/soffice");
        QVERIFY(QFile::link(program + QStringLiteral("/soffice"), link));

        LibreOfficeSpreadsheet calc({ link, helper, {}, 30000, 60000 });
        const auto info = calc.applicationInfo();
        QVERIFY(info);
        QCOMPARE(info->version, QStringLiteral("9.0.1.2"));
        QCOMPARE(info->installPath, program);
        QVERIFY(!Spreadsheet::usable(info));

        // Started early, the check gives the same answer; started again, it asks again.
        calc.startCheck();
        QTest::qWait(200);
        const auto early = calc.applicationInfo();
        QVERIFY(early);
        QCOMPARE(early->version, info->version);
        QCOMPARE(early->installPath, info->installPath);
        QVERIFY(calc.applicationInfo());

        LibreOfficeSpreadsheet noHelper(
            { link, m_programDir + QStringLiteral("/missing"), {}, 30000, 60000 });
        QVERIFY(!noHelper.applicationInfo());
        LibreOfficeSpreadsheet noOffice(
            { m_programDir + QStringLiteral("/nothing"), helper, {}, 30000, 60000 });
        QVERIFY(!noOffice.applicationInfo());
        const QString failing
            = script(m_programDir + QStringLiteral("/failing"), "echo 'LibreOffice 7.4'; exit 1");
        QVERIFY(!LibreOfficeSpreadsheet({ failing, helper, {}, 30000, 60000 }).applicationInfo());
    }

    // Only an installation that can open windows is offered: Debian's build without a desktop
    // part has no window-system plugin in its program folder, the desktop build has at least
    // the X11 one.
    void applicationWithoutDesktop_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("windows");
        QTest::newRow("no plugin") << QStringList { QStringLiteral("libvcllo.so") } << false;
        QTest::newRow("old headless plugin")
            << QStringList { QStringLiteral("libvclplug_svplo.so") } << false;
        QTest::newRow("X11") << QStringList { QStringLiteral("libvcllo.so"),
            QStringLiteral("libvclplug_genlo.so") }
                             << true;
        QTest::newRow("GTK only") << QStringList { QStringLiteral("libvclplug_gtk3lo.so") } << true;
        QTest::newRow("a folder of that name")
            << QStringList { QStringLiteral("libvclplug_genlo.so/") } << false;
    }
    void applicationWithoutDesktop()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, windows);
        const QString program = m_dataDir + QStringLiteral("/program");
        QVERIFY(QDir().mkpath(program));
        for (const QString& f : files) {
            if (f.endsWith(u'/'))
                QVERIFY(QDir().mkpath(program + u'/' + f));
            else
                writeFile(program + u'/' + f, "ELF");
        }
        const QString helper = script(m_programDir + QStringLiteral("/zentovi-calc"), "exit 0");
        const QString soffice = script(program + QStringLiteral("/soffice"),
            "[ \"$1\" = --version ] && echo 'LibreOffice 7.4.7.2 40(Build:2)'");
        const auto info = LibreOfficeSpreadsheet({ soffice, helper, {}, 30000, 60000 }).applicationInfo();
        QVERIFY(info);
        QCOMPARE(info->version, QStringLiteral("7.4.7.2"));
        QCOMPARE(info->showsWindows, windows);
        QCOMPARE(Spreadsheet::usable(info), windows);
    }

    // The window greys the three items for such a Calc, as for none at all.
    void menuItemsWithoutDesktop()
    {
        for (const bool windows : { false, true }) {
            test::MainFormFixture f;
            f.spreadsheet.info = Spreadsheet::Info { QStringLiteral("7.4.7.2"),
                QStringLiteral("/usr/lib/libreoffice/program"), windows };
            MainForm& form = f.load();
            for (QAction* item : { form.Exl_copy0(), form.Exl_copy1(), form.Exl_copy2() })
                QCOMPARE(item->isEnabled(), windows);
            QVERIFY(f.prompts.calls.isEmpty());
        }
    }

    // An office that never answers must not hold up the start: the check gives up at its
    // deadline and ends the office it started. (The bound below only catches a hang: the
    // stand-in would answer after ten minutes.)
    void applicationInfoDeadline()
    {
        const QString helper = script(m_programDir + QStringLiteral("/zentovi-calc"), "exit 0");
        const QString pidFile = m_programDir + QStringLiteral("/pid");
        const QString hanging = script(m_programDir + QStringLiteral("/soffice"),
            "echo $$ > '" + pidFile.toUtf8() + "'; exec sleep 600");
        auto stillRunning = [&] {
            const QByteArray pid = readFile(pidFile).trimmed();
            return !pid.isEmpty() && QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid));
        };
        LibreOfficeSpreadsheet calc({ hanging, helper, {}, 300, 60000 });
        QElapsedTimer t;
        t.start();
        QVERIFY(!calc.applicationInfo());
        QVERIFY2(t.elapsed() < 60000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!stillRunning());
        // Started early and asked after its deadline, it is refused the same way.
        QFile::remove(pidFile);
        LibreOfficeSpreadsheet early({ hanging, helper, {}, 300, 60000 });
        early.startCheck();
        QTest::qWait(400);
        t.restart();
        QVERIFY(!early.applicationInfo());
        QVERIFY2(t.elapsed() < 60000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!stillRunning());
    }

    // The export hands its three values to the helper and returns while the helper still runs.
    void exportStartsHelper()
    {
        const QString argsFile = m_programDir + QStringLiteral("/args");
        const QString helper = script(m_programDir + QStringLiteral("/zentovi-calc"),
            "sleep 0.3; for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + argsFile.toUtf8()
                + "'; printf '%s' \"$LD_LIBRARY_PATH\" > '" + argsFile.toUtf8() + ".libs'; exit 7");
        LibreOfficeSpreadsheet calc({ QString(), helper, { QStringLiteral("--hidden") }, 30000, 60000 });
        QSignalSpy finished(&calc, &LibreOfficeSpreadsheet::exportFinished);
        const QByteArray oldLibraries = qgetenv("LD_LIBRARY_PATH");
        qputenv("LD_LIBRARY_PATH", "/opt/own/lib");
        calc.exportToWorkbook(
            QStringLiteral("/c/temp.xls"), QStringLiteral("/p/写真 a.jpg"), QStringLiteral("Macro1"));
        if (oldLibraries.isNull())
            qunsetenv("LD_LIBRARY_PATH");
        else
            qputenv("LD_LIBRARY_PATH", oldLibraries);
        QCOMPARE(calc.runningExports(), 1);
        QVERIFY(finished.isEmpty());
        QVERIFY(calc.waitForExports(60000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toInt(), 7);
        const QStringList args = QString::fromUtf8(readFile(argsFile)).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(args,
            QStringList({ QStringLiteral("--hidden"), QStringLiteral("--deadline"), QStringLiteral("30"),
                QStringLiteral("--"), QStringLiteral("/c/temp.xls"), QStringLiteral("/p/写真 a.jpg"),
                QStringLiteral("Macro1") }));
        // The helper has no library path of its own: the office's program folder comes
        // first, the user's own path stays after it.
        QCOMPARE(readFile(argsFile + QStringLiteral(".libs")),
            QByteArray("/usr/lib/libreoffice/program:/opt/own/lib"));
    }

    // A helper that never ends is killed at the export's deadline; the helper would end by
    // itself only after ten minutes, so an export that ends within the wait was killed.
    void exportHelperKilledAtDeadline()
    {
        const QString helper = script(m_programDir + QStringLiteral("/zentovi-calc"), "exec sleep 600");
        LibreOfficeSpreadsheet calc({ QString(), helper, {}, 30000, 300 });
        QSignalSpy finished(&calc, &LibreOfficeSpreadsheet::exportFinished);
        calc.exportToWorkbook(QStringLiteral("/c/temp.xls"), QString(), QStringLiteral("Macro1"));
        QVERIFY(calc.waitForExports(60000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toInt(), -1);
    }

    void exportWithoutHelperDoesNothing()
    {
        LibreOfficeSpreadsheet calc({ QString(), m_programDir + QStringLiteral("/missing"), {}, 30000, 300 });
        calc.exportToWorkbook(QStringLiteral("/c/temp.xls"), QString(), QStringLiteral("Macro1"));
        QCOMPARE(calc.runningExports(), 0);
    }

    // The three menu items of the main window: each acts on the current tab's entry at its
    // selected index, with the template beside the program (the build copies it here).
    void menuItemsUseCurrentTab()
    {
        test::MainFormFixture f;
        MainForm& form = f.load();
        QTemporaryDir disc;
        const QStringList paths[3] = { { disc.filePath(QStringLiteral("a.jpg")),
                                           disc.filePath(QStringLiteral("b.jpg")) },
            { f.home.stockYard() + QStringLiteral("/c.png") },
            { f.home.vault() + QStringLiteral("/d.jpg"), f.home.vault() + QStringLiteral("/箱/e.jpg") } };
        QVERIFY(QDir().mkpath(f.home.vault() + QStringLiteral("/箱")));
        QAction* items[3] = { form.Exl_copy0(), form.Exl_copy1(), form.Exl_copy2() };
        for (int tab = 0; tab < 3; ++tab) {
            for (const QString& path : paths[tab]) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(test::pictures::jpeg(QSize(20, 10)));
            }
            BrowsingArea& a = form.area(Area(tab));
            const QString chosen = paths[tab].last();
            a.list(chosen.left(chosen.lastIndexOf(u'/')), BrowsingArea::ListHow::Show);
            a.LEADImgList1_Click(int(a.HiddenList().indexOf(chosen)));
            QVERIFY(a.TabSelection());
        }
        QStringList got;
        for (int tab = 0; tab < 3; ++tab) {
            form.SSTab1()->setCurrentIndex(tab);
            // Every item acts on the current tab, whichever menu it sits in.
            items[(tab + 1) % 3]->setEnabled(true);
            items[(tab + 1) % 3]->trigger();
            QCOMPARE(f.spreadsheet.exports.size(), tab + 1);
            got << f.spreadsheet.exports.last().cellText;
        }
        QCOMPARE(got, QStringList({ paths[0][1], paths[1][0], paths[2][1] }));
        const QString workbook
            = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/temp.xls");
        for (const auto& e : f.spreadsheet.exports) {
            QCOMPARE(e.workbook, workbook);
            QCOMPARE(e.macro, QStringLiteral("Macro1"));
        }
        QVERIFY(QFileInfo(workbook).isFile());
        QVERIFY(f.prompts.calls.isEmpty());

        // Nothing chosen hands over "".
        form.area(Area::StockYard).clearSelection();
        form.SSTab1()->setCurrentIndex(1);
        form.Exl_copy1()->setEnabled(true);
        form.Exl_copy1()->trigger();
        QCOMPARE(f.spreadsheet.exports.last().cellText, QString());

        // A chosen file replaced since under its name is refused with a message.
        const qsizetype before = f.spreadsheet.exports.size();
        QVERIFY(QFile::remove(paths[2][1]));
        QFile again(paths[2][1]);
        QVERIFY(again.open(QIODevice::WriteOnly));
        again.write("another picture");
        again.close();
        form.SSTab1()->setCurrentIndex(2);
        form.Exl_copy2()->trigger();
        QCOMPARE(f.spreadsheet.exports.size(), before);
        QCOMPARE(f.prompts.calls.size(), 1);
        QVERIFY(!form.area(Area::Vault).TabSelection());
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
