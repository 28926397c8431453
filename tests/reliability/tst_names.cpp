// Names an old disc or a careless user may carry: bytes that are not UTF-8 (Shift_JIS),
// look-alikes of them, wildcards, quotes, leading "-", names at the length limit. Every
// operation either reaches that exact file or refuses; none reaches another file.
#include "MainFormFixture.h"
#include "capture/SaveTargets.h"
#include "display/PreviewForm.h"
#include "export/WorkbookExport.h"
#include "filing/FilingPaths.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/FolderListing.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureFormats.h"
#include "imaging/ThumbnailCache.h"
#include "imaging/ThumbnailEngine.h"
#include "imaging/ThumbnailList.h"
#include "platform/FileOps.h"
#include "platform/FolderList.h"
#include "platform/PathCodec.h"
#include "widgets/FolderTree.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace ztv;
using ztv::test::MainFormFixture;
namespace pictures = ztv::test::pictures;

namespace {

// "テスト.jpg" in Shift_JIS, and a name no Shift_JIS reading fits. Qt's lossy decoding makes
// "\uFFFDe\uFFFDX\uFFFDg.jpg" of both, and that text is also a valid UTF-8 name of its own:
// the decoy, which must never be what an operation on the other two reaches.
const QByteArray kSjisName("\x83\x65\x83\x58\x83\x67.jpg");
const QByteArray kStrayName("\xFF\x65\x83\x58\x83\x67.jpg");
const QByteArray kDecoyName = QString::fromUtf8(kSjisName).toUtf8();

bool writeRaw(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    ::close(fd);
    return ok;
}

QByteArray readRaw(const QByteArray& path)
{
    QByteArray out;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "<missing>";
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, n);
    ::close(fd);
    return out;
}

// Empties a folder by its bytes, links not followed. QTemporaryDir cannot remove names Qt
// cannot encode, so each test purges its folders on the way out, failed or not.
void removeContents(int dirFd)
{
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (::unlinkat(dirFd, e->d_name, 0) == 0)
            continue;
        const int sub = ::openat(dirFd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0)
            removeContents(sub);
        ::unlinkat(dirFd, e->d_name, AT_REMOVEDIR);
    }
    ::closedir(dir);
}

struct Purge {
    QByteArray folder;
    ~Purge() { removeContents(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); }
};

bool existsRaw(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// Which of red, green and blue a picture mostly is.
char hue(const QImage& image)
{
    if (image.isNull())
        return '-';
    const QColor c = image.pixelColor(image.width() / 2, image.height() / 2);
    if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
        return 'r';
    if (c.green() > 150 && c.red() < 100 && c.blue() < 100)
        return 'g';
    if (c.blue() > 150 && c.red() < 100 && c.green() < 100)
        return 'b';
    return '?';
}

// The three look-alike pictures in one folder: Shift_JIS red, stray bytes green, decoy blue.
void writeLookalikes(const QByteArray& folder)
{
    QVERIFY(writeRaw(folder + '/' + kSjisName, pictures::jpeg({ 32, 24 }, Qt::red)));
    QVERIFY(writeRaw(folder + '/' + kStrayName, pictures::png({ 32, 24 }, Qt::green)));
    QVERIFY(writeRaw(folder + '/' + kDecoyName, pictures::png({ 32, 24 }, Qt::blue)));
}

QImage thumbnailAt(ThumbnailList* list, int i)
{
    return list->model()->index(i, 0).data(Qt::DecorationRole).value<QImage>();
}

} // namespace

class TstNames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void displayNames_data();
    void displayNames();
    void listingKeepsLookalikesApart();
    void browsingGivesEachFileItsOwnThumbnail();
    void choosingShowsPreviewsAndCopiesTheExactFile();
    void cacheEntriesOfLookalikesStayApart();
    void treeShowsAndOpensFoldersByTheirBytes();
    void filingActsOnTheExactFile();
    void spreadsheetGetsTheExactPicture();
    void hostileNamesInEveryOperation_data();
    void hostileNamesInEveryOperation();
    void overlongTargetIsRefused();
};

