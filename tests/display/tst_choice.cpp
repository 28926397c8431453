// What a tab's operations act on after the page was listed again underneath the choice: the
// picture the display shows, or nothing. Driven on the real window with mouse and keys.
#include "MainFormFixture.h"
#include "display/BrowsingArea.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "widgets/FolderTree.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

using namespace ztv;
using namespace ztv::test;

namespace {

// Every file under the storage root with its bytes.
QMap<QString, QByteArray> files(const QString& root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            out.insert(f.fileName(), f.readAll());
    }
    return out;
}

QString agreement(MainForm& form)
{
    for (Area a : kAreas)
        if (const QString problem = form.area(a).invariantViolation(); !problem.isEmpty())
            return problem;
    return QString();
}

void clickThumbnail(MainForm& form, Area area, int item)
{
    QAbstractItemView* view = form.area(area).LEADImgList1()->view();
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(item, 0)).center());
}

void enterOnThumbnail(MainForm& form, Area area, int item)
{
    QAbstractItemView* view = form.area(area).LEADImgList1()->view();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(item, 0));
    QTest::keyClick(view, Qt::Key_Return);
}

void clickNode(MainForm& form, Area area, const QString& treePath)
{
    FolderTree* tree = form.area(area).TreeView1();
    for (QTreeWidgetItem* node : tree->allNodes()) {
        if (tree->treePath(node) != treePath)
            continue;
        for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
            tree->expandItem(p);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
        return;
    }
    QFAIL(qPrintable(treePath));
}

struct ChoiceFixture : MainFormFixture {
    ChoiceFixture()
    {
        const QString v = QStringLiteral("My Documents/ZTV_DATA/保管庫/");
        home.write(v + QStringLiteral("top1.png"), pictures::png({ 40, 30 }, Qt::cyan));
        home.write(v + QStringLiteral("top2.png"), pictures::png({ 30, 40 }, Qt::blue));
        for (int i = 1; i <= 3; ++i)
            home.write(v + QStringLiteral("箱/p%1.jpg").arg(i),
                pictures::jpeg({ 30 + i, 30 }, QColor::fromHsv(i * 90, 200, 200)));
        home.makeDir(v + QStringLiteral("箱/中"));
        const QString s = QStringLiteral("My Documents/ZTV_DATA/ストックヤード/");
        for (int i = 1; i <= 3; ++i)
            home.write(s + QStringLiteral("s%1.png").arg(i),
                pictures::png({ 20 + i, 20 }, QColor::fromHsv(i * 40, 200, 200)));
        load();
        form->show();
    }
    MainForm& w() { return *form; }
};

enum class Chosen { ByClick, ByEnter };
enum class Deleted { ByButton, ByMenu };

} // namespace

class TstChoice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void collapseUnderTheChoiceThenDelete_data();
    void collapseUnderTheChoiceThenDelete();
    void chooserLeftOpenWhileTheVaultIsUsed();
    void chooserRefusesWhenTheChoiceMovedOn();
    void operationsRefuseAFileReplacedOutside();
    void tabRoundTripEndsTheSelection();
    void changedFileReadsAsTheOperationsError();
    void selectorFollowsAPageThatEmptied();
    void relistSettlesTheChoice();
};

void TstChoice::collapseUnderTheChoiceThenDelete_data()
{
    QTest::addColumn<Chosen>("chosen");
    QTest::addColumn<Deleted>("deleted");
    QTest::addColumn<int>("lefts");
    QTest::newRow("click, button, one Left") << Chosen::ByClick << Deleted::ByButton << 1;
    QTest::newRow("click, button, two Lefts") << Chosen::ByClick << Deleted::ByButton << 2;
    QTest::newRow("Enter, menu, two Lefts") << Chosen::ByEnter << Deleted::ByMenu << 2;
    QTest::newRow("Enter, button, three Lefts") << Chosen::ByEnter << Deleted::ByButton << 3;
}

// Open a box, choose its second picture, move to the tree and collapse upwards with Left (the
// page lists another folder), then delete with OK: only the picture the display shows, if
// any, may go.
void TstChoice::collapseUnderTheChoiceThenDelete()
{
    QFETCH(Chosen, chosen);
    QFETCH(Deleted, deleted);
    QFETCH(int, lefts);
    ChoiceFixture f;
    MainForm& form = f.w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1()->setCurrentIndex(2);
    clickNode(form, Area::Vault, QStringLiteral("保管庫/箱"));
    BrowsingArea& vault = form.area(Area::Vault);
    QCOMPARE(vault.HiddenList().size(), 3);
    if (chosen == Chosen::ByClick)
        clickThumbnail(form, Area::Vault, 1);
    else
        enterOnThumbnail(form, Area::Vault, 1);
    QCOMPARE(vault.LEAD1()->sourcePath(), vault.HiddenList().at(1));
    QVERIFY(vault.LEADImgList1()->view()->hasFocus());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), vault.TreeView1());
    for (int i = 0; i < lefts; ++i) {
        QTest::keyClick(vault.TreeView1(), Qt::Key_Left);
        QCOMPARE(agreement(form), QString());
    }
    const QString shown = vault.LEAD1()->sourcePath();
    const auto before = files(f.home.storageRoot());

    if (deleted == Deleted::ByButton)
        form.Command4(3)->click();
    else
        form.RF_Del()->trigger();
    QCOMPARE(agreement(form), QString());
    auto expected = before;
    expected.remove(shown);
    QCOMPARE(files(f.home.storageRoot()), expected);
}

