#include "tst_saving.h"

#include "BrowseProgressLog.h"
#include "CaptureFixture.h"
#include "SavingHelpers.h"
#include "capture/PictureSaving.h"
#include "capture/SaveSelect.h"
#include "imaging/PictureFormats.h"
#include "imaging/ThumbnailList.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QComboBox>
#include <QImageReader>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

using namespace ztv;
using namespace ztv::test;

namespace {
QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}
} // namespace

void TstSaving::chooserOpensAndEveryWayOutEnablesTheWindow_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("キャンセル") << QStringLiteral("cancel");
    QTest::newRow("Esc") << QStringLiteral("esc");
    QTest::newRow("close box") << QStringLiteral("close");
    QTest::newRow("menu item, then キャンセル") << QStringLiteral("menu");
}

void TstSaving::chooserOpensAndEveryWayOutEnablesTheWindow()
{
    QFETCH(QString, way);
    CaptureFixture f;
    f.paste(samplePicture());
    if (way == QLatin1String("menu"))
        f.form->Clip_Save1()->trigger();
    else
        f.form->Command1(3)->click();

    QPointer<SaveSelect> select = f.form->pictureSaving().saveSelect();
    QVERIFY(select);
    QVERIFY(select->isVisible());
    QVERIFY(!select->isModal());
    QVERIFY(!f.form->isEnabled());
    QVERIFY(select->isEnabled());
    QCOMPARE(select->windowTitle(), QStringLiteral("保存形式の選択"));
    QCOMPARE(select->size(), QSize(214, 187));
    QCOMPARE(select->Option1[0]->text(), QStringLiteral("BMP形式で保存"));
    QCOMPARE(select->Option1[1]->text(), QStringLiteral("JPEG形式で保存"));
    QCOMPARE(select->Option1[2]->text(), QStringLiteral("PNG形式で保存"));
    QCOMPARE(select->Command1[0]->text(), QStringLiteral("保存"));
    QCOMPARE(select->Command1[1]->text(), QStringLiteral("キャンセル"));
    QCOMPARE(select->chosenOption(), -1);
    QVERIFY(select->Option1[0]->y() < select->Option1[1]->y());
    QVERIFY(select->Option1[1]->y() < select->Option1[2]->y());
    QCOMPARE(select->Option1[0]->nextInFocusChain(), select->Option1[1]);

    if (way == QLatin1String("esc"))
        QTest::keyClick(select, Qt::Key_Escape);
    else if (way == QLatin1String("close"))
        QVERIFY(select->close());
    else
        select->Command1[1]->click();

    QVERIFY(f.form->isEnabled());
    QVERIFY(!select->isVisible());
    QVERIFY(!f.form->pictureSaving().saveSelect());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!select); // unloaded
    QCOMPARE(f.dialog->shown.size(), 0);
    QCOMPARE(f.prompts.calls.size(), 0);
}

void TstSaving::chooserRemembersItsOptionUntilCancelled()
{
    CaptureFixture f;
    f.paste(samplePicture());
    const QString first = f.home.stockYard() + QStringLiteral("/一枚目.png");
    f.form->Command1(3)->click();
    SaveSelect* select = f.form->pictureSaving().saveSelect();
    QTest::mouseClick(select->Option1[2], Qt::LeftButton);
    f.dialog->answer(answerFor(first));
    select->Command1[0]->click();
    QVERIFY(f.form->isEnabled());
    QVERIFY(!select->isVisible()); // hidden, not unloaded
    QCOMPARE(f.form->pictureSaving().saveSelect(), select);
    QCOMPARE(formatOf(first), QByteArray("png"));

    // The same chooser comes back with PNG still chosen.
    f.form->Command1(3)->click();
    QCOMPARE(f.form->pictureSaving().saveSelect(), select);
    QVERIFY(select->isVisible());
    QCOMPARE(select->chosenOption(), 2);
    const QString second = f.home.stockYard() + QStringLiteral("/二枚目.png");
    f.dialog->answer(answerFor(second));
    select->Command1[0]->click();
    QCOMPARE(formatOf(second), QByteArray("png"));
    QCOMPARE(f.dialog->shown.last().formatList, QList<int> { formats::Png });

    // Cancel unloads it: the next one starts with nothing chosen.
    f.form->Command1(3)->click();
    select->Command1[1]->click();
    f.form->Command1(3)->click();
    SaveSelect* fresh = f.form->pictureSaving().saveSelect();
    QVERIFY(fresh);
    QCOMPARE(fresh->chosenOption(), -1);
    fresh->Command1[1]->click();
    QVERIFY(f.form->isEnabled());
}