void TstNames::displayNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("utf-8 stays") << u"旅行 2024.jpg"_qs << u"旅行 2024.jpg"_qs;
    QTest::newRow("shift_jis reads") << decodePath(kSjisName) << u"テスト.jpg"_qs;
    QTest::newRow("half-width kana") << decodePath("\xB1\xB2.png") << u"ｱｲ.png"_qs;
    QTest::newRow("stray bytes marked") << decodePath(kStrayName) << u"\uFFFDe\uFFFDX\uFFFDg.jpg"_qs;
    // Each part of a path reads on its own: a UTF-8 folder keeps its name beside an old one.
    QTest::newRow("path parts") << decodePath("/媒体/\x8E\xCA\x90\x5E/a\xFF.jpg")
                                << u"/媒体/写真/a\uFFFD.jpg"_qs;
    // A reading with a control character in it is no file name's.
    QTest::newRow("control byte") << decodePath("\x83\x65\x01.jpg") << u"\uFFFDe\x01.jpg"_qs;
}

void TstNames::displayNames()
{
    QFETCH(QString, name);
    QFETCH(QString, shown);
    QCOMPARE(displayName(name), shown);
    QCOMPARE(hasRawBytes(name), name != shown);
}

void TstNames::listingKeepsLookalikesApart()
{
    QTemporaryDir dir;
    const QByteArray folder = encodePath(dir.path());
    const Purge purge { folder };
    writeLookalikes(folder);
    QStringList files;
    QVERIFY(listFolderFiles(dir.path(), u"*.*"_qs, &files));
    QCOMPARE(files.size(), 3);
    QCOMPARE(QSet<QString>(files.begin(), files.end()).size(), 3);
    // Every listed path leads back to its own file, and together they are the three.
    QSet<QByteArray> reached;
    for (const QString& path : std::as_const(files)) {
        const QByteArray bytes = encodePath(path);
        QVERIFY(existsRaw(bytes));
        reached << bytes;
    }
    QCOMPARE(reached,
        QSet<QByteArray>({ folder + '/' + kSjisName, folder + '/' + kStrayName, folder + '/' + kDecoyName }));
    // The tree's folder list does the same for folders.
    for (const QByteArray& name : { kSjisName, kStrayName, kDecoyName })
        QCOMPARE(::mkdir(folder + '/' + name + ".d", 0755), 0);
    FolderList list;
    QVERIFY(list.setPath(dir.path()));
    QCOMPARE(list.count(), 3);
    for (const QString& sub : list.folders())
        QVERIFY(FolderList().setPath(sub));
}

void TstNames::browsingGivesEachFileItsOwnThumbnail()
{
    MainFormFixture f;
    const QByteArray yard = encodePath(f.home.stockYard());
    const Purge purge { encodePath(f.home.home()) };
    writeLookalikes(yard);
    MainForm& form = f.load();
    ThumbnailList* list = form.area(Area::StockYard).LEADImgList1();
    QCOMPARE(list->ThumbnailCount(), 3);
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), 3);
    QSet<QByteArray> files;
    for (const QString& path : std::as_const(form.area(Area::StockYard).HiddenList()))
        files << encodePath(path);
    QCOMPARE(files,
        QSet<QByteArray>({ yard + '/' + kSjisName, yard + '/' + kStrayName, yard + '/' + kDecoyName }));
    for (int i = 0; i < 3; ++i) {
        const QByteArray file = encodePath(form.area(Area::StockYard).HiddenList().at(i));
        const char expected = file.endsWith(kSjisName) ? 'r' : file.endsWith(kStrayName) ? 'g' : 'b';
        QCOMPARE(hue(thumbnailAt(list, i)), expected);
        if (expected == 'r')
            QCOMPARE(list->caption(i), u"テスト.jpg"_qs);
        else
            QCOMPARE(list->caption(i), u"\uFFFDe\uFFFDX\uFFFDg.jpg"_qs);
    }
}

