#include "tst_mainwindow.h"

#include "MainFormFixture.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/CommandTable.h"
#include "mainwindow/FilingCommands.h"
#include "platform/PathText.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <stdexcept>

using namespace ztv;
using ztv::test::MainFormFixture;

namespace {

QStringList captions(const QList<QAction*>& actions)
{
    QStringList out;
    for (const QAction* a : actions)
        out << a->objectName() + QLatin1Char('=') + a->text();
    return out;
}

QStringList buttonCaptions(const MainForm& form, QToolButton* (MainForm::*array)(int) const, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << (form.*array)(i)->text();
    return out;
}

} // namespace

void TstMainWindow::layoutAndCaptions()
{
    MainFormFixture f;
    MainForm& form = f.create();
    QCOMPARE(form.windowTitle(), QStringLiteral("ゼントヴィVer1.0"));
    QCOMPARE(form.size(), QSize(850, 695));
    QCOMPARE(form.SSTab1()->count(), 4);
    QCOMPARE(form.SSTab1()->tabText(0), QStringLiteral("CD"));
    QCOMPARE(form.SSTab1()->tabText(1), QStringLiteral("ストックヤード"));
    QCOMPARE(form.SSTab1()->tabText(2), QStringLiteral("保管庫"));
    QCOMPARE(form.SSTab1()->tabText(3), QStringLiteral("貼り付け／保存"));
    QCOMPARE(form.SSTab1()->currentIndex(), 0);
    QCOMPARE(form.Command2()->text(), QStringLiteral("カルネア「ソラノ」ページを開く"));
    QCOMPARE(form.Command2()->geometry(), QRect(647, 8, 134, 48));
    QCOMPARE(form.Command1(2)->text(), QStringLiteral("終了"));

    QCOMPARE(buttonCaptions(form, &MainForm::Command5, 3),
        (QStringList { "保管庫へ移動", "クリップボードへコピー", "エクスプローラを開く" }));
    QCOMPARE(buttonCaptions(form, &MainForm::Command3, 4),
        (QStringList { "保管庫へ移動", "ファイル削除", "クリップボードへコピー", "エクスプローラを開く" }));
    QCOMPARE(buttonCaptions(form, &MainForm::Command4, 7),
        (QStringList { "整理箱の追加", "整理箱の削除", "整理箱の名称を変更", "ファイル削除", "ファイル名変更",
            "クリップボードへコピー", "エクスプローラを開く" }));
    QCOMPARE(buttonCaptions(form, &MainForm::Command1, 5),
        (QStringList {
            "画面から画像を消去", "貼り付け", "終了", "bmp/JPEG/PNG形式で保存", "GIF形式で保存" }));
    // Each tab's buttons sit on that tab's page.
    QCOMPARE(form.Command4(6)->parentWidget(), form.SSTab1()->widget(2));
    QCOMPARE(form.Command1(4)->parentWidget(), form.SSTab1()->widget(3));
    QCOMPARE(form.Command4(1)->geometry(), QRect(77, 8, 50, 47));
    QCOMPARE(form.Command1(0)->geometry().topLeft(), QPoint(71, 6));

    for (int tab = 0; tab < 3; ++tab) {
        QCOMPARE(form.area(Area(tab)).TreeView1()->geometry(), QRect(23, 59, 198, 326));
        QCOMPARE(form.area(Area(tab)).LEADImgList1()->geometry(), QRect(232, 58, 576, 523));
        QCOMPARE(form.area(Area(tab)).Label1()->text(), QStringLiteral("/"));
        QCOMPARE(form.area(Area(tab)).Label2()->text(), QStringLiteral("選択中の画像を表示"));
    }
    QCOMPARE(form.area(Area::Vault).TreeView1()->accessibleName(), QStringLiteral("フォルダ（保管庫）"));
    QCOMPARE(form.area(Area::Vault).LEADImgList1()->accessibleName(), QStringLiteral("サムネイル（保管庫）"));
    QCOMPARE(
        form.area(Area::StockYard).Combo1()->accessibleName(), QStringLiteral("ページ（ストックヤード）"));
    QCOMPARE(form.area(Area::Cd).LEAD1()->accessibleName(), QStringLiteral("選択中の画像（CD）"));
}

