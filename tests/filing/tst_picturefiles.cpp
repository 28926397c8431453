// Deleting, renaming and copying the selected picture of a browsing tab.
#include "FileTestUtil.h"
#include "FilingTestUtil.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <utility>

using namespace ztv;
using namespace ztv::test;

namespace {

const QString kFileExists = QStringLiteral("すでに同名のファイルが保管されています");

QString deleteAsk()
{
    return message(
        QStringLiteral("削除します。よろしいですか？"), QStringLiteral("ファイルの削除"), "none", "okcancel");
}
QString renamePrompt()
{
    return input(QStringLiteral("変更後のファイル名を入力して下さい。"), QStringLiteral("ファイル名変更"));
}
QString renameError()
{
    return critical(kFileExists, QStringLiteral("変更エラー"));
}

// A baseline grey JPEG of any size that costs next to nothing to write or to decode scaled:
// Huffman tables of one one-bit code each, every block flat (two bits a block).
QByteArray flatGreyJpeg(int width, int height)
{
    QByteArray j("\xFF\xD8", 2);
    auto segment = [&j](char marker, const QByteArray& body) {
        const int length = int(body.size()) + 2;
        j.append(char(0xFF)).append(marker).append(char(length >> 8)).append(char(length & 0xFF));
        j.append(body);
    };
    segment(char(0xDB), QByteArray(1, '\0') + QByteArray(64, '\1'));
    const char sof[]
        = { 8, char(height >> 8), char(height & 0xFF), char(width >> 8), char(width & 0xFF), 1, 1, 0x11, 0 };
    segment(char(0xC0), QByteArray(sof, sizeof sof));
    QByteArray tables;
    for (const char tableClass : { '\x00', '\x10' }) // DC and AC table 0: symbol 0 alone
        tables.append(tableClass).append(char(1)).append(QByteArray(15, '\0')).append('\0');
    segment(char(0xC4), tables);
    segment(char(0xDA), QByteArray("\x01\x01\x00\x00\x3F\x00", 6));
    const qint64 blocks = qint64((width + 7) / 8) * ((height + 7) / 8);
    j.append(QByteArray((blocks * 2 + 7) / 8, '\0'));
    j.append("\xFF\xD9", 2);
    return j;
}

// The vault with a box "箱" holding the pictures to rename, the box clicked.
struct BoxFixture : MainFormFixture {
    BoxFixture()
    {
        home.fillSample();
        box = home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱"));
        load();
        form->show();
    }
    QString put(const QString& name, const QByteArray& bytes)
    {
        return home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/") + name, bytes);
    }
    bool open() { return clickNode(*form, 2, QStringLiteral("保管庫/箱")); }
    QString box;
};

} // namespace

class TstPictureFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { faults::reset(); }
    void cleanup() { faults::reset(); }
    void rename_data();
    void rename();
    void renamedName();
    void renameCancelEmptyAndEmptyBase();
    void renameStaysInTheFilesFolder();
    void renameNeverLeavesTheFolder();
    void renameRefusesHiddenNames();
    void deleteWithOkThenNothing();
    void deleteCancelKeepsEverything();
    void deleteFailureIsReportedAndPageRelisted();
    void deleteMovesToTheTrash();
    void deleteOnAnotherDiskUsesItsTrash();
    void deleteWithoutATrashAsksFirst();
    void deleteTakesTheFileAskedAbout();
    void deleteForGoodTakesOnlyTheFileAskedAbout();
    void clipboardCopy();
    void clipboardCopyIsTheWholePicture();
    void relistAfterChangeEndsTheChoice();
};

void TstPictureFiles::rename_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("result"); // "" when refused
    QTest::newRow("trip") << "photo.jpg"
                          << "trip"
                          << "trip.jpg";
    QTest::newRow("typed extension dropped") << "photo.jpg"
                                             << "trip.png"
                                             << "trip.jpg";
    QTest::newRow("extension case kept") << "photo.JPG"
                                         << "trip"
                                         << "trip.JPG";
    QTest::newRow("path typed, name taken") << "photo.jpg"
                                            << "C:/x/other.bmp"
                                            << "";
    QTest::newRow("onto an existing name") << "photo.jpg"
                                           << "other"
                                           << "";
    QTest::newRow("own name") << "photo.jpg"
                              << "photo"
                              << "";
    QTest::newRow("Japanese") << "photo.jpg"
                              << "京都の寺"
                              << "京都の寺.jpg";
}