void TstSaving::dialogSetUpForChooserAndGif()
{
    CaptureFixture f;
    f.paste(samplePicture());
    saveThroughChooser(f, 0, SaveRequest {}); // cancelled in the dialog
    QCOMPARE(f.dialog->shown.size(), 1);
    const ScriptedSaveDialog::Shown chooser = f.dialog->shown.at(0);
    QCOMPARE(chooser.owner, static_cast<QWidget*>(f.form->pictureSaving().saveSelect()));
    QCOMPARE(chooser.fileName, QString());
    QCOMPARE(chooser.initialFolder, f.form->storagePaths().VaultPath);
    QCOMPARE(chooser.initialFolder, f.home.vault());
    QCOMPARE(chooser.filter, QStringLiteral("JPEG|*.jpg|*.jpg|*.jpg"));
    QCOMPARE(chooser.flags, 4096);
    QCOMPARE(chooser.title, QStringLiteral("ﾌｧｲﾙの保存"));
    QCOMPARE(chooser.formatOptions, 2);
    QCOMPARE(chooser.extendedOptions, 32);
    QCOMPARE(chooser.formatList, QList<int> { formats::Bmp });
    QVERIFY(f.form->isEnabled());

    saveThroughChooser(f, 1, SaveRequest {});
    QCOMPARE(f.dialog->shown.last().formatList, QList<int> { formats::Jpeg });

    f.dialog->answerCancel();
    f.form->Command1(4)->click();
    const ScriptedSaveDialog::Shown gif = f.dialog->shown.last();
    QCOMPARE(gif.owner, static_cast<QWidget*>(f.form.get()));
    QCOMPARE(gif.initialFolder, f.home.vault());
    QCOMPARE(gif.filter, QStringLiteral("JPEG|*.jpg|*.jpg|*.jpg"));
    QCOMPARE(gif.flags, 4096);
    QCOMPARE(gif.title, QStringLiteral("ﾌｧｲﾙの保存"));
    QCOMPARE(gif.extendedOptions, 32);
    QCOMPARE(gif.formatList, QList<int> { formats::Gif });
    QCOMPARE(f.prompts.calls.size(), 0);
}

// Save with nothing chosen: the dialog offers what it held, here the GIF of the last save.
void TstSaving::noOptionChosenKeepsTheOfferedFormat()
{
    CaptureFixture f;
    f.paste(samplePicture());
    saveThroughChooser(f, -1, SaveRequest {});
    QCOMPARE(f.dialog->shown.last().formatList, QList<int> { formats::Jpeg });

    f.dialog->answerCancel();
    f.form->Command1(4)->click();
    const QString path = f.home.stockYard() + QStringLiteral("/選ばず");
    saveThroughChooser(f, -1, answerFor(path));
    QCOMPARE(f.dialog->shown.last().formatList, QList<int> { formats::Gif });
    QCOMPARE(formatOf(path + QStringLiteral(".gif")), QByteArray("gif"));
}