// Stock yard: ask to move a picture, leave the chooser open, choose a picture on the vault's
// tab, then press the chooser's button and delete on the vault's tab with OK.
void TstChoice::chooserLeftOpenWhileTheVaultIsUsed()
{
    ChoiceFixture f;
    MainForm& form = f.w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString moved = f.home.stockYard() + QStringLiteral("/s2.png");
    form.SSTab1()->setCurrentIndex(1);
    clickThumbnail(form, Area::StockYard, int(form.area(Area::StockYard).HiddenList().indexOf(moved)));
    QVERIFY(isChosen(form, Area::StockYard));
    form.Command3(0)->click();
    SetFolder* chooser = form.vaultTransfer().chooser();
    QVERIFY(chooser);

    form.SSTab1()->setCurrentIndex(2);
    BrowsingArea& vault = form.area(Area::Vault);
    clickThumbnail(form, Area::Vault, 1);
    const QString vaultChoice = vault.LEAD1()->sourcePath();
    QVERIFY(!vaultChoice.isEmpty());
    const auto before = files(f.home.storageRoot());

    chooser->Command1[0]->click();
    QCOMPARE(agreement(form), QString());
    auto expected = before;
    expected.insert(f.home.vault() + QStringLiteral("/s2.png"), expected.take(moved));
    QCOMPARE(files(f.home.storageRoot()), expected);
    // The vault's page lists the moved file; what it shows is what a delete acts on.
    QVERIFY(vault.HiddenList().contains(f.home.vault() + QStringLiteral("/s2.png")));
    const QString shown = vault.LEAD1()->sourcePath();
    form.Command4(3)->click();
    QCOMPARE(agreement(form), QString());
    expected.remove(shown);
    QCOMPARE(files(f.home.storageRoot()), expected);
}

// The chooser acts on the picture its tab shows: chosen anew on the stock yard meanwhile, or
// moved away behind the program's back, the request files nothing.
void TstChoice::chooserRefusesWhenTheChoiceMovedOn()
{
    ChoiceFixture f;
    MainForm& form = f.w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1()->setCurrentIndex(1);
    clickThumbnail(form, Area::StockYard, 0);
    form.Command3(0)->click();
    SetFolder* chooser = form.vaultTransfer().chooser();
    QVERIFY(chooser);
    clickThumbnail(form, Area::StockYard, 2);
    const auto before = files(f.home.storageRoot());
    f.prompts.clear();
    chooser->Command1[0]->click();
    QCOMPARE(files(f.home.storageRoot()), before);
    QCOMPARE(f.prompts.calls.size(), 1);
    QVERIFY(f.prompts.calls.at(0).text.startsWith(QStringLiteral("選択中の画像が変わったか")));
    QCOMPARE(f.prompts.calls.at(0).title, QStringLiteral("保管エラー"));
    QCOMPARE(f.prompts.calls.at(0).icon, PromptIcon::Critical);

    // Asked again for the picture now shown, which then goes away outside the program.
    const QString shown = form.area(Area::StockYard).LEAD1()->sourcePath();
    form.Command3(0)->click();
    chooser = form.vaultTransfer().chooser();
    QVERIFY(QFile::rename(shown, shown + QStringLiteral(".away")));
    f.prompts.clear();
    chooser->Command1[0]->click();
    QVERIFY(!QFileInfo::exists(f.home.vault() + u'/' + QFileInfo(shown).fileName()));
    QCOMPARE(f.prompts.calls.size(), 1);
    QVERIFY(f.prompts.calls.at(0).text.startsWith(
        QStringLiteral("選択中の画像ファイルは移動、削除または変更されています")));
    QCOMPARE(agreement(form), QString());
}