// A file without an extension (never listed, but its name rule is the same) keeps none;
// an extension is the last "." of the name, not of a folder.
void TstPictureFiles::renamedName()
{
    QCOMPARE(RenameBaseName(QStringLiteral("trip")) + KeptExtension(QStringLiteral("/v/README")),
        QStringLiteral("trip"));
    QCOMPARE(KeptExtension(QStringLiteral("/v/箱.d/README")), QString());
    QCOMPARE(KeptExtension(QStringLiteral("/v/a.tar.GZ")), QStringLiteral(".GZ"));
}

void TstPictureFiles::rename()
{
    QFETCH(QString, file);
    QFETCH(QString, answer);
    QFETCH(QString, result);
    BoxFixture f;
    const QByteArray photo = pictures::jpeg({ 40, 30 }, Qt::darkGreen);
    const QByteArray other = pictures::jpeg({ 30, 40 }, Qt::darkBlue);
    const QString old = f.put(file, photo);
    f.put(QStringLiteral("other.jpg"), other);
    QVERIFY(f.open());
    MainForm& form = *f.form;
    QVERIFY(selectPicture(form, 2, old));
    const QStringList before = QDir(f.box).entryList(QDir::Files);

    f.prompts.answerInput(answer);
    form.Command4(4)->click();
    if (result.isEmpty()) {
        QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt(), renameError() }));
        QCOMPARE(QDir(f.box).entryList(QDir::Files), before);
        QCOMPARE(contents(old), photo);
        QCOMPARE(contents(f.box + QStringLiteral("/other.jpg")), other);
        QVERIFY(chosenOnCurrentTab(form)); // a failed rename leaves the selection
        return;
    }
    QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt() }));
    QVERIFY(!QFileInfo::exists(old));
    QCOMPARE(contents(f.box + u'/' + result), photo);
    QCOMPARE(contents(f.box + QStringLiteral("/other.jpg")), other);
    if (file != QLatin1String("README"))
        QVERIFY(form.area(Area::Vault).HiddenList().contains(f.box + u'/' + result));
    QVERIFY(!form.area(Area::Vault).LEAD1()->hasPicture());
    QVERIFY(!isChosen(form, Area(2)));
    QVERIFY(!chosenOnCurrentTab(form));
}

void TstPictureFiles::renameCancelEmptyAndEmptyBase()
{
    BoxFixture f;
    const QString photo = f.put(QStringLiteral("photo.jpg"), pictures::jpeg({ 40, 30 }));
    QVERIFY(f.open());
    MainForm& form = *f.form;
    QVERIFY(selectPicture(form, 2, photo));
    const auto before = snapshot(f.home.storageRoot());
    // Cancel, an empty answer, and answers whose base name comes out empty.
    for (const QString& answer : { QString(), QStringLiteral("../x"), QStringLiteral("a.b/c") }) {
        f.prompts.clear();
        f.prompts.answerInput(answer);
        form.RF_Mod()->trigger();
        QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt() }));
        QCOMPARE(snapshot(f.home.storageRoot()), before);
        QVERIFY(chosenOnCurrentTab(form));
        QVERIFY(form.area(Area::Vault).LEAD1()->hasPicture());
    }
    // Nothing selected: nothing asked.
    f.prompts.clear();
    form.area(Area::Vault).clearSelection();
    form.RF_Mod()->trigger();
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstPictureFiles::renameStaysInTheFilesFolder()
{
    BoxFixture f;
    const QString photo = f.put(QStringLiteral("photo.jpg"), pictures::jpeg({ 40, 30 }));
    QVERIFY(f.open());
    MainForm& form = *f.form;
    // The vault's top is the tree's current folder, while a collapse of the box lists the box.
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QVERIFY(clickNode(form, 2, kVault));
    form.area(Area::Vault).TreeView1_Collapse(nodeAt(tree, QStringLiteral("保管庫/箱")));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), kVault);
    QVERIFY(selectPicture(form, 2, photo));
    f.prompts.clear();
    f.prompts.answerInput(QStringLiteral("trip"));
    form.RF_Mod()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt() }));
    QVERIFY(QFileInfo::exists(f.box + QStringLiteral("/trip.jpg")));
    QVERIFY(!QFileInfo::exists(f.home.vault() + QStringLiteral("/trip.jpg")));
    // The page the user acted on is listed again, not the tree's current folder.
    QCOMPARE(form.area(Area::Vault).HiddenList(), (QStringList { f.box + QStringLiteral("/trip.jpg") }));
}

