// Pictures whose content is already in the vault: the mark on their thumbnails, the question
// before filing them, and the content index following the vault.
#include "FileTestUtil.h"
#include "FilingTestUtil.h"
#include "filing/Companions.h"
#include "mainwindow/FilingCommands.h"
#include "platform/ContentIndex.h"

#include <QAction>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ztv;
using namespace ztv::test;

namespace {

const QString kInVaultTitle = QStringLiteral("保管庫にある画像");

// A JPEG made larger than the two ends the fast hash reads, by comments after its start, so a
// byte changed in the middle leaves the hash as it was and only the full comparison tells.
QByteArray paddedJpeg(QColor colour)
{
    const QByteArray jpeg = pictures::jpeg({ 40, 30 }, colour);
    QByteArray padding;
    for (int i = 0; i < 4; ++i) {
        padding += QByteArray("\xFF\xFE\xEA\x60", 4); // a comment of 60,000 bytes
        padding += QByteArray(60000 - 2, char('a' + i));
    }
    return jpeg.left(2) + padding + jpeg.mid(2);
}

QByteArray oneByteChanged(QByteArray bytes)
{
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
    return bytes;
}

// A folder's time set well apart from now: a change made outside within the file system's
// clock tick would otherwise leave it as it was.
void touchFolder(const QString& folder, time_t seconds)
{
    const timespec times[2] = { { seconds, 0 }, { seconds, 0 } };
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), times, 0) == 0);
}

struct CopiesFixture : MainFormFixture {
    CopiesFixture()
    {
        home.fillSample();
        big = paddedJpeg(Qt::darkGreen);
        home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/big.jpg"), big);
        same = home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/same.jpg"), big);
        differs = home.write(
            QStringLiteral("My Documents/ZTV_DATA/ストックヤード/differs.jpg"), oneByteChanged(big));
        copyOfA = home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/copy-of-a.jpg"),
            contents(vault(QStringLiteral("旅行/a.jpg"))));
    }
    ContentIndex& index() { return *form->contentIndex(); }
    // The index's work done and its answers delivered.
    bool settle()
    {
        if (!QTest::qWaitFor([this] { return index().idle(); }, 30000))
            return false;
        QCoreApplication::processEvents();
        return true;
    }
    BrowsingArea& stock() { return form->area(Area::StockYard); }
    QString markOf(const QString& file)
    {
        const int row = int(stock().HiddenList().indexOf(file));
        return row < 0 ? QStringLiteral("<not listed>") : stock().LEADImgList1()->mark(row);
    }
    QStringList marked()
    {
        QStringList out;
        for (const QString& file : stock().HiddenList())
            if (!markOf(file).isEmpty())
                out << file.mid(file.lastIndexOf(u'/') + 1);
        out.sort();
        return out;
    }
    void relistStock()
    {
        form->SSTab1()->setCurrentIndex(1);
        stock().list(home.stockYard(), BrowsingArea::ListHow::Show);
    }
    QString vault(const QString& rel) const { return home.vault() + u'/' + rel; }

    QByteArray big;
    QString same, differs, copyOfA;
};

QString markText(const QString& vaultPath)
{
    return QStringLiteral("保管庫に同じ内容のファイルがあります：保管庫/") + vaultPath;
}

} // namespace

class TstVaultCopies : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void markFollowsContent();
    void filingAMarkedPictureAsks();
    void filingSeveralAsksOnce();
    void indexFollowsOwnFiling();
    void outsideChangesAreNoticed();
    void marksFollowOwnChangesAndUndo();
    void companionsGroup_data();
    void companionsGroup();
    void sameBytesFromDisk();
};

