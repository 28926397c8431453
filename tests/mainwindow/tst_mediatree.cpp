// The CD tab's tree with media: the disc's root read again without folding them, a camera card's
// pictures on a click on its root, the roots' pictures, and the media's own commands.
#include "../filing/FilingTestUtil.h"
#include "FileTestUtil.h"
#include "MediaWindowFixture.h"
#include "display/BrowseRun.h"
#include "mainwindow/MediumCommands.h"

#include <QAction>
#include <QTest>

using namespace ztv;
using namespace ztv::test;

namespace {

const QString Sr0 = QStringLiteral("/dev/sr0");

// A window whose CD tab sees a disc, a camera card, a stick and a phone.
struct TreeFixture : MediaWindowFixture {
    TreeFixture()
    {
        disc = addFolder(QStringLiteral("disc"));
        QDir(disc).mkpath(QStringLiteral("写真"));
        drives.devices = { Sr0 };
        drives.media = { Sr0 };
        drives.mountTable = { { Sr0, disc, QStringLiteral("iso9660"), 30 } };
        card = addCard(2, { QStringLiteral("DCIM/.thumbnails") });
        stick = addStick({ QStringLiteral("旅行/春") });
        addPhone();
        open();
    }
    BrowsingArea& cd() const { return form->area(Area::Cd); }
    QString disc, card, stick;
};

} // namespace

class TstMediaTree : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void discRootKeepsTheMedia();
    void cameraCardShowsItsPictures();
    void cameraFolderChosen();
    void mediaIcons();
    void mediumCommands();
};

void TstMediaTree::discRootKeepsTheMedia()
{
    TreeFixture f;
    QVERIFY(clickNode(*f.form, 0, f.stick + "/旅行"));
    QTreeWidgetItem* stickRoot = f.root(2);
    QTreeWidgetItem* trip = nodeAt(f.tree(), f.stick + "/旅行");
    QVERIFY(stickRoot->isExpanded() && trip);

    // The disc's root clicked: read again, first, current; the media's roots keep their nodes.
    f.clickRoot(0);
    QCOMPARE(childTexts(f.root(0)), QStringList({ "写真" }));
    QCOMPARE(f.tree()->currentItem(), f.root(0));
    QVERIFY(f.root(2) == stickRoot && stickRoot->isExpanded());
    QCOMPARE(nodeAt(f.tree(), f.stick + "/旅行"), trip);

    // The disc swapped while the user is on the stick: the stick's node stays current.
    QVERIFY(clickNode(*f.form, 0, f.stick + "/旅行"));
    const QString other = f.addFolder(QStringLiteral("disc2"));
    QDir(other).mkpath(QStringLiteral("MISC"));
    f.drives.mountTable = { { Sr0, other, QStringLiteral("iso9660"), 31 } };
    f.drives.notify();
    QTRY_COMPARE_WITH_TIMEOUT(FolderTree::nodeKey(f.root(0)), other, 30000);
    QCOMPARE(childTexts(f.root(0)), QStringList({ "MISC" }));
    QCOMPARE(f.tree()->currentItem(), trip);
}

void TstMediaTree::cameraCardShowsItsPictures()
{
    TreeFixture f;
    // The tree opens at DCIM, with its camera folder shown; the page holds that folder's
    // pictures at once, and what the camera keeps for itself is not shown.
    f.clickRoot(1);
    QCOMPARE(f.cd().CurrentNodePath(), f.card + "/DCIM");
    QCOMPARE(childTexts(nodeAt(f.tree(), f.card + "/DCIM")), QStringList({ "100CANON" }));
    QCOMPARE(f.cd().HiddenList(),
        QStringList({ f.card + "/DCIM/100CANON/IMG_0001.JPG", f.card + "/DCIM/100CANON/IMG_0002.JPG" }));
    // The stock yard's delete and the rename leave a card's picture alone, whatever is answered.
    QVERIFY(selectPicture(*f.form, 0, f.card + "/DCIM/100CANON/IMG_0002.JPG"));
    f.prompts.answerMessage(PromptAnswer::Ok);
    f.form->R_Del()->trigger();
    f.form->RF_Mod()->trigger();
    QCOMPARE(QDir(f.card + "/DCIM/100CANON").entryList(QDir::Files),
        QStringList({ "IMG_0001.JPG", "IMG_0002.JPG" }));
}

void TstMediaTree::cameraFolderChosen()
{
    const QString d = QStringLiteral("/m/DCIM/");
    QCOMPARE(cameraFolder({ d + "Misc" }), d + "Misc"); // the only one
    QCOMPARE(cameraFolder({ d + "100CANON", d + "102CANON", d + "101_PANA" }), d + "102CANON");
    QCOMPARE(cameraFolder({ d + "Screenshots", d + "camera", d + "100ANDRO" }), d + "camera");
    QCOMPARE(cameraFolder({ d + "100abcde", d + "Misc" }), d + "100abcde");
    QCOMPARE(cameraFolder({ d + "1000ABCDE", d + "099ABCDE", d + "Misc" }), QString()); // no DCF names
}

void TstMediaTree::mediaIcons()
{
    TreeFixture f;
    QCOMPARE(FolderTree::imageKey(f.root(0)), QStringLiteral("Drive"));
    QCOMPARE(FolderTree::imageKey(f.root(1)), QStringLiteral("Medium"));
    QCOMPARE(FolderTree::imageKey(f.root(3)), QStringLiteral("Phone"));
    f.root(1)->setExpanded(true); // opened, a medium's root keeps its picture
    QCOMPARE(FolderTree::imageKey(f.root(1)), QStringLiteral("Medium"));
}

void TstMediaTree::mediumCommands()
{
    // The commands work from the CD tab, the operation under way and the messages alone.
    TreeFixture f;
    int shown = 0;
    MediumCommands commands(f.cd(), *f.form->operationRun(), f.prompts, [&shown] { ++shown; });
    f.tree()->setCurrentItem(f.root(0)); // the disc's root is no medium
    commands.removeMarked();
    QVERIFY(f.media.removals.isEmpty());
    f.tree()->setCurrentItem(f.root(2));
    commands.removeMarked();
    QCOMPARE(f.tree()->topLevelItemCount(), 3);
    {
        const BrowseRun::Hold hold(f.form->operationRun());
        QVERIFY(!commands.openAt(f.card + "/DCIM/100CANON"));
    }
    QVERIFY(commands.openAt(f.card + "/DCIM/100CANON"));
    QCOMPARE(shown, 2);
    QCOMPARE(f.cd().HiddenList().size(), 2);
}

QTEST_MAIN(TstMediaTree)
#include "tst_mediatree.moc"