void TstNames::choosingShowsPreviewsAndCopiesTheExactFile()
{
    MainFormFixture f;
    const QByteArray yard = encodePath(f.home.stockYard());
    const Purge purge { encodePath(f.home.home()) };
    writeLookalikes(yard);
    MainForm& form = f.load();
    const int sjis = int(form.area(Area::StockYard).HiddenList().indexOf(decodePath(yard + '/' + kSjisName)));
    const int stray
        = int(form.area(Area::StockYard).HiddenList().indexOf(decodePath(yard + '/' + kStrayName)));
    QVERIFY(sjis >= 0 && stray >= 0);

    form.area(Area::StockYard).LEADImgList1_Click(sjis);
    QVERIFY(isChosen(form, Area::StockYard));
    QCOMPARE(hue(form.area(Area::StockYard).LEAD1()->picture()), 'r');
    QCOMPARE(encodePath(form.area(Area::StockYard).LEAD1()->sourcePath()), yard + '/' + kSjisName);
    form.area(Area::StockYard).LEAD1_Click();
    PreviewForm* preview = form.previewForm();
    QVERIFY(preview);
    QCOMPARE(hue(preview->LEAD1->picture()), 'r');
    QCOMPARE(preview->windowTitle(), displayName(decodePath(yard + '/' + kSjisName)));
    preview->close();

    // The clipboard's file reference names the file's own bytes.
    form.area(Area::StockYard).LEADImgList1_Click(stray);
    QCOMPARE(hue(form.area(Area::StockYard).LEAD1()->picture()), 'g');
    form.area(Area::StockYard).LEAD1()->CopyPictureToClipboard(PictureDisplay::ClipboardCopy::PictureAndFile);
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    QVERIFY(mime && mime->hasImage() && mime->urls().size() == 1);
    const QUrl url = mime->urls().first();
    QCOMPARE(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()), yard + '/' + kStrayName);

    // A file gone by now is refused and empties the list; its look-alike is not shown instead.
    QCOMPARE(::unlink(yard + '/' + kSjisName), 0);
    form.area(Area::StockYard).LEADImgList1_Click(sjis);
    QCOMPARE(form.area(Area::StockYard).LEADImgList1()->ThumbnailCount(), 0);
    QVERIFY(!form.area(Area::StockYard).LEAD1()->hasPicture());
    QCOMPARE(readRaw(yard + '/' + kDecoyName), pictures::png({ 32, 24 }, Qt::blue));
}

void TstNames::cacheEntriesOfLookalikesStayApart()
{
    // The shared cache keys an entry by the file's URI; a lossy one would hand one picture's
    // thumbnail to its look-alike.
    const QByteArray sjis = ThumbnailCache::fileUri(decodePath("/d/" + kSjisName));
    const QByteArray stray = ThumbnailCache::fileUri(decodePath("/d/" + kStrayName));
    const QByteArray decoy = ThumbnailCache::fileUri(decodePath("/d/" + kDecoyName));
    QCOMPARE(sjis, QByteArray("file:///d/%83e%83X%83g.jpg"));
    QVERIFY(stray != sjis && stray != decoy && sjis != decoy);

    QTemporaryDir dir, cache;
    const QByteArray folder = encodePath(dir.path());
    const Purge purge { folder };
    writeLookalikes(folder);
    ThumbnailCachePolicy policy;
    policy.root = cache.path();
    policy.writableStorage = [](const QString&) { return true; };
    for (int pass = 0; pass < 2; ++pass) { // the second pass reads the entries the first wrote
        for (const auto& [name, expected] :
            { std::pair(kSjisName, 'r'), std::pair(kStrayName, 'g'), std::pair(kDecoyName, 'b') }) {
            const ThumbnailResult r
                = makeCachedThumbnail(decodePath(folder + '/' + name), { 64, 64 }, policy);
            QCOMPARE(r.status, int(ThumbnailResult::Made));
            QCOMPARE(hue(r.image), expected);
        }
    }
}