void TstVaultCopies::markFollowsContent()
{
    CopiesFixture f;
    // A link in the vault to a folder elsewhere is not walked: its files are not the vault's.
    QVERIFY(QFile::link(f.home.stockYard(), f.vault(QStringLiteral("リンク"))));
    f.load();
    QVERIFY(f.form->contentIndex());
    QVERIFY(f.settle());
    // An identical file under another name is marked; one byte different in the middle (same
    // size, same ends) is not; nor is anything else of the page.
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg", "same.jpg" }));
    QCOMPARE(f.markOf(f.same), markText(QStringLiteral("旅行/big.jpg")));
    QCOMPARE(f.markOf(f.copyOfA), markText(QStringLiteral("旅行/a.jpg")));
    QCOMPARE(f.markOf(f.differs), QString());
    // The tool tip and the accessible description say so; the accessible name stays the name.
    const QAbstractItemModel* model = f.stock().LEADImgList1()->model();
    const QModelIndex row = model->index(int(f.stock().HiddenList().indexOf(f.same)), 0);
    QCOMPARE(row.data(Qt::AccessibleDescriptionRole).toString(), markText(QStringLiteral("旅行/big.jpg")));
    QCOMPARE(row.data(Qt::ToolTipRole).toString(),
        QStringLiteral("same.jpg\n") + markText(QStringLiteral("旅行/big.jpg")));
    QCOMPARE(row.data(Qt::AccessibleTextRole).toString(), QStringLiteral("same.jpg"));

    // The CD tab marks the same way.
    QTemporaryDir disc;
    QFile::copy(f.same, disc.filePath(QStringLiteral("DSC0001.JPG")));
    QFile::copy(f.differs, disc.filePath(QStringLiteral("DSC0002.JPG")));
    f.drives.devices = { QStringLiteral("/dev/sr0") };
    f.drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
    f.form->SSTab1()->setCurrentIndex(0);
    BrowsingArea& cd = f.form->area(Area::Cd);
    cd.list(disc.path(), BrowsingArea::ListHow::Show);
    QVERIFY(f.settle());
    QCOMPARE(cd.HiddenList().size(), 2);
    QCOMPARE(cd.LEADImgList1()->markCount(), 1);
    QCOMPARE(
        cd.LEADImgList1()->mark(int(cd.HiddenList().indexOf(disc.filePath(QStringLiteral("DSC0001.JPG"))))),
        markText(QStringLiteral("旅行/big.jpg")));

    // A page listed again starts without marks of its own until the index answers.
    QVERIFY(QFile::remove(f.vault(QStringLiteral("旅行/a.jpg"))));
    touchFolder(f.vault(QStringLiteral("旅行")), 1100000000);
    f.relistStock();
    QVERIFY(f.settle());
    QCOMPARE(f.marked(), (QStringList { "same.jpg" }));
}

void TstVaultCopies::filingAMarkedPictureAsks()
{
    CopiesFixture f;
    f.load();
    QVERIFY(f.settle());
    const QString ask = QStringLiteral("同じ内容のファイルがすでに保管庫にあります\r保管庫/旅行/big.jpg\r"
                                       "それでも保管しますか？（「キャンセル」で保管しません）");
    const auto before = snapshot(f.home.storageRoot());

    // Skip: nothing is filed, nothing else is said.
    QVERIFY(selectPicture(*f.form, 1, f.same));
    f.prompts.answerMessage(PromptAnswer::Cancel);
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QCOMPARE(recorded(f.prompts), (QStringList { message(ask, kInVaultTitle, "none", "okcancel") }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);

    // Anyway: filed as any other picture.
    f.prompts.clear();
    QVERIFY(selectPicture(*f.form, 1, f.same));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QCOMPARE(recorded(f.prompts), (QStringList { message(ask, kInVaultTitle, "none", "okcancel") }));
    QVERIFY(!QFileInfo::exists(f.same));
    QCOMPARE(contents(f.vault(QStringLiteral("空箱/same.jpg"))), f.big);

    // A picture the vault does not hold is filed without a question.
    f.prompts.clear();
    QVERIFY(selectPicture(*f.form, 1, f.differs));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("空箱/differs.jpg"))));
}

