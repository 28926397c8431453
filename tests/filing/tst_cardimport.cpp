// "新しい画像を保管庫へコピー…" over a card (a folder given as a medium, or a FAT card image
// mounted through FUSE on it): what is new is copied with its companions, what the vault holds
// is not, a taken name is numbered, the whole is one step undone exactly; a copy that is not
// proved, and Esc in the middle, leave no half file.
#include "CardImage.h"
#include "FileTestUtil.h"
#include "FilingTestUtil.h"
#include "display/BrowseRun.h"
#include "filing/CardImport.h"
#include "mainwindow/FilingCommands.h"
#include "platform/ContentIndex.h"

#include <QTemporaryDir>
#include <QTest>

using namespace ztv;
using namespace ztv::test;
using faults::Op;

namespace {

const QString kBox = QStringLiteral("保管庫/旅行");
QString g_noNamespace; // why the process has no mount namespace of its own; "" when it has

QByteArray picture(int shade, qsizetype padTo = 0)
{
    QByteArray bytes = pictures::jpeg({ 24, 18 }, QColor(shade, 255 - shade, 90));
    if (bytes.size() < padTo)
        bytes += QByteArray(padTo - bytes.size(), char(shade)); // after the end of the picture
    return bytes;
}

// A window whose CD tab shows a camera card: DCIM/100CANON with a JPEG and its RAW, a phone
// picture with its clip and edit record, a picture the vault holds under another name, one
// whose name the box holds with other content (and its sidecar), and files that are not
// pictures. bigPictures large ones that sort first, for a copy that can be stopped.
struct CardFixture : MainFormFixture {
    explicit CardFixture(CardOn on = CardOn::Folder, int bigPictures = 0)
    {
        services.media = &media;
        card = places.filePath(QStringLiteral("CANON_SD"));
        dcim = card + QStringLiteral("/DCIM/100CANON/");
        QDir().mkpath(dcim);
        QDir().mkpath(card + QStringLiteral("/.thumbnails"));
        writeRaw(card + QStringLiteral("/.thumbnails/t.jpg"), picture(5));
        writeRaw(dcim + QStringLiteral("IMG_0001.JPG"), picture(10));
        writeRaw(dcim + QStringLiteral("IMG_0001.CR3"), QByteArray("raw data of 0001"));
        writeRaw(dcim + QStringLiteral("IMG_0002.JPG"), picture(20));
        writeRaw(dcim + QStringLiteral("IMG_0003.HEIC"), picture(30));
        writeRaw(dcim + QStringLiteral("IMG_0003.MOV"), QByteArray("motion of 0003"));
        writeRaw(dcim + QStringLiteral("IMG_0003.AAE"), QByteArray("<plist/>"));
        writeRaw(dcim + QStringLiteral("IMG_0004.JPG"), picture(40));
        writeRaw(dcim + QStringLiteral("IMG_0004.JPG.xmp"), QByteArray("<x:xmpmeta/>"));
        writeRaw(dcim + QStringLiteral("readme.txt"), QByteArray("not a picture"));
        for (int i = 0; i < bigPictures; ++i)
            writeRaw(dcim + QStringLiteral("A_BIG_%1.JPG").arg(i), picture(100 + i, 3 * 1024 * 1024));
        cardFailed = putOnCard(image, on, card, places.filePath(QStringLiteral("card.img")), 32);
        media.list = { { "mount:40", card, "CANON_SD", "/dev/sdb1", "/d/reader", false, false } };
        home.fillSample();
        home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/kyoto.jpg"), picture(20));
        home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/IMG_0004.JPG"), picture(41));
        load();
        form->show();
    }
    QString box(const QString& name = QString()) const
    {
        return home.vault() + QStringLiteral("/旅行") + (name.isEmpty() ? QString() : u'/' + name);
    }
    bool settle() { return indexSettled(*form); }
    // Right-click on the card's folder node (its root when none given), the command, the box in
    // its chooser, its button.
    bool import(const QString& treePath = QString())
    {
        FolderTree* tree = form->area(Area::Cd).TreeView1();
        return importFromMedium(
            *this, treePath.isEmpty() ? tree->topLevelItem(1) : nodeAt(tree, treePath), kBox);
    }
    QStringList boxNames() const
    {
        QStringList names = QDir(box()).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        return names;
    }

    QTemporaryDir places;
    FakeMedia media;
    QString card;
    QString dcim;
    CardImage image { g_noNamespace };
    QString cardFailed; // why the card image could not be had
};

// The closing message's counts.
QString closing(int copied, int inVault, int renamed)
{
    QStringList lines { QStringLiteral("保管庫へコピーしました：%1 個").arg(copied) };
    if (inVault)
        lines << QStringLiteral("すでに保管庫にあるため、コピーしなかったもの：%1 個").arg(inVault);
    if (renamed)
        lines << QStringLiteral("同じ名前の別の画像があるため、名前に番号を付けたもの：%1 個").arg(renamed);
    return lines.join(u'\r');
}

} // namespace

class TstCardImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { faults::reset(); }
    void cleanup() { faults::reset(); }
    void newPicturesWithCompanionsOneStep_data() { addCardRows(true, false); }
    void newPicturesWithCompanionsOneStep();
    void unprovedCopiesPublishNothing();
    void escLeavesEveryFileWholeOrAbsent_data() { addCardRows(true, false); }
    void escLeavesEveryFileWholeOrAbsent();
};