void TstNames::treeShowsAndOpensFoldersByTheirBytes()
{
    MainFormFixture f;
    const QByteArray vault = encodePath(f.home.vault());
    const Purge purge { encodePath(f.home.home()) };
    // "写真" in Shift_JIS, a stray-byte look-alike (0xCA 0x90 is valid UTF-8, so both read
    // "\uFFFD\u0290^" to Qt) and the decoy of that text; each holds its own picture, the
    // first also a box of its own.
    const QByteArray sjis("\x8E\xCA\x90\x5E"), stray("\xFF\xCA\x90\x5E");
    const QByteArray decoy = QString::fromUtf8(sjis).toUtf8();
    const QByteArray names[3] = { sjis, stray, decoy };
    const char hues[3] = { 'r', 'g', 'b' };
    const QColor colours[3] = { Qt::red, Qt::green, Qt::blue };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(::mkdir(vault + '/' + names[i], 0755), 0);
        QVERIFY(writeRaw(vault + '/' + names[i] + "/in.png", pictures::png({ 20, 20 }, colours[i])));
    }
    QCOMPARE(::mkdir(vault + '/' + sjis + "/\x94\xA0", 0755), 0); // "箱"
    MainForm& form = f.load();
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QTreeWidgetItem* root = tree->topLevelItem(0);
    QCOMPARE(root->childCount(), 3);
    root->setExpanded(true); // fills the next level
    for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem* node = nullptr;
        for (int c = 0; c < root->childCount(); ++c) {
            if (encodePath(FolderTree::nodeName(root->child(c))) == names[i])
                node = root->child(c);
        }
        QVERIFY2(node, names[i].toHex().constData());
        QCOMPARE(node->text(0), i == 0 ? u"写真"_qs : u"\uFFFD\u0290^"_qs);
        QCOMPARE(encodePath(FolderTree::nodeKey(node)), vault + '/' + names[i]);
        // One level ahead: the Shift_JIS folder already shows its box.
        QCOMPARE(node->childCount(), i == 0 ? 1 : 0);
        if (i == 0)
            QCOMPARE(node->child(0)->text(0), u"箱"_qs);

        form.area(Area::Vault).TreeView1_NodeClick(node);
        QCOMPARE(encodePath(form.area(Area::Vault).CurrentNodePath()), "保管庫/" + names[i]);
        QCOMPARE(form.area(Area::Vault).HiddenList().size(), 1);
        QCOMPARE(encodePath(form.area(Area::Vault).HiddenList().at(0)), vault + '/' + names[i] + "/in.png");
        QCOMPARE(hue(thumbnailAt(form.area(Area::Vault).LEADImgList1(), 0)), hues[i]);
    }
    // Reopening by tree path finds the exact folder, as after a transfer into it.
    tree->setCurrentItem(nullptr);
    form.area(Area::Vault).ReopenTreePath(decodePath("保管庫/" + sjis + "/\x94\xA0"));
    QVERIFY(tree->currentItem());
    QCOMPARE(encodePath(FolderTree::nodeKey(tree->currentItem())), vault + '/' + sjis + "/\x94\xA0");
}

void TstNames::filingActsOnTheExactFile()
{
    MainFormFixture f;
    const QByteArray yard = encodePath(f.home.stockYard()), vault = encodePath(f.home.vault());
    const Purge purge { encodePath(f.home.home()) };
    writeLookalikes(yard);
    const QByteArray box = vault + "/\x94\xA0"; // "箱" in Shift_JIS, holding the decoy already
    QCOMPARE(::mkdir(box, 0755), 0);
    const QByteArray red = readRaw(yard + '/' + kSjisName), blue = readRaw(yard + '/' + kDecoyName);
    QVERIFY(writeRaw(box + '/' + kDecoyName, blue));
    MainForm& form = f.load();
    form.show();
    auto choose = [&](int tab, const QByteArray& file) {
        form.SSTab1()->setCurrentIndex(tab);
        const int index = int(form.area(Area(tab)).HiddenList().indexOf(decodePath(file)));
        if (index >= 0)
            form.area(Area(tab)).LEADImgList1_Click(index);
        return index >= 0 && isChosen(form, Area(tab));
    };
    auto openBox = [&] {
        QTreeWidgetItem* top = form.area(Area::Vault).TreeView1()->topLevelItem(0);
        for (int i = 0; top && i < top->childCount(); ++i) {
            if (encodePath(FolderTree::nodeName(top->child(i))) == "\x94\xA0")
                form.area(Area::Vault).TreeView1_NodeClick(top->child(i));
        }
    };

    // The decoy beside the box's name is no duplicate of the Shift_JIS picture.
    QVERIFY(!Dup_Check(decodePath(box + '/' + kSjisName)));
    QVERIFY(Dup_Check(decodePath(box + '/' + kDecoyName)));

    // Moved into the Shift_JIS box: it lands there under its own bytes, beside the decoy.
    QVERIFY(choose(1, yard + '/' + kSjisName));
    form.R_Fav_Copy()->trigger();
    SetFolder* chooser = form.vaultTransfer().chooser();
    QVERIFY(chooser);
    QTreeWidgetItem* root = chooser->TreeView1->topLevelItem(0);
    QVERIFY(root && root->childCount() == 1);
    chooser->TreeView1_NodeClick(root->child(0));
    QCOMPARE(chooser->Label1->text(), u"保管庫/箱"_qs);
    chooser->Command1_Click(0);
    QVERIFY2(f.prompts.calls.isEmpty(), qPrintable(f.prompts.calls.value(0).text));
    QCOMPARE(readRaw(box + '/' + kSjisName), red);
    QVERIFY(!existsRaw(yard + '/' + kSjisName));
    QCOMPARE(readRaw(box + '/' + kDecoyName), blue);
    QCOMPARE(readRaw(yard + '/' + kDecoyName), blue);

    // Deleted in the stock yard: only the stray-byte picture goes.
    QVERIFY(choose(1, yard + '/' + kStrayName));
    form.R_Del()->trigger();
    QVERIFY(!existsRaw(yard + '/' + kStrayName));
    QCOMPARE(readRaw(yard + '/' + kDecoyName), blue);

    // Renamed in the box and copied to the clipboard: the moved picture itself.
    openBox();
    QVERIFY(choose(2, box + '/' + kSjisName));
    QCOMPARE(hue(form.area(Area::Vault).LEAD1()->picture()), 'r');
    f.prompts.answerInput(u"改名"_qs);
    form.RF_Mod()->trigger();
    QCOMPARE(readRaw(box + "/改名.jpg"), red);
    QVERIFY(!existsRaw(box + '/' + kSjisName));
    QCOMPARE(readRaw(box + '/' + kDecoyName), blue);
    openBox();
    QVERIFY(choose(2, box + "/改名.jpg"));
    form.RF_Clip_Copy()->trigger();
    QCOMPARE(hue(QApplication::clipboard()->image()), 'r');
}