void TstVaultCopies::filingSeveralAsksOnce()
{
    CopiesFixture f;
    f.load();
    QVERIFY(f.settle());
    const QString ask = QStringLiteral("2 個のファイルは同じ内容のファイルがすでに保管庫にあります\r"
                                       "それらも保管しますか？（「キャンセル」でそれらを除いて保管します）");
    BrowsingArea& stock = f.stock();
    QVERIFY(selectPicture(*f.form, 1, f.same));
    stock.LEADImgList1_ClickWith(int(stock.HiddenList().indexOf(f.copyOfA)), Qt::ControlModifier);
    stock.LEADImgList1_ClickWith(int(stock.HiddenList().indexOf(f.differs)), Qt::ControlModifier);
    QCOMPARE(stock.chosenCount(), 3);

    // Skip: only the one the vault does not hold is filed, and the closing message is none.
    f.prompts.answerMessage(PromptAnswer::Cancel);
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QCOMPARE(recorded(f.prompts), (QStringList { message(ask, kInVaultTitle, "none", "okcancel") }));
    QCOMPARE(QDir(f.vault(QStringLiteral("空箱"))).entryList(QDir::Files), (QStringList { "differs.jpg" }));
    QVERIFY(QFileInfo::exists(f.same));
    QVERIFY(QFileInfo::exists(f.copyOfA));

    // Anyway: both are filed.
    f.prompts.clear();
    QVERIFY(selectPicture(*f.form, 1, f.same));
    stock.LEADImgList1_ClickWith(int(stock.HiddenList().indexOf(f.copyOfA)), Qt::ControlModifier);
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QCOMPARE(recorded(f.prompts), (QStringList { message(ask, kInVaultTitle, "none", "okcancel") }));
    QCOMPARE(QDir(f.vault(QStringLiteral("空箱"))).entryList(QDir::Files),
        (QStringList { "copy-of-a.jpg", "differs.jpg", "same.jpg" }));
}

void TstVaultCopies::indexFollowsOwnFiling()
{
    CopiesFixture f;
    f.load();
    QVERIFY(f.settle());
    ContentIndex& index = f.index();
    const int builds = index.buildCount();
    const int files = index.fileCount();
    QCOMPARE(builds, 1);

    // A stock-yard picture moved in: indexed under its new name, no rebuild.
    QVERIFY(selectPicture(*f.form, 1, f.differs));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QVERIFY(f.settle());
    QCOMPARE(index.fileCount(), files + 1);
    QSignalSpy found(&index, &ContentIndex::copyFound);
    const QString probe = f.home.write(QStringLiteral("probe/x.jpg"), oneByteChanged(f.big));
    index.lookUp({ probe });
    QVERIFY(f.settle());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0][3].toString(), f.vault(QStringLiteral("空箱/differs.jpg")));

    // The box renamed: its files keep their content under the new path.
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/空箱")));
    // The listing's check done first: a change of the program's made while one still waits
    // may be taken for one from outside (costing a walk that reads no file again).
    QVERIFY(f.settle());
    f.prompts.answerInput(QStringLiteral("重複"));
    f.form->dirpopup_mod()->trigger();
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("重複/differs.jpg"))));
    QVERIFY(f.settle());
    found.clear();
    index.lookUp({ probe });
    QVERIFY(f.settle());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0][3].toString(), f.vault(QStringLiteral("重複/differs.jpg")));

    // Deleted in the program: gone from the index, and the page that showed a copy loses it.
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/旅行")));
    QVERIFY(f.settle());
    QVERIFY(selectPicture(*f.form, 2, f.vault(QStringLiteral("旅行/big.jpg"))));
    f.form->RF_Del()->trigger();
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行/big.jpg"))));
    QVERIFY(f.settle());
    QCOMPARE(index.fileCount(), files);
    f.relistStock();
    QVERIFY(f.settle());
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg" }));
    // None of that was taken for a change made outside.
    QCOMPARE(index.buildCount(), builds);
}