void TstCardImport::newPicturesWithCompanionsOneStep()
{
    QFETCH(const CardOn, on);
    if (const QString why = cardUnavailable(on, g_noNamespace); !why.isEmpty())
        QSKIP(qPrintable(why));
    CardFixture f(on);
    QVERIFY2(f.cardFailed.isEmpty(), qPrintable(f.cardFailed));
    QVERIFY(f.settle());
    const QMap<QString, QByteArray> cardBefore = snapshot(f.card);
    const QMap<QString, QByteArray> boxBefore = snapshot(f.box());
    QVERIFY(f.import());
    // Copied: 0001 and its RAW, 0003 with its clip and edit record, 0004 numbered with its
    // sidecar; 0002 is in the vault as kyoto.jpg; the text file and the hidden folder stay.
    QCOMPARE(f.boxNames().join(u','),
        QStringList({ "IMG_0001.CR3", "IMG_0001.JPG", "IMG_0003.AAE", "IMG_0003.HEIC", "IMG_0003.MOV",
                        "IMG_0004 (2).JPG", "IMG_0004 (2).JPG.xmp", "IMG_0004.JPG", "a.jpg", "kyoto.jpg" })
            .join(u','));
    for (const char* name :
        { "IMG_0001.JPG", "IMG_0001.CR3", "IMG_0003.HEIC", "IMG_0003.MOV", "IMG_0003.AAE" })
        QCOMPARE(contents(f.box(QLatin1String(name))), contents(f.dcim + QLatin1String(name)));
    QCOMPARE(contents(f.box(QStringLiteral("IMG_0004 (2).JPG"))), picture(40));
    QCOMPARE(contents(f.box(QStringLiteral("IMG_0004.JPG"))), picture(41));
    QCOMPARE(recorded(f.prompts), QStringList({ message(closing(7, 1, 2)) }));
    QCOMPARE(snapshot(f.card), cardBefore);
    // The vault tab shows the box it filed into.
    QCOMPARE(f.form->area(Area::Vault).ListedFolder(), f.box());

    // Again over the same card: everything is in the vault now, nothing is copied.
    f.prompts.calls.clear();
    QVERIFY(f.settle());
    QVERIFY(f.import(f.card + QStringLiteral("/DCIM")));
    QCOMPARE(recorded(f.prompts), QStringList({ message(closing(0, 8, 0)) }));
    QCOMPARE(f.boxNames().size(), 10);

    // One step: undone, exactly its seven copies go to the trash.
    f.form->filingCommands().Undo()->trigger();
    QCOMPARE(snapshot(f.box()), boxBefore);
    const QString trash = f.home.home() + QStringLiteral("/.local/share/Trash/files/");
    QCOMPARE(contents(trash + QStringLiteral("IMG_0004 (2).JPG")), picture(40));
    QCOMPARE(snapshot(f.card), cardBefore);
}

// A copy is named only once read back equal to what was read from the card: a write that lands
// one byte wrong, or a card file changed while it is read, leaves nothing under its name, is
// said with its reason, and the other files are copied.
void TstCardImport::unprovedCopiesPublishNothing()
{
    CardFixture f;
    QVERIFY(f.settle());
    // Each copy writes once; the first picture's copy (IMG_0001.CR3 goes first) lands wrong.
    faults::arm(Op::Write, 1, faults::kFlipByte);
    // The phone picture grows while its copy is written.
    const QString heic = f.dcim + QStringLiteral("IMG_0003.HEIC");
    std::atomic<int> copies { 0 };
    faults::setHook([&](Op op, int) {
        if (op != Op::Statvfs || onMainThread())
            return;
        if (++copies == 4) { // 0001.CR3, 0001.JPG, 0003.AAE, 0003.HEIC
            QFile grow(heic);
            if (grow.open(QIODevice::Append))
                grow.write("more");
        }
    });
    QVERIFY(f.import());
    faults::setHook({});
    QCOMPARE(f.boxNames().join(u','),
        QStringLiteral("IMG_0001.JPG,IMG_0003.AAE,IMG_0003.MOV,IMG_0004 (2).JPG,IMG_0004 (2).JPG.xmp,"
                       "IMG_0004.JPG,a.jpg,kyoto.jpg"));
    QCOMPARE(recorded(f.prompts),
        QStringList({ critical(closing(5, 1, 2)
                + QStringLiteral("\r次のファイルは処理できませんでした：\r"
                                 "IMG_0001.CR3（コピーした内容がコピー元と一致しません）\r"
                                 "IMG_0003.HEIC（コピー元がコピー中に変更されました）"),
            QStringLiteral("コピーエラー")) }));
}

// Esc while a file is being copied (held at its second block): that copy is taken back, no
// later file starts, and every file of the box is whole or absent.
void TstCardImport::escLeavesEveryFileWholeOrAbsent()
{
    QFETCH(const CardOn, on);
    if (const QString why = cardUnavailable(on, g_noNamespace); !why.isEmpty())
        QSKIP(qPrintable(why));
    // Large pictures that sort first: the copy held is the run's first.
    CardFixture f(on, 3);
    QVERIFY2(f.cardFailed.isEmpty(), qPrintable(f.cardFailed));
    QVERIFY(f.settle());
    const QMap<QString, QByteArray> boxBefore = snapshot(f.box());
    QWidget* window = f.form.get();
    CopyGate gate(window, [window] { QTest::keyClick(window, Qt::Key_Escape); });
    QVERIFY(f.import());
    QVERIFY(gate.ran());
    // The held copy was taken back and nothing after it began; no hidden file is left.
    QCOMPARE(snapshot(f.box()), boxBefore);
    QCOMPARE(recorded(f.prompts),
        QStringList({ message(closing(0, 0, 0) + QStringLiteral("\rEscキーで中止しました")) }));
    QVERIFY(!f.form->operationRun()->busy());
}

int main(int argc, char** argv)
{
    g_noNamespace = enterPrivateMountNamespace(false);
    QApplication app(argc, argv);
    TstCardImport t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_cardimport.moc"
