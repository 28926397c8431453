// Removable media as roots of the CD tab, from a faked list of media over real folders: their
// names, hidden folders, the camera card opened at DCIM, a copy into the vault, media that come
// and go while the window runs, "取り外し", the empty phone and the start with a card's path.
#include "../filing/FilingTestUtil.h"
#include "FileTestUtil.h"
#include "GvfsSession.h"
#include "MainFormFixture.h"
#include "MediaWindowFixture.h"
#include "display/BrowseRun.h"
#include "filing/Journal.h"
#include "imaging/PictureDisplay.h"
#include "platform/FileOps.h"
#include "platform/LinuxMedia.h"

#include <QProcess>
#include <QTest>

using namespace ztv;
using namespace ztv::test;

namespace {

// A window whose CD tab sees a card and a stick.
struct MediaFixture : MediaWindowFixture {
    MediaFixture()
    {
        card = addCard(3, { QStringLiteral(".thumbnails"), QStringLiteral("System Volume Information") });
        stick = addStick({ QStringLiteral("旅行"), QStringLiteral("仕事") });
        open();
    }
    QString card;
    QString stick;
};

} // namespace

class TstMediaRoots : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rootsAfterTheDisc();
    void gvfsArchive();
    void mediaComeAndGo();
    void safeRemoval();
    void pulledWhileTheChooserWaits();
    void emptyPhone();
    void startedWithTheCardsPath();
};

void TstMediaRoots::rootsAfterTheDisc()
{
    MediaFixture f;
    // The disc's root first, as without media (no drive: ":"), then each medium by its name.
    QCOMPARE(f.roots(), QStringList({ ":", "CANON_SD", "PHOTOS" }));
    QCOMPARE(f.root(1)->toolTip(0), f.card);
    QCOMPARE(f.root(1)->data(0, Qt::AccessibleDescriptionRole).toString(), f.card);
    // Its folders on disk; what cameras and desktops keep for themselves is not shown.
    QCOMPARE(childTexts(f.root(1)), QStringList({ "DCIM" }));
    QCOMPARE(childTexts(f.root(2)), QStringList({ "仕事", "旅行" }));
    QCOMPARE(f.tree()->treePath(f.root(2)->child(1)), f.stick + "/旅行");
}

void TstMediaRoots::mediaComeAndGo()
{
    MediaFixture f;
    MainForm& form = *f.form;
    BrowsingArea& cd = form.area(Area::Cd);
    // The user is on the stick's 旅行; the card's page is listed on another root.
    QVERIFY(clickNode(form, 0, f.stick + "/旅行"));
    f.root(2)->setExpanded(true);

    // A phone comes: a root at the end; the stick's node stays open and current.
    f.addPhone(QStringLiteral("Internal shared storage"));
    QCOMPARE(f.roots(), QStringList({ ":", "CANON_SD", "PHOTOS", "Pixel 8" }));
    QCOMPARE(cd.CurrentNodePath(), f.stick + "/旅行");
    QVERIFY(f.root(2)->isExpanded());

    // While an operation is under way the tree waits; the listing of another medium goes on.
    {
        const BrowseRun::Hold hold(form.operationRun());
        f.media.list.removeAt(0);
        f.media.notify();
        QCOMPARE(f.roots().size(), 4);
        QVERIFY(!form.operationRun()->gBrowseQuit());
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.roots(), QStringList({ ":", "PHOTOS", "Pixel 8" }), 30000);
    QCOMPARE(cd.CurrentNodePath(), f.stick + "/旅行");

    // The stick is pulled while its page is shown with a picture chosen: the page, the display
    // and the choice empty, its root goes.
    writeRaw(f.stick + "/旅行/a.jpg", pictures::jpeg({ 20, 20 }));
    QVERIFY(clickNode(form, 0, f.stick + "/旅行"));
    QVERIFY(selectPicture(form, 0, f.stick + "/旅行/a.jpg"));
    f.media.list.removeAt(0);
    f.media.notify();
    QCOMPARE(f.roots(), QStringList({ ":", "Pixel 8" }));
    QVERIFY(cd.HiddenList().isEmpty());
    QVERIFY(!cd.TabSelection());
    QVERIFY(!cd.LEAD1()->hasPicture());
    QVERIFY(cd.ListedFolder().isEmpty());
    QCOMPARE(cd.invariantViolation(), QString());
}