void TstSaving::dialogCancelledWritesNothing()
{
    CaptureFixture f;
    f.paste(samplePicture());
    const QStringList before
        = QDir(f.home.vault()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    saveThroughChooser(f, 2, SaveRequest {});
    f.dialog->answerCancel();
    f.form->Command1(4)->click();
    QCOMPARE(QDir(f.home.vault()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    QCOMPARE(f.prompts.calls.size(), 0);
    QVERIFY(f.form->isEnabled());
}

void TstSaving::pngIntoTheStockYard()
{
    CaptureFixture f;
    f.home.write(
        QStringLiteral("My Documents/ZTV_DATA/ストックヤード/既存.jpg"), pictures::jpeg(QSize(40, 30)));
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/中の箱"));
    // A picture chosen on the stock yard before the save.
    BrowsingArea& yardTab = f.form->area(Area::StockYard);
    const QString chosen = f.home.stockYard() + QStringLiteral("/既存.jpg");
    yardTab.list(f.home.stockYard(), BrowsingArea::ListHow::Show);
    yardTab.LEADImgList1_Click(int(yardTab.HiddenList().indexOf(chosen)));
    QVERIFY(yardTab.TabSelection());
    QCOMPARE(yardTab.TabSelection()->path, chosen);
    const QImage source = samplePicture(QSize(123, 77), true);
    f.paste(source);
    TreeWatch yard(*f.form->area(Area::StockYard).TreeView1());
    TreeWatch vault(*f.form->area(Area::Vault).TreeView1());

    const QString path = f.home.stockYard() + QStringLiteral("/貼り付け.png");
    saveThroughChooser(f, 2, answerFor(path, 32, 0, true));

    QCOMPARE(f.prompts.calls.size(), 0);
    QCOMPARE(formatOf(path), QByteArray("png"));
    const QImage back = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(back.size(), source.size());
    QCOMPARE(back, f.form->LEAD2().picture().convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(qAlpha(back.pixel(1, 1)), 0); // kept, as the request asked

    // Node_Exp once, with the stock yard itself: its root is opened and selected.
    QCOMPARE(yard.expanded, QStringList { QStringLiteral("ストックヤード") });
    QCOMPARE(f.form->area(Area::StockYard)
                 .TreeView1()
                 ->treePath(f.form->area(Area::StockYard).TreeView1()->currentItem()),
        QStringLiteral("ストックヤード"));
    QCOMPARE(vault.expanded, QStringList());
    QCOMPARE(sorted(f.form->area(Area::StockYard).HiddenList()),
        sorted({ path, f.home.stockYard() + QStringLiteral("/既存.jpg") }));
    QCOMPARE(f.form->area(Area::StockYard).LEADImgList1()->ThumbnailCount(), 2);
    QCOMPARE(f.form->area(Area::StockYard).Combo1()->count(), 1);
    QVERIFY(!isChosen(*f.form, Area(1)));
    QVERIFY(!f.form->area(Area::StockYard).LEAD1()->hasPicture());
    QVERIFY(f.form->isEnabled());
}

void TstSaving::jpegIntoAVaultBox()
{
    CaptureFixture f;
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/古い.jpg"), pictures::jpeg(QSize(40, 30)));
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/内箱"));
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱B/別.jpg"), pictures::jpeg(QSize(40, 30)));
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/直下.png"), pictures::png(QSize(20, 20)));
    // Rebuild the vault tab over the boxes just made.
    f.form->area(Area::Vault).TreeView1()->removeAllNodes();
    f.form->area(Area::Vault).BuildAreaTree();
    f.form->area(Area::Vault).list(f.home.vault(), BrowsingArea::ListHow::Show);
    const QImage source = samplePicture(QSize(64, 48));
    f.paste(source);
    const QStringList yardBefore = f.form->area(Area::StockYard).HiddenList();
    TreeWatch vault(*f.form->area(Area::Vault).TreeView1());

    const QString box = f.home.vault() + QStringLiteral("/箱A");
    saveThroughChooser(f, 1, answerFor(box + QStringLiteral("/新しい.jpg"), 24, 90));

    QCOMPARE(f.prompts.calls.size(), 0);
    QCOMPARE(formatOf(box + QStringLiteral("/新しい.jpg")), QByteArray("jpeg"));
    QCOMPARE(QImage(box + QStringLiteral("/新しい.jpg")).size(), source.size());
    QCOMPARE(vault.expanded, (QStringList { QStringLiteral("保管庫"), QStringLiteral("保管庫/箱A") }));
    QCOMPARE(
        f.form->area(Area::Vault).TreeView1()->treePath(f.form->area(Area::Vault).TreeView1()->currentItem()),
        QStringLiteral("保管庫/箱A"));
    QCOMPARE(sorted(f.form->area(Area::Vault).HiddenList()),
        sorted({ box + QStringLiteral("/新しい.jpg"), box + QStringLiteral("/古い.jpg") }));
    QCOMPARE(f.form->area(Area::Vault).LEADImgList1()->ThumbnailCount(), 2);
    QCOMPARE(f.form->area(Area::StockYard).HiddenList(), yardBefore);
}

void TstSaving::outsideTheStorageRoot()
{
    CaptureFixture f;
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/a.jpg"), pictures::jpeg(QSize(40, 30)));
    f.form->area(Area::StockYard).list(f.home.stockYard(), BrowsingArea::ListHow::Show);
    f.paste(samplePicture());
    const QStringList lists[3] = { f.form->area(Area::Cd).HiddenList(),
        f.form->area(Area::StockYard).HiddenList(), f.form->area(Area::Vault).HiddenList() };
    const TreeWatch cd(*f.form->area(Area::Cd).TreeView1()), yard(*f.form->area(Area::StockYard).TreeView1()),
        vault(*f.form->area(Area::Vault).TreeView1());
    const TreeWatch* trees[3] = { &cd, &yard, &vault };
    QTemporaryDir elsewhere;
    const QString path = elsewhere.filePath(QStringLiteral("外.bmp"));
    saveThroughChooser(f, 0, answerFor(path, 24));

    QCOMPARE(formatOf(path), QByteArray("bmp"));
    QCOMPARE(f.prompts.calls.size(), 0);
    for (int tab = 0; tab < 3; ++tab) {
        QCOMPARE(f.form->area(Area(tab)).HiddenList(), lists[tab]);
        QCOMPARE(trees[tab]->expanded, QStringList());
        QCOMPARE(trees[tab]->currentChanges, 0);
    }
    QVERIFY(f.form->isEnabled());

    // A file in the storage root itself names no area: the CD tab's page shows its folder.
    const QString root = f.home.storageRoot() + QStringLiteral("直接.png");
    saveThroughChooser(f, 2, answerFor(root));
    QCOMPARE(f.form->area(Area::Cd).HiddenList(), QStringList { root });
    QCOMPARE(f.form->area(Area::StockYard).HiddenList(), lists[1]);
    for (int tab = 0; tab < 3; ++tab)
        QCOMPARE(trees[tab]->expanded, QStringList());
}

// The dialog gives the chosen format's extension to a name typed without it, or with another
// format's; the file is always written in the chosen format.
void TstSaving::typedNameGetsTheFormatsExtension()
{
    CaptureFixture f;
    f.paste(samplePicture());
    QTemporaryDir dir;
    saveThroughChooser(f, 2, answerFor(dir.filePath(QStringLiteral("無題"))));
    saveThroughChooser(f, 2, answerFor(dir.filePath(QStringLiteral("写真.jpg"))));
    saveThroughChooser(f, 1, answerFor(dir.filePath(QStringLiteral("大文字.JPEG"))));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
        (QStringList {
            QStringLiteral("写真.jpg.png"), QStringLiteral("大文字.JPEG"), QStringLiteral("無題.png") }));
    QCOMPARE(formatOf(dir.filePath(QStringLiteral("無題.png"))), QByteArray("png"));
    QCOMPARE(formatOf(dir.filePath(QStringLiteral("写真.jpg.png"))), QByteArray("png"));
    QCOMPARE(formatOf(dir.filePath(QStringLiteral("大文字.JPEG"))), QByteArray("jpeg"));
}

void TstSaving::overwriteRefusedOrAccepted()
{
    CaptureFixture f;
    f.paste(samplePicture());
    const QByteArray old = pictures::jpeg(QSize(30, 20));
    const QString path = f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/同名.jpg"), old);
    TreeWatch vault(*f.form->area(Area::Vault).TreeView1());

    f.prompts.answerMessage(PromptAnswer::Cancel);
    saveThroughChooser(f, 1, answerFor(path));
    QCOMPARE(f.prompts.calls.size(), 1);
    const RecordingPrompts::Call q = f.prompts.calls.first();
    QCOMPARE(q.text, QStringLiteral("上書きしますか？"));
    QCOMPARE(q.title, QStringLiteral("上書き保存"));
    QCOMPARE(q.icon, PromptIcon::None);
    QCOMPARE(q.buttons, PromptButtons::OkCancel);
    QCOMPARE(readAll(path), old);
    QCOMPARE(vault.expanded, QStringList());
    QVERIFY(f.form->isEnabled());

    // The GIF save asks the same and stops as well.
    const QByteArray oldGif = pictures::gif();
    const QString gif = f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/同名.gif"), oldGif);
    f.prompts.answerMessage(PromptAnswer::Cancel);
    f.dialog->answer(answerFor(gif));
    f.form->Command1(4)->click();
    QCOMPARE(f.prompts.calls.size(), 2);
    QCOMPARE(f.prompts.calls.last().text, QStringLiteral("上書きしますか？"));
    QCOMPARE(readAll(gif), oldGif);

    f.prompts.answerMessage(PromptAnswer::Ok);
    saveThroughChooser(f, 1, answerFor(path));
    QCOMPARE(f.prompts.calls.size(), 3);
    QCOMPARE(QImage(path).size(), f.form->LEAD2().picture().size());
    QVERIFY(f.form->area(Area::Vault).HiddenList().contains(path));
}

void TstSaving::nameDifferingOnlyInCaseAsksNothing()
{
    CaptureFixture f;
    f.paste(samplePicture());
    const QByteArray old = pictures::png(QSize(5, 5));
    const QString upper = f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/Photo.PNG"), old);
    saveThroughChooser(f, 2, answerFor(f.home.vault() + QStringLiteral("/photo.png")));
    QCOMPARE(f.prompts.calls.size(), 0);
    QCOMPARE(readAll(upper), old);
    QCOMPARE(QImage(f.home.vault() + QStringLiteral("/photo.png")).size(), f.form->LEAD2().picture().size());
}

// The extended chooser save writes the scaled picture once and leaves the views alone. It
// asks before replacing a file, as the plain save does.
void TstSaving::extendedChooserSaveWritesOnceAndRefreshesNothing()
{
    CaptureFixture f;
    f.paste(samplePicture(QSize(400, 200)));
    const QStringList yard = f.form->area(Area::StockYard).HiddenList();
    TreeWatch watch(*f.form->area(Area::StockYard).TreeView1());
    const QString path = f.home.stockYard() + QStringLiteral("/縮小.jpg");
    SaveRequest r = answerFor(path, 24, 80);
    r.extended = true;
    r.extendedSize = 100;
    r.extendedInteger = PictureDisplay::SaveInterlaced;
    saveThroughChooser(f, 1, r);
    QCOMPARE(QImage(path).size(), QSize(100, 50));
    QCOMPARE(f.form->area(Area::StockYard).HiddenList(), yard);
    QCOMPARE(watch.expanded, QStringList());
    QCOMPARE(f.prompts.calls.size(), 0);
    QVERIFY(f.form->isEnabled());

    const QByteArray first = readAll(path);
    f.prompts.answerMessage(PromptAnswer::Cancel);
    r.extendedSize = 300;
    saveThroughChooser(f, 1, r);
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls.first().text, QStringLiteral("上書きしますか？"));
    QCOMPARE(readAll(path), first);
}

// Esc during an earlier listing leaves the stop request set; the listing after a save
// still shows the whole folder.
void TstSaving::earlierStoppedRunDoesNotCutTheRefreshShort()
{
    CaptureFixture f;
    for (int i = 0; i < 4; ++i)
        f.home.write(
            QStringLiteral("My Documents/ZTV_DATA/ストックヤード/%1.png").arg(i), pictures::png(QSize(8, 8)));
    f.paste(samplePicture());
    f.form->browseRun().setLeft(true, 57); // left by an earlier run
    BrowseProgressLog log(*f.form);
    saveThroughChooser(f, 2, answerFor(f.home.stockYard() + QStringLiteral("/9.png")));
    QCOMPARE(f.form->area(Area::StockYard).HiddenList().size(), 5);
    QCOMPARE(f.prompts.calls.size(), 0);
    // The line counts this run's files against this run's folder.
    QCOMPARE(f.form->browseRun().gBrowseIndex(), 5);
    QCOMPARE(log.runs.size(), 1);
    QCOMPARE(log.runs[0].area, Area::StockYard);
    QCOMPARE(log.runs[0].lines, BrowseProgressLog::whole(5));
    QVERIFY(f.form->BrowseStatus()->isHidden());
}

// The line of the listing after a save says Esc stops it, and it does.
void TstSaving::escStopsTheRefreshAfterASave()
{
    CaptureFixture f;
    for (int i = 0; i < 6; ++i)
        f.home.write(
            QStringLiteral("My Documents/ZTV_DATA/ストックヤード/%1.png").arg(i), pictures::png(QSize(8, 8)));
    f.paste(samplePicture());
    BrowseProgressLog log(*f.form);
    log.escAt(1, 1);
    const QString saved = f.home.stockYard() + QStringLiteral("/9.png");
    saveThroughChooser(f, 2, answerFor(saved));
    QVERIFY(QFileInfo::exists(saved)); // the save itself is complete
    QCOMPARE(log.runs.size(), 1);
    const QStringList& lines = log.runs[0].lines;
    QVERIFY2(BrowseProgressLog::stoppedAt(lines, 1, 7), qPrintable(lines.join(u'\n')));
    QCOMPARE(f.form->area(Area::StockYard).HiddenList().size(), lines.size());
    QVERIFY(f.form->isEnabled());
    QVERIFY(f.form->BrowseStatus()->isHidden());
}

QTEST_MAIN(TstSaving)