void TstNames::spreadsheetGetsTheExactPicture()
{
    QTemporaryDir dir;
    const QByteArray folder = encodePath(dir.path());
    const Purge purge { folder };
    writeLookalikes(folder);
    QVERIFY(writeRaw(folder + "/Pastetemp.xls", "template"));
    const QString cache = dir.path() + u"/cache"_qs;
    test::RecordingPrompts prompts;
    test::FakeSpreadsheet sheet;
    WorkbookExport exporter(prompts, realFileOps(), sheet, { dir.path() }, cache);

    // The office would read the path as text: the Shift_JIS picture arrives as a copy of
    // itself, never as the decoy its lossy text names; a UTF-8 name goes as it is.
    const QString copy = cache + u"/picture.jpg"_qs;
    exporter.run(decodePath(folder + '/' + kSjisName));
    QCOMPARE(readRaw(encodePath(copy)), readRaw(folder + '/' + kSjisName));
    exporter.run(decodePath(folder + '/' + kStrayName)); // replaces the earlier copy
    QCOMPARE(readRaw(encodePath(copy)), readRaw(folder + '/' + kStrayName));
    exporter.run(decodePath(folder + '/' + kDecoyName));
    QCOMPARE(sheet.exports.size(), 3);
    QCOMPARE(sheet.exports[0].cellText, copy);
    QCOMPARE(sheet.exports[1].cellText, copy);
    QCOMPARE(sheet.exports[2].cellText, decodePath(folder + '/' + kDecoyName));
    QVERIFY(prompts.calls.isEmpty());
    for (const auto& [name, colour] :
        { std::pair(kSjisName, 'r'), std::pair(kStrayName, 'g'), std::pair(kDecoyName, 'b') })
        QCOMPARE(hue(QImage::fromData(readRaw(folder + '/' + name))), colour);
}

void TstNames::hostileNamesInEveryOperation_data()
{
    QTest::addColumn<QByteArray>("name");
    // 255 bytes: two letters, 83 three-byte kana and ".jpg".
    QByteArray longest = "ab";
    for (int i = 0; i < 83; ++i)
        longest += "あ";
    longest += ".jpg";
    QVERIFY(longest.size() == 255);
    QTest::newRow("spaces") << QByteArray("  two  spaces .jpg");
    QTest::newRow("quotes") << QByteArray("it's \"quoted\" `x`.jpg");
    QTest::newRow("wildcards") << QByteArray("*.jpg");
    QTest::newRow("question") << QByteArray("?.jpg");
    QTest::newRow("leading dash") << QByteArray("-rf .jpg");
    QTest::newRow("backslash") << QByteArray("a\\b.jpg");
    QTest::newRow("japanese") << QByteArray("京都　紅葉（２０２４）.jpg");
    QTest::newRow("255 bytes") << longest;
    QTest::newRow("shift_jis") << kSjisName;
}