void TstPictureFiles::renameNeverLeavesTheFolder()
{
    BoxFixture f;
    const QString photo = f.put(QStringLiteral("photo.jpg"), pictures::jpeg({ 40, 30 }));
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/sub"));
    QVERIFY(f.open());
    MainForm& form = *f.form;
    QVERIFY(selectPicture(form, 2, photo));
    const auto before = snapshot(f.home.storageRoot());
    // Without a "." the whole answer is the base name: "sub/x" would land in the sub-folder.
    for (const QString& answer :
        { QStringLiteral("sub/x"), QStringLiteral("/tmp/x"), QString::fromUtf16(u"x\0y", 3) }) {
        f.prompts.clear();
        f.prompts.answerInput(answer);
        form.RF_Mod()->trigger();
        QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt(), renameError() }));
        QCOMPARE(snapshot(f.home.storageRoot()), before);
    }
}

void TstPictureFiles::renameRefusesHiddenNames()
{
    BoxFixture f;
    const QString photo = f.put(QStringLiteral("photo.jpg"), pictures::jpeg({ 40, 30 }));
    QVERIFY(f.open());
    MainForm& form = *f.form;
    QVERIFY(selectPicture(form, 2, photo));
    const auto before = snapshot(f.home.storageRoot());
    const QString hidden = critical(
        QStringLiteral(
            "ファイル名の先頭に「.」は使えません\r「.」で始まるファイルは隠しファイルとなり、表示されません"),
        QStringLiteral("変更エラー"));
    // Each would make a file the pages never list; the user is told why, nothing is renamed.
    for (const QString& answer : { QStringLiteral(".x"), QStringLiteral(".x.jpg"), QStringLiteral("..png"),
             QStringLiteral(".png"), QStringLiteral("."), QStringLiteral("sub/.x.png") }) {
        f.prompts.clear();
        f.prompts.answerInput(answer);
        form.RF_Mod()->trigger();
        QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt(), hidden }));
        QCOMPARE(snapshot(f.home.storageRoot()), before);
        QVERIFY(chosenOnCurrentTab(form));
        QCOMPARE(form.area(Area::Vault).HiddenList(), (QStringList { photo }));
    }
    // A "." inside the name is an ordinary name.
    f.prompts.clear();
    f.prompts.answerInput(QStringLiteral("a.b.png"));
    form.RF_Mod()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt() }));
    QVERIFY(QFileInfo::exists(f.box + QStringLiteral("/a.b.jpg")));
}

void TstPictureFiles::deleteWithOkThenNothing()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    const int listed = int(form.area(Area::StockYard).HiddenList().size());
    QVERIFY(selectPicture(form, 1, camera));
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());

    form.Command3(1)->click();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk() }));
    QVERIFY(!QFileInfo::exists(camera));
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), listed - 1);
    QVERIFY(!form.area(Area::StockYard).HiddenList().contains(camera));
    QCOMPARE(form.area(Area::StockYard).LEADImgList1()->ThumbnailCount(), listed - 1);
    QVERIFY(!form.area(Area::StockYard).LEAD1()->hasPicture());
    QVERIFY(!isChosen(form, Area(1)));
    QVERIFY(!chosenOnCurrentTab(form));
    QCOMPARE(form.area(Area::StockYard).Combo1()->count(), 1);

    // A second delete does nothing until another thumbnail is chosen.
    const auto before = snapshot(f.home.storageRoot());
    f.prompts.clear();
    form.R_Del()->trigger();
    QVERIFY(f.prompts.calls.isEmpty());
    QCOMPARE(snapshot(f.home.storageRoot()), before);

    // The vault's delete is the same.
    const QString top = f.home.vault() + QStringLiteral("/top.png");
    QVERIFY(selectPicture(form, 2, top));
    form.RF_Del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk() }));
    QVERIFY(!QFileInfo::exists(top));
    QVERIFY(form.area(Area::Vault).HiddenList().isEmpty());
}