void TstMainWindow::menusAndItems()
{
    MainFormFixture f;
    MainForm& form = f.create();
    auto menu = [&form](const char* name) { return form.findChild<QMenu*>(QLatin1String(name)); };
    // Each menu holds the table's rows that name it, in table order, a group set apart by a
    // line; the box menu has the key items' submenu just before its undo group.
    for (const commands::Menu& m : commands::menus()) {
        QVERIFY2(menu(m.name), m.name);
        QCOMPARE(menu(m.name)->title(), QString::fromUtf16(m.title));
        QStringList expected;
        for (const commands::Row& row : commands::table()) {
            if (std::find(row.menus.begin(), row.menus.end(), m.id) == row.menus.end())
                continue;
            if (row.startsGroup) {
                if (m.id == commands::MenuId::L)
                    expected << QStringLiteral("=") << QStringLiteral("=キーに割り当て");
                expected << QStringLiteral("=");
            }
            expected << QLatin1String(row.name) + u'=' + QString::fromUtf16(row.caption);
        }
        QCOMPARE(captions(menu(m.name)->actions()), expected);
    }
    QCOMPARE(captions(menu("menu_Keys")->actions()),
        (QStringList { "BoxKey1=キー1に割り当て", "BoxKey2=キー2に割り当て", "BoxKey3=キー3に割り当て",
            "BoxKey4=キー4に割り当て", "BoxKey5=キー5に割り当て", "BoxKey6=キー6に割り当て",
            "BoxKey7=キー7に割り当て", "BoxKey8=キー8に割り当て", "BoxKey9=キー9に割り当て", "=",
            "BoxKey0=キーの割り当てを解除" }));
    // The design's own names, which tests and accessibility find.
    for (const char* name : { "dirpopup_new", "RCD_Fav_Copy", "Exl_copy0", "R_Del", "RF_Mod", "RF_Explora",
             "Clip_Save2", "EX_Explora", "Undo", "History" })
        QVERIFY2(form.findChild<QAction*>(QLatin1String(name)), name);
    QCOMPARE(form.filingCommands().Undo()->shortcut(), QKeySequence(QKeySequence::Undo));
    QCOMPARE(form.filingCommands().Redo()->shortcuts(),
        (QList<QKeySequence> {
            QKeySequence(QStringLiteral("Ctrl+Shift+Z")), QKeySequence(QStringLiteral("Ctrl+Y")) }));
}

void TstMainWindow::formLoadBuildsAreas()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    QVERIFY(f.prompts.calls.isEmpty());
    QCOMPARE(form.storagePaths().AreaBasePath[Area::StockYard], f.home.storageRoot());
    QCOMPARE(form.area(Area::Cd).CurrentNodePath(), QString());
    QCOMPARE(form.area(Area::StockYard).CurrentNodePath(), QStringLiteral("ストックヤード"));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫"));

    // No optical drive: the CD root is ":" alone, with nothing below it and nothing listed.
    QCOMPARE(form.area(Area::Cd).TreeView1()->topLevelItemCount(), 1);
    QCOMPARE(form.area(Area::Cd).TreeView1()->topLevelItem(0)->text(0), QStringLiteral(":"));
    QCOMPARE(FolderTree::imageKey(form.area(Area::Cd).TreeView1()->topLevelItem(0)), QStringLiteral("Drive"));
    QCOMPARE(form.area(Area::Cd).TreeView1()->topLevelItem(0)->childCount(), 0);
    QCOMPARE(form.area(Area::Cd).LEADImgList1()->ThumbnailCount(), 0);

    // The stock yard and the vault list the pictures of their own root folders.
    const QStringList stock = form.area(Area::StockYard).HiddenList();
    QVERIFY(stock.contains(f.home.stockYard() + QStringLiteral("/camera.jpg")));
    QVERIFY(stock.contains(f.home.stockYard() + QStringLiteral("/写真.jpg")));
    QVERIFY(!stock.contains(f.home.stockYard() + QStringLiteral("/notes.txt")));
    QVERIFY(!stock.contains(f.home.stockYard() + QStringLiteral("/broken.jpg")));
    QCOMPARE(form.area(Area::StockYard).LEADImgList1()->ThumbnailCount(), stock.size());
    for (int i = 0; i < stock.size(); ++i)
        QCOMPARE(form.area(Area::StockYard).LEADImgList1()->caption(i), GetFileTitle(stock[i]));
    QCOMPARE(
        form.area(Area::Vault).HiddenList(), (QStringList { f.home.vault() + QStringLiteral("/top.png") }));
    QCOMPARE(form.area(Area::StockYard).Label3()->text(), QStringLiteral("1"));
    QCOMPARE(form.area(Area::Vault).Combo1()->count(), 1);

    QTreeWidgetItem* vault = form.area(Area::Vault).TreeView1()->topLevelItem(0);
    QCOMPARE(vault->text(0), QStringLiteral("保管庫"));
    QCOMPARE(FolderTree::nodeKey(vault), f.home.vault());
    QCOMPARE(vault->childCount(), 2);
    QCOMPARE(vault->child(0)->text(0), QStringLiteral("旅行"));
    QCOMPARE(vault->child(1)->text(0), QStringLiteral("空箱"));
    QCOMPARE(form.area(Area::Vault).NodeCount(), 2);
    QCOMPARE(vault->child(0)->childCount(), 0); // filled when the root is opened
    QVERIFY(form.isEnabled());
    QVERIFY(!form.browseRun().gbBrowsing());
}