// A picture rewritten under its name after it was chosen is not the one chosen: delete,
// rename, clipboard copy and preview refuse it, say why and end the choice.
void TstChoice::operationsRefuseAFileReplacedOutside()
{
    ChoiceFixture f;
    MainForm& form = f.w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1()->setCurrentIndex(2);
    const QList<std::function<void()>> operations {
        [&] { form.Command4(3)->click(); },
        [&] {
            f.prompts.answerInput(QStringLiteral("新しい名前"));
            form.Command4(4)->click();
        },
        [&] { form.Command4(5)->click(); },
        [&] { QTest::mouseClick(form.area(Area::Vault).LEAD1(), Qt::LeftButton); },
    };
    for (const auto& operation : operations) {
        clickThumbnail(form, Area::Vault, 0);
        const QString chosen = form.area(Area::Vault).LEAD1()->sourcePath();
        QVERIFY(!chosen.isEmpty());
        QFile file(chosen);
        QVERIFY(file.open(QIODevice::Append));
        file.write("changed outside");
        file.close();
        const auto before = files(f.home.storageRoot());
        f.prompts.clear();
        operation();
        QCOMPARE(files(f.home.storageRoot()), before);
        QVERIFY(!form.previewForm());
        QVERIFY(!isChosen(form, Area::Vault));
        QCOMPARE(agreement(form), QString());
        bool told = false;
        for (const auto& call : f.prompts.calls)
            told = told
                || call.text.startsWith(
                    QStringLiteral("選択中の画像ファイルは移動、削除または変更されています"));
        QVERIFY(told);
    }
}

// From the stock yard with a chosen picture to the vault and back: until a thumbnail is chosen
// again, delete, the transfer request and the clipboard copy act on nothing, though the
// display still shows the picture; rename likewise on the vault after a round trip.
void TstChoice::tabRoundTripEndsTheSelection()
{
    ChoiceFixture f;
    MainForm& form = f.w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1()->setCurrentIndex(1);
    clickThumbnail(form, Area::StockYard, 0);
    QVERIFY(form.pictureSelected());
    const QString shown = form.area(Area::StockYard).LEAD1()->sourcePath();
    QVERIFY(!shown.isEmpty());
    form.SSTab1()->setCurrentIndex(2);
    QVERIFY(!form.pictureSelected());
    form.SSTab1()->setCurrentIndex(1);
    QVERIFY(!form.pictureSelected());
    QCOMPARE(form.area(Area::StockYard).LEAD1()->sourcePath(), shown);
    QCOMPARE(agreement(form), QString());

    const auto before = files(f.home.storageRoot());
    QGuiApplication::clipboard()->setText(QStringLiteral("kept?"));
    f.prompts.clear();
    form.Command3(1)->click(); // delete
    form.R_Del()->trigger();
    form.Command3(0)->click(); // to the vault
    form.Command3(2)->click(); // clipboard
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(!form.vaultTransfer().chooser());
    QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
    QVERIFY(QGuiApplication::clipboard()->image().isNull());
    QCOMPARE(files(f.home.storageRoot()), before);

    // The vault: chosen, round trip, rename asks nothing.
    form.SSTab1()->setCurrentIndex(2);
    clickThumbnail(form, Area::Vault, 0);
    form.SSTab1()->setCurrentIndex(0);
    form.SSTab1()->setCurrentIndex(2);
    f.prompts.answerInput(QStringLiteral("新しい名前"));
    form.Command4(4)->click();
    QVERIFY(f.prompts.calls.isEmpty());
    QCOMPARE(files(f.home.storageRoot()), before);

    // Chosen again, the delete asks and takes the picture shown.
    form.SSTab1()->setCurrentIndex(1);
    clickThumbnail(form, Area::StockYard, 0);
    f.prompts.clear();
    form.Command3(1)->click();
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls.at(0).text, QStringLiteral("削除します。よろしいですか？"));
    QVERIFY(!QFileInfo::exists(shown));
    QVERIFY(!form.pictureSelected());
}