void TstPictureFiles::deleteCancelKeepsEverything()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    QVERIFY(selectPicture(form, 1, camera));
    const QStringList listed = form.area(Area::StockYard).HiddenList();
    f.prompts.answerMessage(PromptAnswer::Cancel);
    form.R_Del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk() }));
    QVERIFY(QFileInfo::exists(camera));
    QCOMPARE(form.area(Area::StockYard).HiddenList(), listed);
    QVERIFY(chosenOnCurrentTab(form));
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());
}

void TstPictureFiles::deleteFailureIsReportedAndPageRelisted()
{
    BoxFixture f;
    const QString a = f.put(QStringLiteral("a.jpg"), pictures::jpeg({ 40, 30 }));
    const QString b = f.put(QStringLiteral("b.jpg"), pictures::jpeg({ 30, 40 }));
    QVERIFY(f.open());
    MainForm& form = *f.form;

    // The trash is there but fails: no room for its record, or the file system refuses the
    // move (as a read-only folder would for a user other than root). Reported; the picture
    // stays, is never deleted for good, and the trash keeps no record of it.
    const QString trash = f.home.home() + QStringLiteral("/.local/share/Trash");
    const QByteArray bytes = contents(a);
    struct Case {
        faults::Op op;
        int err;
        QString text;
    };
    const Case cases[] = {
        { faults::Op::Write, ENOSPC,
            QStringLiteral("ごみ箱へ移動できませんでした（ディスクがいっぱいです）") },
        { faults::Op::Rename, EACCES,
            QStringLiteral("ごみ箱へ移動できませんでした（アクセスが許可されていません）") },
    };
    for (const Case& c : cases) {
        QVERIFY(selectPicture(form, 2, a));
        f.prompts.clear();
        faults::arm(c.op, 1, c.err);
        form.RF_Del()->trigger();
        faults::disarm();
        QCOMPARE(recorded(f.prompts),
            (QStringList { deleteAsk(), critical(c.text, QStringLiteral("削除エラー")) }));
        QCOMPARE(contents(a), bytes);
        QCOMPARE(entries(trash + QStringLiteral("/info")), QStringList());
        QCOMPARE(entries(trash + QStringLiteral("/files")), QStringList());
        QCOMPARE(form.area(Area::Vault).HiddenList(), (QStringList { a, b }));
        QVERIFY(!chosenOnCurrentTab(form));
    }

    // Already gone: reported, and the page no longer lists it.
    QVERIFY(selectPicture(form, 2, b));
    QVERIFY(QFile::remove(b));
    f.prompts.clear();
    form.RF_Del()->trigger();
    QCOMPARE(recorded(f.prompts).size(), 2);
    QCOMPARE(recorded(f.prompts).at(0), deleteAsk());
    QVERIFY(recorded(f.prompts).at(1).contains(
        QStringLiteral("選択中の画像ファイルは移動、削除または変更されています")));
    QCOMPARE(form.area(Area::Vault).HiddenList(), (QStringList { a }));

    // The whole box gone: the re-listing fails and says so, and the program goes on.
    QVERIFY(selectPicture(form, 2, a));
    QVERIFY(QDir(f.box).removeRecursively());
    f.prompts.clear();
    form.RF_Del()->trigger();
    QCOMPARE(recorded(f.prompts).size(), 3);
    QCOMPARE(recorded(f.prompts).at(0), deleteAsk());
    QVERIFY(recorded(f.prompts).at(1).contains(
        QStringLiteral("選択中の画像ファイルは移動、削除または変更されています")));
    QCOMPARE(recorded(f.prompts).at(2), message(QStringLiteral("ﾃﾞｨﾚｸﾄﾘ ﾌﾞﾗｳｼﾞﾝｸﾞのｴﾗｰ : 20007")));
    QVERIFY(!chosenOnCurrentTab(form));
    QVERIFY(form.isEnabled());
    QVERIFY(form.isVisible());
}

