// Removable media as roots of the CD tab, from a faked list of media over real folders: their
// names, hidden folders, the camera card opened at DCIM, a copy into the vault, media that come
// and go while the window runs, "取り外し", the empty phone and the start with a card's path.
#include "../filing/FilingTestUtil.h"
#include "FileTestUtil.h"
#include "MainFormFixture.h"
#include "display/BrowseRun.h"
#include "imaging/PictureDisplay.h"
#include "mainwindow/CdTreeWatch.h"

#include <QTest>

using namespace ztv;
using namespace ztv::test;

namespace {

// A window whose CD tab sees a card and a stick (folders of a temporary directory).
struct MediaFixture : MainFormFixture {
    MediaFixture()
    {
        services.media = &media;
        card = addFolder(QStringLiteral("CANON_SD"));
        QDir(card).mkpath(QStringLiteral("DCIM/100CANON"));
        QDir(card).mkpath(QStringLiteral(".thumbnails"));
        QDir(card).mkpath(QStringLiteral("System Volume Information"));
        for (const char* name : { "IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG" })
            writeRaw(
                card + "/DCIM/100CANON/" + QLatin1String(name), pictures::jpeg({ 40, 30 }, Qt::darkGreen));
        stick = addFolder(QStringLiteral("stick"));
        QDir(stick).mkpath(QStringLiteral("旅行"));
        QDir(stick).mkpath(QStringLiteral("仕事"));
        media.list = { { "mount:40", card, "CANON_SD", "/dev/sdb1", "/d/reader", false, false },
            { "mount:41", stick, "PHOTOS", "/dev/sdc1", "/d/stick", true, false } };
        home.fillSample();
        load();
        form->show();
    }
    QString addFolder(const QString& name)
    {
        const QString path = places.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    FolderTree* tree() const { return form->area(Area::Cd).TreeView1(); }
    QStringList roots() const
    {
        QStringList out;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            out << tree()->topLevelItem(i)->text(0);
        return out;
    }
    QTreeWidgetItem* root(int i) const { return tree()->topLevelItem(i); }
    void clickRoot(int i)
    {
        tree()->setCurrentItem(root(i));
        form->area(Area::Cd).TreeView1_NodeClick(root(i));
    }
    QTemporaryDir places;
    FakeMedia media;
    QString card;
    QString stick;
};

} // namespace

class TstMediaRoots : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rootsAfterTheDisc();
    void cardOpensAtDcimAndCopiesIntoTheVault();
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

void TstMediaRoots::cardOpensAtDcimAndCopiesIntoTheVault()
{
    MediaFixture f;
    MainForm& form = *f.form;
    const auto cardBefore = snapshot(f.card);
    f.clickRoot(1);
    // DCIM is the card's only picture folder: the tree opens there.
    QCOMPARE(form.area(Area::Cd).CurrentNodePath(), f.card + "/DCIM");
    QVERIFY(f.tree()->currentItem() && f.tree()->currentItem()->text(0) == QLatin1String("DCIM"));
    QVERIFY(clickNode(form, 0, f.card + "/DCIM/100CANON"));
    QCOMPARE(form.area(Area::Cd).HiddenList().size(), 3);
    const QString picture = f.card + "/DCIM/100CANON/IMG_0002.JPG";
    QVERIFY(selectPicture(form, 0, picture));
    // Copied, never moved: the card keeps its file, the box gets the same bytes.
    QVERIFY(fileThroughChooser(form, form.RCD_Fav_Copy(), QStringLiteral("保管庫/旅行")));
    QCOMPARE(contents(f.home.vault() + "/旅行/IMG_0002.JPG"), contents(picture));
    QCOMPARE(snapshot(f.card), cardBefore);
    QVERIFY(f.prompts.calls.isEmpty());
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
    const QString phone = f.addFolder(QStringLiteral("mtp"));
    QDir(phone).mkpath(QStringLiteral("Internal shared storage"));
    f.media.list.append({ "mtp://Pixel/", phone, "Pixel 8", "", "", false, true });
    f.media.notify();
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

    // Busy: said so, the root stays.
    f.media.answer = { Removal::Result::Busy, QStringLiteral("target is busy") };
    f.tree()->setCurrentItem(f.root(2));
    form.action("Medium_Remove")->trigger();
    QCOMPARE(recorded(f.prompts), QStringList({ message(QStringLiteral("使用中のため取り外せません")) }));
    QCOMPARE(f.roots().size(), 3);
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
    QTreeWidgetItem* box = nodeAt(chooser->TreeView1, QStringLiteral("保管庫/旅行"));
    QVERIFY(box);
    chooser->TreeView1->setCurrentItem(box);
    chooser->TreeView1_NodeClick(box);
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
    const QString phone = f.addFolder(QStringLiteral("mtp"));
    f.media.list.append({ "mtp://Pixel/", phone, "Pixel 8", "", "", false, true });
    f.media.notify();
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

QTEST_MAIN(TstMediaRoots)
#include "tst_mediaroots.moc"
