// Real disc images in the CD tab: two ISO 9660 images (one with Japanese Joliet and Rock
// Ridge names, one with bare upper-case 8.3 names) mounted through FUSE while the window
// runs. The test process lives in its own mount namespace, where a stand-in /sys/block/sr0
// makes the drive exist and the FUSE mounts are named after it. Where the namespace or FUSE
// is not available the test is skipped and says why.
#include "Fakes.h"
#include "MountNamespace.h"
#include "StorageBuilder.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/MainForm.h"
#include "platform/FileOps.h"
#include "platform/LinuxDrives.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace ztv;
using namespace ztv::test;

namespace {

QString g_noNamespace; // why the namespace could not be had; "" when the process has its own

QString run(const QString& program, const QStringList& args)
{
    return runTool(program, args);
}

void unmount(const QString& dir)
{
    if (::umount2(QFile::encodeName(dir).constData(), 0) != 0)
        ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
}

QStringList childTexts(QTreeWidgetItem* parent)
{
    QStringList out;
    for (int i = 0; i < parent->childCount(); ++i)
        out << parent->child(i)->text(0);
    return out;
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstDiscImages : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void discsMountedWhileTheWindowRuns();
};

void TstDiscImages::discsMountedWhileTheWindowRuns()
{
    QString why;
    const QStringList tools = fuseTestTools(g_noNamespace, { "fuseiso", "genisoimage" }, &why);
    if (tools.isEmpty())
        QSKIP(qPrintable(why));
    const QString &fuseiso = tools[0], &genisoimage = tools[1];

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString w = work.path() + QLatin1Char('/');
    // The first disc: Japanese names in Joliet and Rock Ridge.
    const QByteArray cover = pictures::png({ 40, 30 }, Qt::darkCyan);
    const QByteArray kyoto = pictures::jpeg({ 64, 48 }, Qt::darkRed);
    for (const auto& [path, bytes] : { std::pair { QStringLiteral("a/表紙.png"), cover },
             std::pair { QStringLiteral("a/写真/京都の寺.jpg"), kyoto },
             std::pair { QStringLiteral("a/DCIM/100CAMERA/IMG_0001.JPG"), kyoto } }) {
        QVERIFY(QDir().mkpath(QFileInfo(w + path).path()));
        QFile f(w + path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // The second: bare ISO 9660, upper-case 8.3 names only.
    const QByteArray second = pictures::png({ 20, 20 }, Qt::yellow);
    QVERIFY(QDir().mkpath(w + QStringLiteral("b/DCIM")));
    for (const QString& path : { QStringLiteral("b/COVER.PNG"), QStringLiteral("b/DCIM/PIC00001.PNG") }) {
        QFile f(w + path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(second);
    }
    QString failed = run(genisoimage,
        { "-quiet", "-J", "-R", "-input-charset", "utf-8", "-V", "FIRST", "-o", w + "first.iso", w + "a" });
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    failed = run(genisoimage,
        { "-quiet", "-input-charset", "utf-8", "-V", "SECOND", "-o", w + "second.iso", w + "b" });
    QVERIFY2(failed.isEmpty(), qPrintable(failed));

    // The stand-in drive: /sys/block with just sr0, holding a medium.
    QVERIFY(QDir().mkpath(w + "sys/sr0"));
    {
        QFile size(w + "sys/sr0/size");
        QVERIFY(size.open(QIODevice::WriteOnly));
        size.write("1024\n");
    }
    if (::mount(QFile::encodeName(w + "sys").constData(), "/sys/block", nullptr, MS_BIND, nullptr) != 0)
        QSKIP(qPrintable(
            QStringLiteral("bind mount over /sys/block: ") + QString::fromLocal8Bit(std::strerror(errno))));
    auto unbind = qScopeGuard([] { ::umount2("/sys/block", MNT_DETACH); });
    const QString first = w + "media/FIRST";
    const QString other = w + "media/other/SECOND";
    QVERIFY(QDir().mkpath(first));
    QVERIFY(QDir().mkpath(other));
    auto unmountAll = qScopeGuard([&] {
        unmount(first);
        unmount(other);
    });
    const QStringList asTheDrive = { "-o", "ro,fsname=/dev/sr0" };

    TestHome home;
    home.fillSample();
    RecordingPrompts prompts;
    FakeShell shell;
    LinuxDrives drives;
    FakeSpreadsheet spreadsheet;
    const Services services { prompts, shell, drives, spreadsheet, windowFileOps() };
    MainForm form(services);
    form.setMenuOpener([](QMenu*) {});
    form.setQuitHandler([] {});
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const BrowsingArea& cd = form.area(Area::Cd);
    QCOMPARE(cd.TreeView1()->topLevelItem(0)->text(0), QStringLiteral("/dev/sr0"));

    // The first disc is mounted while the window runs: it shows without a click.
    failed = run(fuseiso, QStringList { w + "first.iso", first } + asTheDrive);
    if (!failed.isEmpty())
        QSKIP(qPrintable(QStringLiteral("FUSE mount not permitted: ") + failed));
    QTRY_COMPARE_WITH_TIMEOUT(cd.TreeView1()->topLevelItem(0)->text(0), first, 30000);
    QTreeWidgetItem* root = cd.TreeView1()->topLevelItem(0);
    QCOMPARE(childTexts(root), (QStringList { "DCIM", "写真" }));
    QCOMPARE(cd.HiddenList(), (QStringList { first + "/表紙.png" }));
    QCOMPARE(cd.LEADImgList1()->ThumbnailCount(), 1);
    cd.TreeView1()->expandItem(root);
    QCOMPARE(childTexts(root->child(0)), (QStringList { "100CAMERA" }));
    form.area(Area::Cd).TreeView1_NodeClick(root->child(1));
    QCOMPARE(cd.HiddenList(), (QStringList { first + "/写真/京都の寺.jpg" }));

    // Into the vault, byte for byte.
    form.area(Area::Cd).LEADImgList1_Click(0);
    QVERIFY(cd.LEAD1()->hasPicture());
    form.RCD_Fav_Copy()->trigger();
    QVERIFY(form.vaultTransfer().chooser());
    form.vaultTransfer().chooser()->Command1_Click(0);
    QVERIFY2(prompts.calls.isEmpty(), qPrintable(prompts.calls.value(0).text));
    QCOMPARE(contents(home.vault() + "/京都の寺.jpg"), kyoto);

    // Taken out, then the second disc at another mount point.
    unmount(first);
    QTRY_COMPARE_WITH_TIMEOUT(cd.TreeView1()->topLevelItem(0)->text(0), QStringLiteral("/dev/sr0"), 30000);
    QCOMPARE(cd.TreeView1()->topLevelItem(0)->childCount(), 0);
    QVERIFY(cd.HiddenList().isEmpty());
    QVERIFY(!cd.TabSelection());
    failed = run(fuseiso, QStringList { w + "second.iso", other } + asTheDrive);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    QTRY_COMPARE_WITH_TIMEOUT(cd.TreeView1()->topLevelItem(0)->text(0), other, 30000);
    // Names in 8.3 form read as the kernel's own driver shows them.
    QCOMPARE(childTexts(cd.TreeView1()->topLevelItem(0)), (QStringList { "dcim" }));
    QCOMPARE(cd.HiddenList(), (QStringList { other + "/cover.png" }));
    form.area(Area::Cd).LEADImgList1_Click(0);
    form.RCD_Fav_Copy()->trigger();
    form.vaultTransfer().chooser()->Command1_Click(0);
    QCOMPARE(contents(home.vault() + "/cover.png"), second);
    QVERIFY(prompts.calls.isEmpty());

    // A click on the root reads the same drive again and changes nothing.
    form.area(Area::Cd).TreeView1_NodeClick(cd.TreeView1()->topLevelItem(0));
    QCOMPARE(cd.TreeView1()->topLevelItem(0)->text(0), other);
    QCOMPARE(cd.HiddenList().size(), 1);
    form.close();
}

int main(int argc, char** argv)
{
    g_noNamespace = enterPrivateMountNamespace(false);
    QApplication app(argc, argv);
    TstDiscImages t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_discimages.moc"
