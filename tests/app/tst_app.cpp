#include "MainFormFixture.h"
#include "app/Startup.h"
#include "app/TitleForm.h"
#include "app/WaitSeconds.h"
#include "mainwindow/MainForm.h"
#include "platform/FileOps.h"
#include "values/StoragePaths.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QRawFont>
#include <QTabWidget>
#include <QTest>
#include <QTextLayout>

using namespace ztv;
using ztv::test::FakeDrives;

class TstApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void storagePaths();
    void storagePathsWithoutProfile();
    void profileFolder();
    void cutAtNul();
    void firstCdDrive_data();
    void firstCdDrive();
    void waitSecondsPasses();
    void japaneseButtonsAndGlyphs();
    void startUpSequence();
};

void TstApp::storagePaths()
{
    const StoragePaths paths = SetStoragePaths(QStringLiteral("/home/user"));
    QCOMPARE(paths.AreaBasePath[Area::Cd], QString());
    QCOMPARE(paths.AreaBasePath[Area::StockYard], QStringLiteral("/home/user/My Documents/ZTV_DATA/"));
    QCOMPARE(paths.AreaBasePath[Area::Vault], paths.AreaBasePath[Area::StockYard]);
    QCOMPARE(paths.StockYardPath, QStringLiteral("/home/user/My Documents/ZTV_DATA/ストックヤード"));
    QCOMPARE(paths.VaultPath, QStringLiteral("/home/user/My Documents/ZTV_DATA/保管庫"));
}

void TstApp::storagePathsWithoutProfile()
{
    FakeDrives drives;
    const StoragePaths paths = SetStoragePaths(GetSpecialFolderPath(drives, CSIDL_PROFILE));
    QCOMPARE(paths.AreaBasePath[Area::StockYard], QStringLiteral("/My Documents/ZTV_DATA/"));
    QCOMPARE(paths.VaultPath, QStringLiteral("/My Documents/ZTV_DATA/保管庫"));
}

void TstApp::profileFolder()
{
    FakeDrives drives;
    drives.envHome = QStringLiteral("/home/env");
    drives.pwHome = QStringLiteral("/home/pw");
    QCOMPARE(GetSpecialFolderPath(drives, 40), QStringLiteral("/home/env"));
    drives.envHome.clear();
    QCOMPARE(GetSpecialFolderPath(drives, 40), QStringLiteral("/home/pw"));
    drives.pwHome = QStringLiteral("/home/pw/");
    QCOMPARE(GetSpecialFolderPath(drives, 40), QStringLiteral("/home/pw"));
    drives.pwHome.clear();
    QCOMPARE(GetSpecialFolderPath(drives, 40), QString());
    drives.envHome = QStringLiteral("/home/env");
    QCOMPARE(GetSpecialFolderPath(drives, 5), QString()); // not the profile
}

void TstApp::cutAtNul()
{
    QCOMPARE(CutAtNul(QStringLiteral("abc") + QString(5, QChar(u'\0'))), QStringLiteral("abc"));
    QCOMPARE(CutAtNul(QStringLiteral("abc")), QString());
    QCOMPARE(CutAtNul(QString(1, QChar(u'\0'))), QString());
}

void TstApp::firstCdDrive_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("mounts"); // device|mount point|type
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("rootName");

    QTest::newRow("none") << QStringList() << QStringList { "/dev/sda1|/|ext4" } << ""
                          << ":";
    QTest::newRow("no disc") << QStringList { "/dev/sr0" } << QStringList() << "/dev/sr0"
                             << "/dev/sr0";
    QTest::newRow("mounted") << QStringList { "/dev/sr0" } << QStringList { "/dev/sr0|/media/cdrom0|iso9660" }
                             << "/media/cdrom0"
                             << "/media/cdrom0";
    QTest::newRow("several, first in order") << QStringList { "/dev/sr2", "/dev/sr10", "/dev/sr1" }
                                             << QStringList { "/dev/sr2|/media/cdrom2|udf" } << "/dev/sr1"
                                             << "/dev/sr1";
    QTest::newRow("sr11 is not one of the eleven") << QStringList { "/dev/sr11" } << QStringList() << ""
                                                   << ":";
    QTest::newRow("loop image") << QStringList()
                                << QStringList { "/dev/loop3|/mnt/data|ext4", "/dev/loop4|/mnt/iso|iso9660" }
                                << "/mnt/iso"
                                << "/mnt/iso";
    QTest::newRow("optical drive before loop image")
        << QStringList { "/dev/sr0" }
        << QStringList { "/dev/loop4|/mnt/iso|iso9660", "/dev/sr0|/media/cd|iso9660" } << "/media/cd"
        << "/media/cd";
}