namespace {
// Fails the tabs it is told to, after building them as usual.
class FailingForm : public MainForm {
public:
    FailingForm(const Services& s, QList<Area> failing)
        : MainForm(s)
        , m_failing(std::move(failing))
    {
    }

protected:
    void LoadTab(Area area) override
    {
        if (m_failing.contains(area))
            throw std::runtime_error("drive");
        MainForm::LoadTab(area);
    }

private:
    QList<Area> m_failing;
};
} // namespace

void TstMainWindow::formLoadReportsEachFailingTab()
{
    MainFormFixture f;
    f.home.fillSample();
    FailingForm form(f.services, { Area::Cd, Area::StockYard });
    f.attach(form);
    form.Form_Load();
    const auto messages = f.prompts.messages();
    QCOMPARE(messages.size(), 2);
    for (const auto& m : messages) {
        QCOMPARE(m.text, QStringLiteral("ドライブが準備されていません"));
        QCOMPARE(m.title, QStringLiteral("ゼントヴィ"));
        QCOMPARE(m.icon, PromptIcon::None);
        QCOMPARE(m.buttons, PromptButtons::Ok);
    }
    // The tab after the failed ones is still built, and the spreadsheet check still runs.
    QCOMPARE(form.area(Area::Vault).HiddenList().size(), 1);
    QCOMPARE(form.area(Area::StockYard).TreeView1()->topLevelItemCount(), 0);
    QCOMPARE(f.spreadsheet.infoCalls, 1);
    QVERIFY(form.isEnabled());
}

void TstMainWindow::spreadsheetCheck_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("no application") << false << ""
                                    << "" << false;
    QTest::newRow("no install path") << true << "7.4.7.2"
                                     << "" << false;
    QTest::newRow("version 9") << true << "9.0"
                               << "/opt/office" << false;
    QTest::newRow("version 8") << true << "8.0"
                               << "/opt/office" << false;
    QTest::newRow("version 11") << true << "11.0"
                                << "/opt/office" << true;
    QTest::newRow("version 7.4") << true << "7.4"
                                 << "/usr/lib/libreoffice/program" << true;
}

void TstMainWindow::spreadsheetCheck()
{
    QFETCH(bool, present);
    QFETCH(QString, version);
    QFETCH(QString, path);
    MainFormFixture f;
    if (present)
        f.spreadsheet.info = Spreadsheet::Info { version, path };
    MainForm& form = f.load();
    QTEST(form.Exl_copy0()->isEnabled(), "enabled");
    QTEST(form.Exl_copy1()->isEnabled(), "enabled");
    QTEST(form.Exl_copy2()->isEnabled(), "enabled");
    QVERIFY(form.Exl_copy2()->isVisible());
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstMainWindow::tabsKeepTheirOwnChoice()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.SSTab1()->setCurrentIndex(1);
    form.area(Area::StockYard).LEADImgList1_Click(0);
    QVERIFY(chosenOnCurrentTab(form));
    const QString chosen = form.area(Area::StockYard).HiddenList().at(0);
    // The vault's tab shows nothing chosen, and its delete acts on nothing.
    form.SSTab1()->setCurrentIndex(2);
    QVERIFY(!chosenOnCurrentTab(form));
    form.RF_Del()->trigger();
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(QFileInfo::exists(chosen));
    // Back on the stock yard its picture is still chosen and shown.
    form.SSTab1()->setCurrentIndex(1);
    QVERIFY(chosenOnCurrentTab(form));
    QCOMPARE(form.area(Area::StockYard).LEAD1()->sourcePath(), chosen);
}