void TstVaultCopies::outsideChangesAreNoticed()
{
    CopiesFixture f;
    f.load();
    QVERIFY(f.settle());
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg", "same.jpg" }));
    const int files = f.index().fileCount();

    // Another program puts a copy of differs.jpg into a box: a vault listing notices it.
    QVERIFY(QFile::copy(f.differs, f.vault(QStringLiteral("旅行/京都/elsewhere.jpg"))));
    touchFolder(f.vault(QStringLiteral("旅行/京都")), 1000000000);
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/旅行")));
    QVERIFY(f.settle());
    QCOMPARE(f.index().buildCount(), 2);
    QCOMPARE(f.index().fileCount(), files + 1);
    f.relistStock();
    QVERIFY(f.settle());
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg", "differs.jpg", "same.jpg" }));

    // Kept between runs: a new window on the same home reads it back and builds nothing.
    f.form.reset();
    f.load();
    QVERIFY(f.settle());
    QCOMPARE(f.index().buildCount(), 0);
    QCOMPARE(f.index().fileCount(), files + 1);
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg", "differs.jpg", "same.jpg" }));

    // Changed while the program was not running: noticed at start.
    QVERIFY(QFile::remove(f.vault(QStringLiteral("旅行/big.jpg"))));
    touchFolder(f.vault(QStringLiteral("旅行")), 1000000000);
    f.form.reset();
    f.load();
    QVERIFY(f.settle());
    QCOMPARE(f.index().buildCount(), 1);
    QCOMPARE(f.index().fileCount(), files);
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg", "differs.jpg" }));
}

void TstVaultCopies::marksFollowOwnChangesAndUndo()
{
    CopiesFixture f;
    f.load();
    QVERIFY(f.settle());
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg", "same.jpg" }));
    const int builds = f.index().buildCount();
    const QString big = f.vault(QStringLiteral("旅行/big.jpg"));

    // The vault copy deleted on the vault tab: the stock yard, not listed again, stops naming
    // it at once, before the index's worker had a turn.
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/旅行")));
    QVERIFY(f.settle());
    QVERIFY(selectPicture(*f.form, 2, big));
    f.form->RF_Del()->trigger();
    QVERIFY(!QFileInfo::exists(big));
    QCOMPARE(f.markOf(f.same), QString());
    QVERIFY(f.settle());
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg" }));
    QCOMPARE(f.index().copiesInVault({ f.same }), (QStringList { QString() }));

    // Undone: back from the trash and marked again; redone: gone again at once.
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(QFileInfo::exists(big));
    QVERIFY(f.settle());
    QCOMPARE(f.markOf(f.same), markText(QStringLiteral("旅行/big.jpg")));
    f.form->filingCommands().Redo()->trigger();
    QVERIFY(!QFileInfo::exists(big));
    QCOMPARE(f.markOf(f.same), QString());
    QVERIFY(f.settle());
    QCOMPARE(f.marked(), (QStringList { "copy-of-a.jpg" }));

    // Renamed in the vault: the mark names the new name; undone, the old one.
    QVERIFY(selectPicture(*f.form, 2, f.vault(QStringLiteral("旅行/a.jpg"))));
    f.prompts.answerInput(QStringLiteral("改名"));
    f.form->RF_Mod()->trigger();
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("旅行/改名.jpg"))));
    QVERIFY(f.settle());
    QCOMPARE(f.markOf(f.copyOfA), markText(QStringLiteral("旅行/改名.jpg")));
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(f.settle());
    QCOMPARE(f.markOf(f.copyOfA), markText(QStringLiteral("旅行/a.jpg")));

    // Moved into the vault from the stock yard: the copy of it left there is marked.
    const QString twin
        = f.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/twin.jpg"), contents(f.differs));
    f.relistStock();
    QVERIFY(f.settle());
    QCOMPARE(f.markOf(twin), QString());
    QVERIFY(selectPicture(*f.form, 1, f.differs));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QVERIFY(f.settle());
    QCOMPARE(f.markOf(twin), markText(QStringLiteral("空箱/differs.jpg")));
    // None of it was taken for a change made outside.
    QCOMPARE(f.index().buildCount(), builds);
}