// A picture changed since it was chosen is reported as the operation's own errors are: its
// title, the critical icon, lines broken as the other texts break them, no closing 。.
void TstChoice::changedFileReadsAsTheOperationsError()
{
    ChoiceFixture f;
    MainForm& form = f.w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1()->setCurrentIndex(2);
    struct Case {
        QString title;
        PromptIcon icon;
        std::function<void()> run;
    };
    const QList<Case> cases {
        { QStringLiteral("削除エラー"), PromptIcon::Critical, [&] { form.Command4(3)->click(); } },
        { QStringLiteral("変更エラー"), PromptIcon::Critical,
            [&] {
                f.prompts.answerInput(QStringLiteral("別名"));
                form.Command4(4)->click();
            } },
        // The clipboard copy has no error box of its own: a notice under the program's title.
        { Prompts::effectiveTitle(QString()), PromptIcon::None, [&] { form.Command4(5)->click(); } },
    };
    for (const Case& c : cases) {
        clickThumbnail(form, Area::Vault, 0);
        QFile file(form.area(Area::Vault).LEAD1()->sourcePath());
        QVERIFY(file.open(QIODevice::Append));
        file.write("changed");
        file.close();
        f.prompts.clear();
        c.run();
        const auto it = std::find_if(f.prompts.calls.cbegin(), f.prompts.calls.cend(),
            [](const auto& call) { return call.text.startsWith(QStringLiteral("選択中の画像ファイル")); });
        QVERIFY(it != f.prompts.calls.cend());
        QCOMPARE(it->title, c.title);
        QCOMPARE(it->icon, c.icon);
        QVERIFY(it->text.contains(u'\r') && !it->text.contains(u'\n'));
        QVERIFY(!it->text.endsWith(u'。'));
    }

    // A chooser pressed after the choice ended (a click that lists another folder).
    form.SSTab1()->setCurrentIndex(1);
    clickThumbnail(form, Area::StockYard, 0);
    form.Command3(0)->click();
    SetFolder* chooser = form.vaultTransfer().chooser();
    QVERIFY(chooser);
    clickNode(form, Area::StockYard, QStringLiteral("ストックヤード"));
    QVERIFY(!isChosen(form, Area::StockYard));
    const auto before = files(f.home.storageRoot());
    f.prompts.clear();
    chooser->Command1[0]->click();
    QCOMPARE(files(f.home.storageRoot()), before);
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls.at(0).text,
        QStringLiteral(
            "選択中の画像が変わったか、選択が解除されています\rもう一度画像を選択してから操作してください"));
    QCOMPARE(f.prompts.calls.at(0).title, QStringLiteral("保管エラー"));
}

// Three pages lose most of their files outside the program; a click on a vanished picture
// empties the page, and the selector and the count follow.
void TstChoice::selectorFollowsAPageThatEmptied()
{
    ChoiceFixture f;
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << f.home.write(
            QStringLiteral("My Documents/ZTV_DATA/ストックヤード/m%1.png").arg(i, 2, 10, QLatin1Char('0')),
            pictures::png({ 8, 8 }, Qt::gray));
    MainForm& form = f.w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1()->setCurrentIndex(1);
    clickNode(form, Area::StockYard, QStringLiteral("ストックヤード"));
    BrowsingArea& yard = form.area(Area::StockYard);
    QCOMPARE(yard.HiddenList().size(), 63);
    QCOMPARE(yard.Combo1()->count(), 3);
    QCOMPARE(yard.Label3()->text(), QStringLiteral("3"));
    for (int i = 0; i < 50; ++i)
        QVERIFY(QFile::remove(many.at(i)));
    clickThumbnail(form, Area::StockYard, 0);
    QCOMPARE(yard.HiddenList().size(), 0);
    QCOMPARE(yard.Combo1()->count(), 1);
    QCOMPARE(yard.Label3()->text(), QStringLiteral("1"));
    QCOMPARE(agreement(form), QString());
}

// The tab's re-listing verb, as the operations use it after emptying the page: a chosen file
// still listed stays chosen at its new place, whatever moved before it; one that went ends the
// choice and the display.
void TstChoice::relistSettlesTheChoice()
{
    ChoiceFixture f;
    MainForm& form = f.w();
    form.SSTab1()->setCurrentIndex(1);
    BrowsingArea& yard = form.area(Area::StockYard);
    const QString s2 = f.home.stockYard() + QStringLiteral("/s2.png");
    clickThumbnail(form, Area::StockYard, int(yard.HiddenList().indexOf(s2)));
    QCOMPARE(yard.TabSelection()->path, s2);
    f.home.write(
        QStringLiteral("My Documents/ZTV_DATA/ストックヤード/a0.png"), pictures::png({ 9, 9 }, Qt::red));
    yard.clearPage();
    QCOMPARE(yard.list(f.home.stockYard(), BrowsingArea::ListHow::Show).code(), ThumbnailBrowser::ResultOk);
    QCOMPARE(yard.HiddenList().size(), 4);
    QVERIFY(yard.TabSelection());
    QCOMPARE(yard.LEADImgList1()->selectedItems(), QList<int> { int(yard.HiddenList().indexOf(s2)) });
    QCOMPARE(agreement(form), QString());

    QVERIFY(QFile::remove(s2));
    yard.clearPage();
    yard.list(f.home.stockYard(), BrowsingArea::ListHow::Show);
    QCOMPARE(yard.HiddenList().size(), 3);
    QVERIFY(!yard.TabSelection());
    QVERIFY(!yard.LEAD1()->hasPicture());
    QVERIFY(form.isEnabled());
    QCOMPARE(agreement(form), QString());
}

QTEST_MAIN(TstChoice)
#include "tst_choice.moc"