void TstMainWindow::exitButtonAndCloseBoxEndTheSame()
{
    MainFormFixture f;
    MainForm& form = f.load();
    form.show();
    form.Command1(2)->click();
    QCOMPARE(f.quits, 1);
    QVERIFY(!form.isVisible());
    form.show();
    form.close();
    QCOMPARE(f.quits, 2);
}

void TstMainWindow::buttonAndMenuItemShareOneCommand()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    const std::tuple<int, QToolButton*, QAction*> pairs[]
        = { { 1, form.Command3(3), form.R_Explora() }, { 2, form.Command4(6), form.RF_Explora() } };
    for (const auto& [tab, button, item] : pairs) {
        form.SSTab1()->setCurrentIndex(tab);
        f.shell.folders.clear();
        QSignalSpy triggered(item, &QAction::triggered);
        button->click();
        item->trigger();
        // Each runs the command once, and both the same way.
        QCOMPARE(triggered.count(), 2);
        QCOMPARE(f.shell.folders.size(), 2);
        QCOMPARE(f.shell.folders.at(0), f.shell.folders.at(1));
    }
    // The CD tab's first button keeps its own caption, runs the menu item's command once and
    // follows its enabled state.
    QSignalSpy copies(form.RCD_Fav_Copy(), &QAction::triggered);
    form.RCD_Fav_Copy()->setEnabled(false);
    QVERIFY(!form.Command5(0)->isEnabled());
    form.RCD_Fav_Copy()->setEnabled(true);
    QVERIFY(form.Command5(0)->isEnabled());
    QCOMPARE(form.Command5(0)->text(), QStringLiteral("保管庫へ移動"));
    form.Command5(0)->click();
    QCOMPARE(copies.count(), 1);
}

void TstMainWindow::pathText()
{
    QCOMPARE(GetFileTitle(QStringLiteral("/media/cd/a/b/photo.jpg")), QStringLiteral("photo.jpg"));
    QCOMPARE(GetFileTitle(QStringLiteral("/x")), QStringLiteral("x"));
    QCOMPARE(GetFileTitle(QStringLiteral("/a/b/")), QString());
    QCOMPARE(GetFileTitle(QString()), QString());
    QCOMPARE(BackInstr(QStringLiteral("/a/bb/c"), QStringLiteral("/")), 6);
    QCOMPARE(BackInstr(QStringLiteral("abc"), QStringLiteral("/")), 0);
    QCOMPARE(BackInstr(QStringLiteral("aXbx"), QStringLiteral("X")), 2); // case counts
    QCOMPARE(PageScrollPosition(1), 1);
    QCOMPARE(PageScrollPosition(3), 51);
    QCOMPARE(PageScrollPosition(1311), 32751);
}

void TstMainWindow::pageSelector_data()
{
    QTest::addColumn<int>("thumbnails");
    QTest::addColumn<QStringList>("pages");
    QTest::newRow("0") << 0 << QStringList { "1" };
    QTest::newRow("25") << 25 << QStringList { "1" };
    QTest::newRow("26") << 26 << QStringList { "1", "2" };
    QTest::newRow("51") << 51 << QStringList { "1", "2", "3" };
}

void TstMainWindow::pageSelector()
{
    QFETCH(int, thumbnails);
    QFETCH(QStringList, pages);
    MainFormFixture f;
    MainForm& form = f.create();
    QImage bitmap(40, 30, QImage::Format_RGB32);
    bitmap.fill(Qt::darkGreen);
    for (int i = 0; i < thumbnails; ++i)
        form.area(Area::StockYard).AddThumbnailItem(QStringLiteral("/p/%1.png").arg(i), bitmap);
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), thumbnails);
    form.area(Area::StockYard).ComboSet();
    QStringList got;
    for (int i = 0; i < form.area(Area::StockYard).Combo1()->count(); ++i)
        got << form.area(Area::StockYard).Combo1()->itemText(i);
    QCOMPARE(got, pages);
    QCOMPARE(form.area(Area::StockYard).Label3()->text(), QString::number(pages.size()));
    QCOMPARE(form.area(Area::StockYard).Combo1()->currentText(), QStringLiteral("1"));
    // Choosing the last page must not fail even where its second thumbnail does not exist.
    form.area(Area::StockYard).Combo1()->setCurrentIndex(form.area(Area::StockYard).Combo1()->count() - 1);
    form.area(Area::StockYard).Combo1_Click();
}

QTEST_MAIN(TstMainWindow)