void TstMediaRoots::safeRemoval()
{
    MediaFixture f;
    MainForm& form = *f.form;
    // The menu is offered over a medium's root, not over the disc's or a folder.
    const QPoint onCard = f.tree()->visualItemRect(f.root(1)).center();
    form.area(Area::Cd).TreeView1_MouseButton(Qt::RightButton, onCard);
    QCOMPARE(f.openedMenus, QStringList({ "menu_Medium" }));
    QCOMPARE(form.action("Medium_Remove")->text(), QStringLiteral("取り外し"));
    form.area(Area::Cd).TreeView1_MouseButton(Qt::RightButton, f.tree()->visualItemRect(f.root(0)).center());
    QCOMPARE(f.openedMenus.size(), 1);
    // The menu key on the root does the same.
    f.tree()->setCurrentItem(f.root(2));
    f.tree()->setFocus();
    QTest::keyClick(f.tree(), Qt::Key_Menu);
    QCOMPARE(f.openedMenus, QStringList({ "menu_Medium", "menu_Medium" }));

    // Busy: said so, the root stays, and so does its page.
    QVERIFY(clickNode(form, 0, f.stick + "/旅行"));
    f.media.answer = { Removal::Result::Busy, QStringLiteral("target is busy") };
    f.tree()->setCurrentItem(f.root(2));
    form.action("Medium_Remove")->trigger();
    QCOMPARE(recorded(f.prompts), QStringList({ message(QStringLiteral("使用中のため取り外せません")) }));
    QCOMPARE(f.roots().size(), 3);
    QCOMPARE(form.area(Area::Cd).ListedFolder(), f.stick + "/旅行");
    // Another refusal gives the system's own reason.
    f.prompts.calls.clear();
    f.media.answer = { Removal::Result::Failed, QStringLiteral("Not authorized") };
    form.action("Medium_Remove")->trigger();
    QCOMPARE(recorded(f.prompts), QStringList({ message(QStringLiteral("Not authorized")) }));
    // Refused while an operation is under way: nothing is asked of the system.
    f.media.removals.clear();
    f.media.answer = {};
    {
        const BrowseRun::Hold hold(form.operationRun());
        form.action("Medium_Remove")->trigger();
    }
    QVERIFY(f.media.removals.isEmpty());
    // Done: the stick's root goes at once, its page with it.
    QVERIFY(clickNode(form, 0, f.stick + "/旅行"));
    f.tree()->setCurrentItem(f.root(2));
    form.action("Medium_Remove")->trigger();
    QCOMPARE(f.media.removals.size(), 1);
    QCOMPARE(f.media.removals.front().name, QStringLiteral("PHOTOS"));
    QCOMPARE(f.roots(), QStringList({ ":", "CANON_SD" }));
    QVERIFY(form.area(Area::Cd).ListedFolder().isEmpty());
}

void TstMediaRoots::pulledWhileTheChooserWaits()
{
    MediaFixture f;
    MainForm& form = *f.form;
    writeRaw(f.stick + "/旅行/a.jpg", pictures::jpeg({ 20, 20 }));
    QVERIFY(clickNode(form, 0, f.stick + "/旅行"));
    QVERIFY(selectPicture(form, 0, f.stick + "/旅行/a.jpg"));
    form.RCD_Fav_Copy()->trigger();
    SetFolder* chooser = form.vaultTransfer().chooser();
    QVERIFY(chooser);
    // The stick is pulled: its files are gone with it.
    QVERIFY(QDir(f.stick).removeRecursively());
    f.media.list.removeAt(1);
    f.media.notify();
    QTRY_COMPARE_WITH_TIMEOUT(f.roots(), QStringList({ ":", "CANON_SD" }), 30000);
    const auto vaultBefore = snapshot(f.home.vault());
    QVERIFY(pickBox(*chooser, QStringLiteral("保管庫/旅行")));
    chooser->Command1_Click(0);
    // Refused with the message of a choice that ended; nothing, not even a part, in the vault.
    QCOMPARE(f.prompts.calls.size(), 1);
    QVERIFY2(f.prompts.calls.front().text.startsWith(QStringLiteral("選択中の画像")),
        qPrintable(f.prompts.calls.front().text));
    QCOMPARE(snapshot(f.home.vault()), vaultBefore);
}

void TstMediaRoots::emptyPhone()
{
    MediaFixture f;
    const QString phone = f.addPhone();
    QLabel* hint = f.form->area(Area::Cd).mediumHint();
    f.clickRoot(3);
    QVERIFY(hint->isVisible());
    QCOMPARE(
        hint->text(), QStringLiteral("スマートフォンのロックを解除し、「ファイル転送」を許可してください"));
    // Unlocked: a click on the root reads it again.
    QDir(phone).mkpath(QStringLiteral("Internal shared storage/DCIM"));
    writeRaw(phone + "/p.jpg", pictures::jpeg({ 20, 20 }));
    f.clickRoot(3);
    QVERIFY(!hint->isVisible());
    QCOMPARE(f.form->area(Area::Cd).HiddenList(), QStringList({ phone + "/p.jpg" }));
    // A card's empty folder is no phone: no hint.
    QDir(f.stick).removeRecursively();
    QDir().mkpath(f.stick);
    f.clickRoot(2);
    QVERIFY(!hint->isVisible());
}

void TstMediaRoots::startedWithTheCardsPath()
{
    MediaFixture f;
    f.form->SSTab1()->setCurrentIndex(tabIndex(Area::Vault));
    QVERIFY(!f.form->openMediumAt(QStringLiteral("/nowhere")));
    QVERIFY(f.form->openMediumAt(f.stick + "/"));
    QCOMPARE(f.form->SSTab1()->currentIndex(), tabIndex(Area::Cd));
    QCOMPARE(f.tree()->currentItem(), f.root(2));
    QCOMPARE(f.form->area(Area::Cd).ListedFolder(), f.stick);
    // A folder on a medium opens the tree down to it.
    QVERIFY(f.form->openMediumAt(f.card + "/DCIM/100CANON"));
    QCOMPARE(f.form->area(Area::Cd).CurrentNodePath(), f.card + "/DCIM/100CANON");
    QCOMPARE(f.form->area(Area::Cd).HiddenList().size(), 3);
}