// The trash record's original path, percent-decoded; empty when the record is not whole.
static QString trashedFrom(const QString& record)
{
    const QList<QByteArray> lines = contents(record).split('\n');
    if (lines.size() != 4 || lines[0] != "[Trash Info]" || !lines[1].startsWith("Path=")
        || !lines[2].startsWith("DeletionDate="))
        return {};
    return QFile::decodeName(QByteArray::fromPercentEncoding(lines[1].mid(5)));
}

void TstPictureFiles::deleteMovesToTheTrash()
{
    MainFormFixture f;
    f.home.fillSample();
    const QString data = f.home.home() + QStringLiteral("/.local/share");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    const QString again = f.home.vault() + QStringLiteral("/camera.jpg");
    QVERIFY(writeRaw(again, pictures::jpeg({ 20, 20 }, Qt::blue)));
    MainForm& form = f.load();
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    const QByteArray bytes = contents(camera);
    const int listed = int(form.area(Area::StockYard).HiddenList().size());
    QVERIFY(selectPicture(form, 1, camera));

    form.Command3(1)->click();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk() }));
    QVERIFY(!QFileInfo::exists(camera));
    QCOMPARE(contents(data + QStringLiteral("/Trash/files/camera.jpg")), bytes);
    QCOMPARE(trashedFrom(data + QStringLiteral("/Trash/info/camera.jpg.trashinfo")),
        QFileInfo(f.home.stockYard()).canonicalFilePath() + QStringLiteral("/camera.jpg"));
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), listed - 1);
    QVERIFY(!chosenOnCurrentTab(form));

    // A vault picture of the same name goes beside it, recorded with its own folder; the
    // other pictures of the page stay.
    QVERIFY(selectPicture(form, 2, again));
    f.prompts.clear();
    form.RF_Del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk() }));
    QVERIFY(!QFileInfo::exists(again));
    QVERIFY(QFile::exists(f.home.vault() + QStringLiteral("/top.png")));
    QCOMPARE(contents(data + QStringLiteral("/Trash/files/camera.jpg")), bytes);
    QCOMPARE(trashedFrom(data + QStringLiteral("/Trash/info/camera.2.jpg.trashinfo")),
        QFileInfo(f.home.vault()).canonicalFilePath() + QStringLiteral("/camera.jpg"));
    QCOMPARE(entries(data + QStringLiteral("/Trash/files")),
        (QStringList { QStringLiteral("camera.2.jpg"), QStringLiteral("camera.jpg") }));
}

// A storage root on another disk than the home folder (a test cannot mount one: the trash is
// told where that disk's top is). The picture goes to that disk's own trash, unasked.
void TstPictureFiles::deleteOnAnotherDiskUsesItsTrash()
{
    MainFormFixture f;
    f.home.fillSample();
    const QString top = QFileInfo(f.home.home()).canonicalFilePath();
    faults::forceTrashTop(QFile::encodeName(top).toStdString());
    MainForm& form = f.load();
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    const QByteArray bytes = contents(camera);
    QVERIFY(selectPicture(form, 1, camera));
    form.R_Del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk() }));
    QVERIFY(!QFileInfo::exists(camera));
    const QString trash = top + QStringLiteral("/.Trash-") + QString::number(::geteuid());
    QCOMPARE(contents(trash + QStringLiteral("/files/camera.jpg")), bytes);
    QCOMPARE(trashedFrom(trash + QStringLiteral("/info/camera.jpg.trashinfo")),
        QStringLiteral("My Documents/ZTV_DATA/ストックヤード/camera.jpg"));
    QVERIFY(!QFileInfo::exists(f.home.home() + QStringLiteral("/.local/share/Trash")));
    QVERIFY(!form.area(Area::StockYard).HiddenList().contains(camera));
}