// Which files of a card go with which picture, as the import and the medium's delete group them.
void TstVaultCopies::companionsGroup_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("together");
    QTest::addColumn<bool>("companion");
    const auto row = [](const char* name, const char* picture, const char* file, bool together,
                         bool companion) {
        QTest::newRow(name) << QString::fromUtf8(picture) << QString::fromUtf8(file) << together << companion;
    };
    row("raw", "D/IMG_0001.JPG", "D/IMG_0001.CR3", true, true);
    row("raw, other case", "D/img_0001.jpg", "D/IMG_0001.NEF", true, true);
    row("motion clip", "D/IMG_0002.HEIC", "D/IMG_0002.MOV", true, true);
    row("edit sidecar", "D/IMG_0002.HEIC", "D/IMG_0002.AAE", true, true);
    row("xmp by stem", "D/IMG_0003.CR3", "D/IMG_0003.xmp", true, true);
    row("xmp by whole name", "D/IMG_0003.JPG", "D/IMG_0003.JPG.xmp", true, true);
    row("xmp after a raw's name", "D/IMG_0003.JPG", "D/IMG_0003.CR3.xmp", true, true);
    row("another folder", "D/IMG_0004.JPG", "E/IMG_0004.MOV", false, true);
    row("another stem", "D/IMG_0004.JPG", "D/IMG_0005.MOV", false, true);
    row("a longer stem", "D/IMG_0004.JPG", "D/IMG_0004_1.JPG", false, false);
    row("not a companion", "D/IMG_0006.JPG", "D/IMG_0006.txt", true, false);
    row("dots in the stem", "D/a.b.JPG", "D/a.b.xmp", true, true);
    row("an xmp of a text", "D/notes.JPG", "D/notes.txt.xmp", false, true);
}

void TstVaultCopies::companionsGroup()
{
    QFETCH(QString, picture);
    QFETCH(QString, file);
    QFETCH(bool, together);
    QFETCH(bool, companion);
    QCOMPARE(companions::groupKey(picture) == companions::groupKey(file), together);
    QCOMPARE(companions::isCompanion(file.section(u'/', -1)), companion);
    // A name is its stem and the rest, whole.
    const companions::NameParts parts = companions::splitName(file.section(u'/', -1));
    QCOMPARE(parts.stem + parts.rest, file.section(u'/', -1));
}

// The comparison that lets a medium's file go: the copy read from its disk, equal byte for byte,
// and never the very same file under another path.
void TstVaultCopies::sameBytesFromDisk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray bytes = paddedJpeg(Qt::red);
    const QString card = dir.filePath(QStringLiteral("card.jpg"));
    const QString copy = dir.filePath(QStringLiteral("copy.jpg"));
    const QString changed = dir.filePath(QStringLiteral("changed.jpg"));
    const QString shorter = dir.filePath(QStringLiteral("shorter.jpg"));
    QVERIFY(writeRaw(card, bytes) && writeRaw(copy, bytes) && writeRaw(changed, oneByteChanged(bytes))
        && writeRaw(shorter, bytes.chopped(1)));
    const QString link = dir.filePath(QStringLiteral("link.jpg"));
    QCOMPARE(::link(QFile::encodeName(card).constData(), QFile::encodeName(link).constData()), 0);
    for (const auto how : { ContentIndex::Read::Cached, ContentIndex::Read::CopyFromDisk }) {
        QVERIFY(ContentIndex::sameBytes(card, copy, how));
        QVERIFY(!ContentIndex::sameBytes(card, changed, how));
        QVERIFY(!ContentIndex::sameBytes(card, shorter, how));
        QVERIFY(!ContentIndex::sameBytes(card, dir.filePath(QStringLiteral("none.jpg")), how));
    }
    // One file is the same as itself, but never a copy that lets the other name go.
    QVERIFY(ContentIndex::sameBytes(card, link));
    QVERIFY(!ContentIndex::sameBytes(card, link, ContentIndex::Read::CopyFromDisk));
}

QTEST_MAIN(TstVaultCopies)
#include "tst_vaultcopies.moc"