void TstApp::firstCdDrive()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, mounts);
    FakeDrives drives;
    drives.devices = devices;
    for (const QString& m : std::as_const(mounts)) {
        const QStringList f = m.split(QLatin1Char('|'));
        drives.mountTable.append({ f[0], f[1], f[2] });
    }
    QTEST(FindFirstCdDrive(drives), "expected");
    QTEST(CdRootName(drives), "rootName");
}

void TstApp::waitSecondsPasses()
{
    int passes = 0;
    QCOMPARE(WaitSeconds(0, [&] { ++passes; }), 1);
    QCOMPARE(passes, 1);

    // A lower bound only, which a busy machine cannot break: the wait lasts at least its
    // time, pass after pass.
    QElapsedTimer t;
    t.start();
    const int n = WaitSeconds(0.05f, [] {});
    QVERIFY(t.elapsed() >= 50);
    QVERIFY(n >= 2);
}

void TstApp::japaneseButtonsAndGlyphs()
{
    QVERIFY(LoadQtTranslation(*qApp));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));

    // Every character of the tab captions and of half-width katakana must come out of some
    // font that really has it, or the user sees empty boxes.
    test::MainFormFixture f;
    MainForm& form = f.create();
    QStringList samples;
    for (int i = 0; i < form.SSTab1()->count(); ++i)
        samples << form.SSTab1()->tabText(i);
    samples << QStringLiteral("ﾌﾞﾗｳｼﾞﾝｸﾞをｷｬﾝｾﾙしました") << QStringLiteral("整理箱の名称を変更");
    for (const QString& text : std::as_const(samples)) {
        QTextLayout layout(text, form.SSTab1()->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        QVERIFY(!runs.isEmpty());
        for (const QGlyphRun& run : runs) {
            const QRawFont raw = run.rawFont();
            const QList<quint32> indexes = run.glyphIndexes();
            for (quint32 glyph : indexes)
                QVERIFY2(glyph != 0,
                    qPrintable(QStringLiteral("no glyph in %1 for %2").arg(raw.familyName(), text)));
        }
        for (const QChar c : text) {
            bool found = false;
            for (const QGlyphRun& run : runs)
                found = found || run.rawFont().supportsCharacter(c);
            QVERIFY2(found, qPrintable(QStringLiteral("no font shows %1").arg(c)));
        }
    }
}

void TstApp::startUpSequence()
{
    test::MainFormFixture f;
    auto form = ShowSplashAndMain(f.services);
    QVERIFY(form->isVisible());
    QCOMPARE(form->windowTitle(), QStringLiteral("ゼントヴィVer1.0"));
    QCOMPARE(form->size(), QSize(850, 695));
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (QWidget* w : tops)
        QVERIFY(!qobject_cast<title*>(w)); // the splash window is gone
    QCOMPARE(form->storagePaths().StockYardPath, f.home.stockYard());
    QVERIFY(f.prompts.calls.isEmpty());

    title splash;
    QCOMPARE(splash.size(), QSize(514, 242));
    QCOMPARE(splash.Label1->geometry(), QRect(237, 211, 263, 23));
    QVERIFY(!splash.Image1->pixmap().isNull());
}

QTEST_MAIN(TstApp)
#include "tst_app.moc"