// No trash can take the picture: a delete for good is asked for once more, and only a yes
// deletes it.
void TstPictureFiles::deleteWithoutATrashAsksFirst()
{
    MainFormFixture f;
    f.home.fillSample();
    // That disk's trash is a link to another folder: never used.
    const QString top = f.home.makeDir(QStringLiteral("disk"));
    const QString elsewhere = f.home.makeDir(QStringLiteral("elsewhere"));
    QVERIFY(QFile::link(elsewhere, top + QStringLiteral("/.Trash-") + QString::number(::geteuid())));
    faults::forceTrashTop(QFile::encodeName(top).toStdString());
    MainForm& form = f.load();
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    const QString foreverAsk
        = message(QStringLiteral("このファイルはごみ箱に移動できません\r完全に削除します。よろしいですか？"),
            QStringLiteral("ファイルの削除"), "none", "okcancel");

    // No: nothing changes, and the choice stays as after a Cancel of the first question.
    QVERIFY(selectPicture(form, 1, camera));
    const QStringList listed = form.area(Area::StockYard).HiddenList();
    const auto before = snapshot(f.home.storageRoot());
    const QString uid = QString::number(::geteuid());
    const QString homeTrash = f.home.home() + QStringLiteral("/.local/share/Trash");
    f.prompts.answerMessage(PromptAnswer::Ok);
    f.prompts.answerMessage(PromptAnswer::Cancel);
    form.R_Del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(), foreverAsk }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(entries(top), QStringList { QStringLiteral(".Trash-") + uid });
    QCOMPARE(entries(elsewhere), QStringList());
    QVERIFY(!QFileInfo::exists(homeTrash));
    QCOMPARE(form.area(Area::StockYard).HiddenList(), listed);
    QVERIFY(chosenOnCurrentTab(form));
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());

    // Yes: that file alone is gone for good, and no trash anywhere holds it.
    f.prompts.clear();
    form.R_Del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(), foreverAsk }));
    QVERIFY(!QFileInfo::exists(camera));
    auto after = before;
    QVERIFY(after.remove(camera.mid(f.home.storageRoot().size())) == 1);
    QCOMPARE(snapshot(f.home.storageRoot()), after);
    QCOMPARE(entries(top), QStringList { QStringLiteral(".Trash-") + uid });
    QCOMPARE(entries(elsewhere), QStringList());
    QVERIFY(!QFileInfo::exists(homeTrash));
    QVERIFY(!form.area(Area::StockYard).HiddenList().contains(camera));
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), listed.size() - 1);
    QVERIFY(!chosenOnCurrentTab(form));
}

// Runs a step while the delete question is open, as events handled behind a modal box do.
struct PromptsWithAStep : RecordingPrompts {
    std::function<void()> step;
    PromptAnswer message(
        const QString& text, const QString& title, PromptIcon icon, PromptButtons buttons) override
    {
        if (step)
            std::exchange(step, nullptr)();
        return RecordingPrompts::message(text, title, icon, buttons);
    }
};

// The real window over the sample storage, its questions answered by PromptsWithAStep.
struct StepFixture {
    StepFixture()
    {
        home.fillSample();
        drives.envHome = home.home();
        form.Form_Load();
    }
    TestHome home;
    PromptsWithAStep prompts;
    FakeShell shell;
    FakeDrives drives;
    FakeSpreadsheet spreadsheet;
    Services services { prompts, shell, drives, spreadsheet, realFileOps() };
    MainForm form { services };
};

void TstPictureFiles::deleteTakesTheFileAskedAbout()
{
    StepFixture f;
    TestHome& home = f.home;
    PromptsWithAStep& prompts = f.prompts;
    MainForm& form = f.form;
    const QString camera = home.stockYard() + QStringLiteral("/camera.jpg");
    QVERIFY(selectPicture(form, 1, camera));
    // The page's list changes order behind the question: its index now names another file.
    const QStringList listed = form.area(Area::StockYard).HiddenList();
    // A picture that sorts first arrives and the page is listed again behind the question: the
    // chosen index now names another file.
    const QString first = home.stockYard() + QStringLiteral("/0 first.jpg");
    prompts.step = [&] {
        QFile file(first);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(pictures::jpeg(QSize(20, 10)));
        file.close();
        form.area(Area::StockYard).list(home.stockYard(), BrowsingArea::ListHow::Show);
        QCOMPARE(form.area(Area::StockYard).HiddenList().value(0), first);
    };
    form.R_Del()->trigger();
    QCOMPARE(recorded(prompts), (QStringList { deleteAsk() }));
    QVERIFY(!QFileInfo::exists(camera));
    for (const QString& other : listed)
        QVERIFY2(other == camera || QFileInfo::exists(other), qPrintable(other));
    QCOMPARE(entries(home.home() + QStringLiteral("/.local/share/Trash/files")),
        QStringList { QStringLiteral("camera.jpg") });
}