void TstNames::hostileNamesInEveryOperation()
{
    QFETCH(QByteArray, name);
    QTemporaryDir dir;
    const QByteArray folder = encodePath(dir.path());
    const Purge purge { folder };
    QCOMPARE(::mkdir(folder + "/box", 0755), 0);
    const QByteArray picture = pictures::jpeg({ 24, 24 }, Qt::red);
    // Neighbours a wildcard or a shell would reach: none of them may change.
    const QByteArray neighbour = pictures::png({ 8, 8 }, Qt::blue);
    for (const char* other : { "a.jpg", "-", "rf .jpg", "box/other.jpg" })
        QVERIFY(writeRaw(folder + '/' + other, neighbour));
    QVERIFY(writeRaw(folder + '/' + name, picture));

    QStringList files;
    QVERIFY(listFolderFiles(dir.path(), u"*.*"_qs, &files));
    const QString path = decodePath(folder + '/' + name);
    QVERIFY(files.contains(path));
    QCOMPARE(files.size(), 4);
    const ThumbnailResult thumb = makeThumbnail(path, { 50, 50 });
    QCOMPARE(thumb.status, int(ThumbnailResult::Made));
    PictureDisplay display;
    display.resize(100, 100);
    QVERIFY(display.LoadPicture(path));
    QCOMPARE(hue(display.picture()), 'r');

    FileOps& ops = realFileOps();
    const QString box = decodePath(folder + "/box/");
    QVERIFY(File_Check(path));
    QVERIFY(!File_Check(box + decodePath(name)));
    QVERIFY(ops.copyNoReplace(path, box + decodePath(name)).ok());
    QCOMPARE(readRaw(folder + "/box/" + name), picture);
    QCOMPARE(ops.copyNoReplace(path, box + decodePath(name)).error, FileError::Exists);
    QVERIFY(ops.removeFile(box + decodePath(name)).ok());
    QVERIFY(!existsRaw(folder + "/box/" + name));
    QVERIFY(ops.moveNoReplace(path, box + decodePath(name)).ok());
    QCOMPARE(readRaw(folder + "/box/" + name), picture);
    const QString renamed = decodePath(folder + "/box/x" + name.right(name.size() - 1));
    QVERIFY(ops.moveNoReplace(box + decodePath(name), renamed).ok());
    QCOMPARE(readRaw(encodePath(renamed)), picture);
    QVERIFY(ops.removeFile(renamed).ok());
    QVERIFY(!existsRaw(encodePath(renamed)));
    // Saved under that name: the save's replace question sees it, as the file manager does.
    QVERIFY2(display.SavePicture(box + decodePath(name), formats::Png, 24, 0, false),
        qPrintable(display.lastError()));
    QVERIFY(existsRaw(folder + "/box/" + name));
    QVERIFY(File_Check(box + decodePath(name)));
    for (const char* other : { "a.jpg", "-", "rf .jpg", "box/other.jpg" })
        QCOMPARE(readRaw(folder + '/' + other), neighbour);
}

void TstNames::overlongTargetIsRefused()
{
    QTemporaryDir dir;
    const QByteArray folder = encodePath(dir.path());
    const Purge purge { folder };
    QByteArray tooLong = "abc";
    for (int i = 0; i < 83; ++i)
        tooLong += "あ";
    tooLong += ".jpg";
    QCOMPARE(tooLong.size(), 256);
    const QByteArray picture = pictures::jpeg({ 16, 16 });
    QVERIFY(writeRaw(folder + "/src.jpg", picture));
    FileOps& ops = realFileOps();
    const QString target = decodePath(folder + '/' + tooLong);
    for (const FileResult& r : { ops.moveNoReplace(decodePath(folder + "/src.jpg"), target),
             ops.copyNoReplace(decodePath(folder + "/src.jpg"), target),
             ops.writeFile(target, picture, false) }) {
        QCOMPARE(r.error, FileError::InvalidName);
        QVERIFY(r.detail.contains(u"名前が長すぎます"_qs));
    }
    QCOMPARE(readRaw(folder + "/src.jpg"), picture);
    QStringList files;
    QVERIFY(listFolderFiles(dir.path(), u"*.*"_qs, &files));
    QCOMPARE(files, QStringList { decodePath(folder + "/src.jpg") });
}

QTEST_MAIN(TstNames)
#include "tst_names.moc"
