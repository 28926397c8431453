// The CD tree following the drive: discs mounted, swapped and taken out while the window
// runs, with faked drive and mount tables.
#include "tst_mainwindow.h"

#include "MainFormFixture.h"
#include "display/BrowseRun.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

using namespace ztv;
using ztv::test::MainFormFixture;

namespace {

const QString Sr0 = QStringLiteral("/dev/sr0");

QStringList childTexts(QTreeWidgetItem* parent)
{
    QStringList out;
    for (int i = 0; i < parent->childCount(); ++i)
        out << parent->child(i)->text(0);
    return out;
}

// A disc's contents: the given folders and PNG pictures at its root.
void fillDisc(const QString& root, const QStringList& folders, const QStringList& pictures)
{
    for (const QString& d : folders)
        QDir(root).mkpath(d);
    for (const QString& p : pictures) {
        QFile f(root + QLatin1Char('/') + p);
        if (f.open(QIODevice::WriteOnly))
            f.write(test::pictures::png({ 24, 24 }));
    }
}

void insertDisc(MainFormFixture& f, const QString& mountPoint, int mountId)
{
    f.drives.media = { Sr0 };
    f.drives.mountTable.removeIf([](const MountEntry& m) { return m.device == Sr0; });
    f.drives.mountTable.append({ Sr0, mountPoint, QStringLiteral("iso9660"), mountId });
    f.drives.notify();
}

void ejectDisc(MainFormFixture& f)
{
    f.drives.media.clear();
    f.drives.mountTable.removeIf([](const MountEntry& m) { return m.device == Sr0; });
    f.drives.notify();
}

QTreeWidgetItem* cdRoot(MainForm& form)
{
    return form.area(Area::Cd).TreeView1()->topLevelItem(0);
}

} // namespace

void TstMainWindow::cdDiscAppearsSwapsAndGoes()
{
    QTemporaryDir first, second;
    fillDisc(first.path(), { "DCIM", "写真" }, { "a.png", "b.png" });
    fillDisc(second.path(), { "MISC" }, { "c.png" });
    MainFormFixture f;
    f.home.fillSample();
    f.drives.devices = { Sr0 };
    MainForm& form = f.load();
    const BrowsingArea& cd = form.area(Area::Cd);
    QCOMPARE(cdRoot(form)->text(0), Sr0);

    // A disc mounted after start shows with its folders and pictures, without a click.
    insertDisc(f, first.path(), 101);
    QCOMPARE(cdRoot(form)->text(0), first.path());
    QCOMPARE(cd.RootName(), first.path());
    QCOMPARE(childTexts(cdRoot(form)), (QStringList { "DCIM", "写真" }));
    QCOMPARE(cd.HiddenList(), (QStringList { first.filePath("a.png"), first.filePath("b.png") }));
    QCOMPARE(cd.Combo1()->count(), 1);
    form.area(Area::Cd).LEADImgList1_Click(1);
    QVERIFY(isChosen(form, Area::Cd));

    // Another mount elsewhere on the machine leaves the tab as it is.
    f.drives.mountTable.append({ "/dev/sdb1", "/media/stick", "vfat", 102 });
    f.drives.notify();
    QVERIFY(isChosen(form, Area::Cd));
    QCOMPARE(cd.HiddenList().size(), 2);

    // A second disc at another mount point replaces the first; the choice goes with it.
    insertDisc(f, second.path(), 103);
    QCOMPARE(cdRoot(form)->text(0), second.path());
    QCOMPARE(childTexts(cdRoot(form)), (QStringList { "MISC" }));
    QCOMPARE(cd.HiddenList(), (QStringList { second.filePath("c.png") }));
    QVERIFY(!isChosen(form, Area::Cd));
    QCOMPARE(cd.invariantViolation(), QString());

    // A disc swapped at the same mount point is another disc too.
    form.area(Area::Cd).LEADImgList1_Click(0);
    QVERIFY(QFile::remove(second.filePath("c.png")));
    QStringList many;
    for (int i = 0; i < 30; ++i)
        many << QStringLiteral("d%1.png").arg(i, 2, 10, QLatin1Char('0'));
    fillDisc(second.path(), {}, many);
    insertDisc(f, second.path(), 104);
    QCOMPARE(cd.HiddenList().size(), 30);
    QCOMPARE(cd.HiddenList().first(), second.filePath("d00.png"));
    QCOMPARE(cd.Label3()->text(), QStringLiteral("2"));
    QVERIFY(!isChosen(form, Area::Cd));

    // Taken out: the drive's root without children, an empty page, no message.
    ejectDisc(f);
    QCOMPARE(cdRoot(form)->text(0), Sr0);
    QCOMPARE(cdRoot(form)->childCount(), 0);
    QVERIFY(cd.HiddenList().isEmpty());
    QCOMPARE(cd.LEADImgList1()->ThumbnailCount(), 0);
    QCOMPARE(cd.Label3()->text(), QStringLiteral("1")); // not the two pages of the disc before
    QCOMPARE(cd.Combo1()->count(), 1);
    QVERIFY(f.prompts.calls.isEmpty());
    // The other tabs are not touched.
    QCOMPARE(form.area(Area::Vault).TreeView1()->topLevelItemCount(), 1);
    QVERIFY(!form.area(Area::Vault).HiddenList().isEmpty());
}