// A file replaced behind the question before a delete for good is not the one asked about:
// it stays, and the user is told.
void TstPictureFiles::deleteForGoodTakesOnlyTheFileAskedAbout()
{
    StepFixture f;
    TestHome& home = f.home;
    PromptsWithAStep& prompts = f.prompts;
    MainForm& form = f.form;
    const QString top = home.makeDir(QStringLiteral("disk"));
    QVERIFY(writeRaw(top + QStringLiteral("/.Trash-") + QString::number(::geteuid()), "no trash here"));
    faults::forceTrashTop(QFile::encodeName(top).toStdString());
    const QString camera = home.stockYard() + QStringLiteral("/camera.jpg");
    QVERIFY(selectPicture(form, 1, camera));
    const QByteArray replacement = pictures::jpeg({ 12, 12 }, Qt::green);
    // Runs as the first question opens, and arms the replacement for the second.
    prompts.step = [&] {
        prompts.step = [&] {
            QVERIFY(QFile::remove(camera));
            QVERIFY(writeRaw(camera, replacement));
        };
    };
    form.R_Del()->trigger();
    const QStringList said = recorded(prompts);
    QCOMPARE(said.size(), 3);
    QCOMPARE(said.at(0), deleteAsk());
    QVERIFY(said.at(1).startsWith(QStringLiteral("message|このファイルはごみ箱に移動できません")));
    QVERIFY(said.at(2).contains(QStringLiteral("選択中の画像ファイルは移動、削除または変更されています")));
    QCOMPARE(contents(camera), replacement);
    QVERIFY(!chosenOnCurrentTab(form));
}

void TstPictureFiles::clipboardCopy()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    QClipboard* clipboard = QGuiApplication::clipboard();

    // Nothing selected: the clipboard is emptied and nothing is put on it.
    clipboard->setText(QStringLiteral("earlier"));
    form.SSTab1()->setCurrentIndex(1);
    form.Command3(2)->click();
    QVERIFY(!clipboard->mimeData() || clipboard->mimeData()->formats().isEmpty());
    QVERIFY(clipboard->image().isNull());

    // The stock yard copies the picture only (flag 11)...
    QVERIFY(selectPicture(form, 1, f.home.stockYard() + QStringLiteral("/screen.png")));
    form.R_Clip_Copy()->trigger();
    QCOMPARE(clipboard->image().size(), QSize(200, 100));
    QVERIFY(clipboard->mimeData() && !clipboard->mimeData()->hasUrls());
    QVERIFY(chosenOnCurrentTab(form));
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());

    // ...the vault the picture and its file (flag 31).
    const QString top = f.home.vault() + QStringLiteral("/top.png");
    QVERIFY(selectPicture(form, 2, top));
    form.Command4(5)->click();
    QCOMPARE(clipboard->image().size(), QSize(50, 50));
    QVERIFY(clipboard->mimeData());
    QCOMPARE(clipboard->mimeData()->urls().value(0).toLocalFile(), top);

    // A tab switch ends the selection: copying then only empties the clipboard.
    form.SSTab1()->setCurrentIndex(0);
    form.RCD_Clip_Copy()->trigger();
    QVERIFY(clipboard->image().isNull());
    QVERIFY(f.prompts.calls.isEmpty());
}