// A real GVfs mount on a private session bus: an archive of pictures opened as a file manager
// does, seen through GIO's volume monitor and read through GVfs's FUSE view, as a phone is.
void TstMediaRoots::gvfsArchive()
{
    GvfsSession gvfs;
    if (!gvfs.unavailable().isEmpty())
        QSKIP(qPrintable(gvfs.unavailable()));
    const QString gio = gvfs.gio();
    const QString runtime = gvfs.runtime;
    QTemporaryDir dir;
    const QString pictures = dir.filePath(QStringLiteral("pics"));
    QVERIFY(QDir().mkpath(pictures + "/DCIM/Camera")
        && writeRaw(pictures + "/DCIM/Camera/PXL_1.jpg", pictures::jpeg({ 32, 24 }, Qt::red)));
    const QString tar = gvfs.tarOf(pictures, QStringLiteral("DCIM"));
    QVERIFY(!tar.isEmpty());

    MainFormFixture f;
    FakeDrives noMounts;
    LinuxMedia media(noMounts, QDBusConnection(QStringLiteral("none")), QStringLiteral("x"));
    f.services.media = &media;
    f.home.fillSample();
    MainForm& form = f.load();
    FolderTree* tree = form.area(Area::Cd).TreeView1();
    for (int round = 0; round < 2; ++round) {
        QVERIFY(gvfs.mountArchive(tar));
        // Only GIO tells it: the mount table gains nothing.
        QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 2, 30000);
        QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("photos.tar"));
        const QString root = FolderTree::nodeKey(tree->topLevelItem(1));
        QVERIFY2(root.startsWith(runtime + "/gvfs/archive:"), qPrintable(root));
        if (round == 0) {
            tree->setCurrentItem(tree->topLevelItem(1));
            form.area(Area::Cd).TreeView1_NodeClick(tree->topLevelItem(1)); // opens at DCIM
            QVERIFY(clickNode(form, 0, root + "/DCIM/Camera"));
            // An archive's members are streams that cannot be sought: thumbnails are made from
            // a copy in memory.
            QCOMPARE(form.area(Area::Cd).HiddenList(), QStringList({ root + "/DCIM/Camera/PXL_1.jpg" }));
            // Chosen, it is shown, read once into memory.
            const QString member = root + "/DCIM/Camera/PXL_1.jpg";
            QVERIFY(selectPicture(form, 0, member));
            QVERIFY(form.area(Area::Cd).LEAD1()->hasPicture());
            // Copied into a box through the chooser: the same bytes, one step, the archive as
            // it was.
            const QByteArray tarBefore = readAll(tar);
            const qsizetype steps = form.journal()->steps().size();
            QVERIFY(fileThroughChooser(form, form.RCD_Fav_Copy(), QStringLiteral("保管庫/旅行")));
            QVERIFY2(f.prompts.calls.isEmpty(), qPrintable(f.prompts.calls.value(0).text));
            QCOMPARE(
                readAll(f.home.vault() + "/旅行/PXL_1.jpg"), readAll(pictures + "/DCIM/Camera/PXL_1.jpg"));
            QCOMPARE(form.journal()->steps().size(), steps + 1);
            // A move reads it once, checks the copy against what it read, and takes the copy
            // away again when the archive refuses to give up its member.
            const QString moved = f.home.vault() + "/旅行/moved.jpg";
            const FileResult move = realFileOps().moveNoReplace(member, moved);
            QVERIFY2(move.detail.startsWith(QStringLiteral("移動元のファイルを削除できませんでした")),
                qPrintable(move.detail));
            QVERIFY(!QFileInfo::exists(moved));
            QCOMPARE(readAll(tar), tarBefore);
            // "取り外し": GIO unmounts it.
            tree->setCurrentItem(tree->topLevelItem(1));
            form.action("Medium_Remove")->trigger();
        } else {
            QProcess list;
            list.start(gio, { QStringLiteral("mount"), QStringLiteral("-l") });
            QVERIFY(list.waitForFinished(30000));
            const QString line = QString::fromUtf8(list.readAllStandardOutput());
            const qsizetype at = line.indexOf(QLatin1String("archive://"));
            QVERIFY2(at >= 0, qPrintable(line));
            QCOMPARE(QProcess::execute(gio,
                         { QStringLiteral("mount"), QStringLiteral("-u"),
                             line.mid(at, line.indexOf(QLatin1Char('\n'), at) - at).trimmed() }),
                0);
        }
        QVERIFY2(f.prompts.calls.isEmpty(), qPrintable(f.prompts.calls.value(0).text));
        QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 1, 30000);
    }
}

QTEST_MAIN(TstMediaRoots)
#include "tst_mediaroots.moc"