void TstMainWindow::cdChangeWaitsUntilTheWindowIsFree()
{
    QTemporaryDir disc;
    fillDisc(disc.path(), { "A" }, { "a.png" });
    MainFormFixture f;
    f.drives.devices = { Sr0 };
    MainForm& form = f.load();

    // During a run the tree stays as it is; it follows the drive once the run is over.
    form.browseRun().setBrowsing(true);
    insertDisc(f, disc.path(), 7);
    QCoreApplication::processEvents();
    QCOMPARE(cdRoot(form)->text(0), Sr0);
    form.browseRun().setBrowsing(false);
    QTRY_COMPARE_WITH_TIMEOUT(cdRoot(form)->text(0), disc.path(), 30000);
    QCOMPARE(form.area(Area::Cd).HiddenList(), (QStringList { disc.filePath("a.png") }));

    // The same while an operation is under way.
    std::optional<BrowseRun::Hold> operation;
    operation.emplace(&form.browseRun());
    QVERIFY(*operation);
    ejectDisc(f);
    QTest::qWait(300);
    QCOMPARE(cdRoot(form)->text(0), disc.path());
    QCOMPARE(form.area(Area::Cd).HiddenList().size(), 1);
    operation.reset();
    QTRY_COMPARE_WITH_TIMEOUT(cdRoot(form)->text(0), Sr0, 30000);
    QVERIFY(form.area(Area::Cd).HiddenList().isEmpty());

    // The same while an operation's disk call waits aside and the window runs its timers.
    operation.emplace(&form.browseRun());
    // The disk call lasts until the disc came and a few event passes after it ran (counted,
    // not timed; the deadline only ends a wait that hangs).
    QString duringWait;
    std::atomic<int> passesAfter { -1 };
    QTimer pass;
    pass.setInterval(0);
    connect(&pass, &QTimer::timeout, &form, [&] {
        if (passesAfter >= 0) {
            duringWait = cdRoot(form)->text(0);
            ++passesAfter;
        }
    });
    QTimer::singleShot(0, &form, [&] {
        insertDisc(f, disc.path(), 9);
        passesAfter = 0;
    });
    pass.start();
    waitAside([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (passesAfter < 5 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    operation.reset();
    pass.stop();
    QVERIFY(passesAfter >= 5);
    QCOMPARE(duringWait, Sr0);
    QTRY_COMPARE_WITH_TIMEOUT(cdRoot(form)->text(0), disc.path(), 30000);
    ejectDisc(f);
    QTRY_COMPARE_WITH_TIMEOUT(cdRoot(form)->text(0), Sr0, 30000);

    // A disc that comes and goes before the window is free leaves nothing to do.
    form.browseRun().setBrowsing(true);
    insertDisc(f, disc.path(), 8);
    ejectDisc(f);
    form.browseRun().setBrowsing(false);
    QTest::qWait(300);
    QCOMPARE(cdRoot(form)->text(0), Sr0);
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstMainWindow::cdDiscRemovedWhileListed()
{
    QTemporaryDir disc;
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names << QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0'));
    fillDisc(disc.path(), { "A" }, names);
    MainFormFixture f;
    f.drives.devices = { Sr0 };
    MainForm& form = f.load();
    int ready = 0;
    int during = -1;
    // The disc goes away right after the first picture of the run.
    QObject::connect(form.area(Area::Cd).LEADThumb1(), &ThumbnailBrowser::ThumbnailReady, &form, [&] {
        if (++ready == 1) {
            ejectDisc(f);
            during = form.browseRun().gbBrowsing() ? 1 : 0;
        }
    });
    insertDisc(f, disc.path(), 9);

    QCOMPARE(during, 1); // the change came inside the run and had to wait
    QVERIFY2(ready < names.size(), qPrintable(QString::number(ready)));
    // Once the run has ended, the tree and the page follow the empty drive.
    QTRY_COMPARE_WITH_TIMEOUT(cdRoot(form)->text(0), Sr0, 30000);
    QCOMPARE(cdRoot(form)->childCount(), 0);
    QVERIFY(form.area(Area::Cd).HiddenList().isEmpty());
    QVERIFY(!isChosen(form, Area::Cd));
    QVERIFY(form.isEnabled());
    QVERIFY(!form.browseRun().gbBrowsing());
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstMainWindow::cdRootClickAfterExpandErrorRebuild()
{
    QTemporaryDir first, second;
    fillDisc(first.path(), { "A/B", "C" }, {});
    fillDisc(second.path(), { "X" }, { "x.png" });
    MainFormFixture f;
    f.drives.devices = { Sr0 };
    f.drives.mountTable = { { Sr0, first.path(), "iso9660", 1 } };
    MainForm& form = f.load();
    FolderTree* tree = form.area(Area::Cd).TreeView1();
    tree->expandItem(cdRoot(form));
    QTreeWidgetItem* a = cdRoot(form)->child(0);
    QVERIFY(QDir(first.filePath("A")).removeRecursively());
    tree->expandItem(a);
    QCoreApplication::processEvents();
    QCOMPARE(childTexts(cdRoot(form)), (QStringList { "C" }));

    // The disc changed without a word from the watch (none on this machine): the root's
    // text is the old mount point, and a click on it still reads the drive.
    f.drives.mountTable = { { Sr0, second.path(), "udf", 2 } };
    form.area(Area::Cd).TreeView1_NodeClick(cdRoot(form));
    QCOMPARE(cdRoot(form)->text(0), second.path());
    QCOMPARE(form.area(Area::Cd).RootName(), second.path());
    QCOMPARE(childTexts(cdRoot(form)), (QStringList { "X" }));
    QCOMPARE(form.area(Area::Cd).HiddenList(), (QStringList { second.filePath("x.png") }));

    // Taken out without a word: a click shows the empty drive and lists nothing.
    form.area(Area::Cd).LEADImgList1_Click(0);
    f.drives.mountTable.clear();
    form.area(Area::Cd).TreeView1_NodeClick(cdRoot(form));
    QCOMPARE(cdRoot(form)->text(0), Sr0);
    QCOMPARE(cdRoot(form)->childCount(), 0);
    QVERIFY(form.area(Area::Cd).HiddenList().isEmpty());
    QVERIFY(!isChosen(form, Area::Cd));
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstMainWindow::cdRootClickAsksToMountADisc()
{
    QTemporaryDir disc;
    fillDisc(disc.path(), { "DCIM" }, { "a.png" });
    MainFormFixture f;
    f.drives.devices = { Sr0 };
    MainForm& form = f.load();

    // An empty drive: nothing to ask for.
    form.area(Area::Cd).TreeView1_NodeClick(cdRoot(form));
    QVERIFY(f.drives.mountRequests.isEmpty());

    // A disc in the drive that the desktop refuses to mount: the root stays bare, silently.
    f.drives.media = { Sr0 };
    form.area(Area::Cd).TreeView1_NodeClick(cdRoot(form));
    QCOMPARE(f.drives.mountRequests, (QStringList { Sr0 }));
    QCOMPARE(cdRoot(form)->text(0), Sr0);
    QCOMPARE(cdRoot(form)->childCount(), 0);
    QVERIFY(f.prompts.calls.isEmpty());

    // Mounted on request: listed at once. The window waits disabled meanwhile.
    f.drives.mountOnRequest = MountEntry { Sr0, disc.path(), "iso9660", 5 };
    bool enabledWhileMounting = true;
    f.drives.whileMounting = [&] { enabledWhileMounting = form.isEnabled(); };
    form.area(Area::Cd).TreeView1_NodeClick(cdRoot(form));
    QVERIFY(!enabledWhileMounting);
    QVERIFY(form.isEnabled());
    QCOMPARE(f.drives.mountRequests.size(), 2);
    QCOMPARE(cdRoot(form)->text(0), disc.path());
    QCOMPARE(childTexts(cdRoot(form)), (QStringList { "DCIM" }));
    QCOMPARE(form.area(Area::Cd).HiddenList(), (QStringList { disc.filePath("a.png") }));
    // The watch then reports that very mount: nothing is listed twice, the choice stays.
    form.area(Area::Cd).LEADImgList1_Click(0);
    f.drives.notify();
    QVERIFY(isChosen(form, Area::Cd));
    // A mounted disc is not asked for again.
    form.area(Area::Cd).TreeView1_NodeClick(cdRoot(form));
    QCOMPARE(f.drives.mountRequests.size(), 2);
}
