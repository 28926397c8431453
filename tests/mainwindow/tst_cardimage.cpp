// A camera card: a FAT image made without privileges (mkfs.vfat, mmd, mcopy) and mounted
// through FUSE (fusefat) at /run/media/<user>/CANON_SD while the window runs, in a private
// mount namespace with no system bus, so its place alone makes it a medium. fusefat shows
// dates a month late: nothing here looks at dates.
#include "../filing/FilingTestUtil.h"
#include "CardImage.h"
#include "FileTestUtil.h"
#include "MainFormFixture.h"
#include "MountNamespace.h"
#include "imaging/ThumbnailBrowser.h"
#include "platform/ContentIndex.h"
#include "platform/LinuxDrives.h"
#include "platform/LinuxMedia.h"

#include <QTest>

using namespace ztv;
using namespace ztv::test;

namespace {

QString g_noNamespace; // why the namespace could not be had; "" when the process has its own

} // namespace

class TstCardImage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cardMountedWhileTheWindowRuns();
};

void TstCardImage::cardMountedWhileTheWindowRuns()
{
    CardImage sd(g_noNamespace);
    if (!sd.unavailable().isEmpty())
        QSKIP(qPrintable(sd.unavailable()));
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString staged = work.filePath(QStringLiteral("staged"));
    QVERIFY(QDir().mkpath(staged + QStringLiteral("/DCIM/100CANON")));
    QVERIFY(QDir().mkpath(staged + QStringLiteral("/System Volume Information")));
    QList<QByteArray> bytes;
    for (int i = 1; i <= 40; ++i) {
        bytes << pictures::jpeg({ 64, 48 }, QColor::fromHsv(i * 8, 200, 200));
        QVERIFY(writeRaw(staged + QStringLiteral("/DCIM/100CANON/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')),
            bytes.last()));
    }
    const QString image = work.filePath(QStringLiteral("sd.img"));
    const QString failed = sd.build(staged, image, 16);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    const QByteArray imageBefore = readAll(image);

    MainFormFixture f;
    LinuxDrives drives;
    LinuxMedia media(drives, QDBusConnection(QStringLiteral("none")), LinuxMedia::userName(), false);
    f.services.media = &media;
    f.home.fillSample();
    f.load();
    f.form->show();
    MainForm& form = *f.form;
    BrowsingArea& cd = form.area(Area::Cd);
    FolderTree* tree = cd.TreeView1();
    QCOMPARE(tree->topLevelItemCount(), 1); // the disc's root alone

    const QString card = QStringLiteral("/run/media/") + LinuxMedia::userName() + QStringLiteral("/CANON_SD");
    if (const QString why = sd.mount(card); !why.isEmpty())
        QSKIP(qPrintable(QStringLiteral("FUSE mount not permitted: ") + why));
    // It comes while the window runs, named by its place (the label, as desktops mount it).
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 2, 30000);
    QTreeWidgetItem* root = tree->topLevelItem(1);
    QCOMPARE(root->text(0), QStringLiteral("CANON_SD"));
    QCOMPARE(root->toolTip(0), card);
    QCOMPARE(childTexts(root), QStringList({ "DCIM" }));

    tree->setCurrentItem(root);
    cd.TreeView1_NodeClick(root);
    QCOMPARE(cd.CurrentNodePath(), card + "/DCIM");
    // fusefat now and then gives a wrong read while another file of the card is read at the same
    // time (the vault index looking at the pictures just listed): let that finish first.
    QTRY_VERIFY_WITH_TIMEOUT(form.contentIndex()->idle(), 30000);
    QVERIFY(clickNode(form, 0, card + "/DCIM/100CANON"));
    QCOMPARE(cd.HiddenList().size(), 40);
    // Into a box, byte for byte; the card unchanged.
    QVERIFY(selectPicture(form, 0, card + "/DCIM/100CANON/IMG_0007.JPG"));
    QVERIFY(fileThroughChooser(form, form.RCD_Fav_Copy(), QStringLiteral("保管庫/旅行")));
    QVERIFY2(f.prompts.calls.isEmpty(), qPrintable(f.prompts.calls.value(0).text));
    QCOMPARE(contents(f.home.vault() + "/旅行/IMG_0007.JPG"), bytes.at(6));

    // Pulled while its folder is being listed: the listing ends (whole or stopped, as the
    // signs arrive), and then the root, the page and the choice go.
    bool pulled = false;
    auto connection = connect(cd.LEADThumb1(), &ThumbnailBrowser::ThumbnailReady, this, [&] {
        if (!pulled) {
            pulled = true;
            sd.unmount();
        }
    });
    QVERIFY(clickNode(form, 0, card + "/DCIM/100CANON"));
    disconnect(connection);
    QVERIFY(pulled);
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 1, 30000);
    QVERIFY(cd.HiddenList().isEmpty());
    QVERIFY(!cd.TabSelection());
    QVERIFY(readAll(image) == imageBefore); // 16 MiB: not printed when it differs
    form.close();
}

int main(int argc, char** argv)
{
    g_noNamespace = enterPrivateMountNamespace(true);
    QApplication app(argc, argv);
    TstCardImage t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_cardimage.moc"