// The clipboard gets the file's picture at its own size and upright, though the display holds
// a reduction; a picture over the load's limits is refused with a message, never shrunk.
void TstPictureFiles::clipboardCopyIsTheWholePicture()
{
    BoxFixture f;
    MainForm& form = *f.form;
    const QString wide = f.put(QStringLiteral("wide.jpg"), pictures::jpeg({ 3000, 1200 }, Qt::darkCyan));
    // Stored lying down with a quarter turn clockwise to apply: black comes out on top.
    const QString turned = f.put(QStringLiteral("turned.jpg"), pictures::halvesJpeg({ 2400, 1000 }, 6));
    // 12000 x 12000 takes 576 MB at 4 bytes a pixel, over the 512 MB the display may take.
    const QString huge = f.put(QStringLiteral("huge.jpg"), flatGreyJpeg(12000, 12000));
    QVERIFY(f.open());
    QClipboard* clipboard = QGuiApplication::clipboard();
    const PictureDisplay& display = *form.area(Area::Vault).LEAD1();

    QVERIFY(selectPicture(form, 2, wide));
    QVERIFY(display.picture().width() <= 2048); // the display's reduction
    form.Command4(5)->click();
    QCOMPARE(clipboard->image().size(), QSize(3000, 1200));
    QCOMPARE(clipboard->mimeData()->urls().value(0).toLocalFile(), wide);

    QVERIFY(selectPicture(form, 2, turned));
    QVERIFY(display.picture().height() <= 2048);
    form.RF_Clip_Copy()->trigger();
    const QImage upright = clipboard->image();
    QCOMPARE(upright.size(), QSize(1000, 2400));
    QVERIFY(qGray(upright.pixel(500, 100)) < 60);
    QVERIFY(qGray(upright.pixel(500, 2300)) > 200);
    QVERIFY(f.prompts.calls.isEmpty());

    // Over the limits: the message, and an empty clipboard rather than a smaller picture.
    QVERIFY(selectPicture(form, 2, huge));
    QVERIFY(display.hasPicture());
    form.RF_Clip_Copy()->trigger();
    QVERIFY(clipboard->image().isNull());
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(QStringLiteral("画像が大きすぎるため、クリップボードへコピーできません"),
            QStringLiteral("コピーエラー")) });
    QVERIFY(chosenOnCurrentTab(form)); // the choice stays, as after any copy
}

void TstPictureFiles::relistAfterChangeEndsTheChoice()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    QVERIFY(selectPicture(form, 1, camera));
    const BrowsingArea& yard = form.area(Area::StockYard);
    const qsizetype listed = yard.HiddenList().size();
    // A file came since the listing: the page lists it, and the choice made in the old
    // listing ends although its file is still there.
    QVERIFY(QFile::copy(camera, f.home.stockYard() + QStringLiteral("/added.jpg")));
    const BrowsingArea::Listing added
        = form.area(Area::StockYard).list(f.home.stockYard(), BrowsingArea::ListHow::AfterChange);
    filing::reportBrowse(form, added);
    QVERIFY(added.done());
    QCOMPARE(yard.HiddenList().size(), listed + 1);
    QCOMPARE(yard.LEADImgList1()->ThumbnailCount(), int(listed + 1));
    QVERIFY(!isChosen(form, Area::StockYard));
    QVERIFY(!yard.LEAD1()->hasPicture());
    QCOMPARE(yard.Combo1()->count(), 1);
    QCOMPARE(yard.invariantViolation(), QString());
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(form.isEnabled());

    // The folder went away: the failure is told once and nothing stays chosen.
    QVERIFY(selectPicture(form, 1, camera));
    const BrowsingArea::Listing gone
        = form.area(Area::StockYard)
              .list(f.home.stockYard() + QStringLiteral("/gone"), BrowsingArea::ListHow::AfterChange);
    filing::reportBrowse(form, gone);
    QCOMPARE(gone.result, BrowsingArea::ListResult::Failed);
    QCOMPARE(gone.code(), ThumbnailBrowser::ResultFolderUnreadable);
    QCOMPARE(f.prompts.calls.size(), 1);
    QVERIFY(yard.HiddenList().isEmpty());
    QVERIFY(!isChosen(form, Area::StockYard));
    QCOMPARE(yard.invariantViolation(), QString());
}

QTEST_MAIN(TstPictureFiles)
#include "tst_picturefiles.moc"
