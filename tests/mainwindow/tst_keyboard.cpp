#include "MainFormFixture.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/CommandTable.h"
#include "widgets/FolderTree.h"

#include <QApplication>
#include <QComboBox>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

using namespace ztv;
using ztv::test::MainFormFixture;

namespace {

void writePictures(MainFormFixture& f, const QString& folder, int n)
{
    for (int i = 0; i < n; ++i)
        f.home.write(folder + QStringLiteral("/p%1.png").arg(i, 2, 10, QLatin1Char('0')),
            test::pictures::png({ 40, 30 }, QColor::fromHsv(i * 30 % 360, 200, 200)));
}

// The window shown, active and on the given tab, with the focus on the given control.
bool focusOn(MainForm& form, int tab, QWidget* control)
{
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form))
        return false;
    form.SSTab1()->setCurrentIndex(tab);
    control->setFocus(Qt::OtherFocusReason);
    return QApplication::focusWidget() == (control->focusProxy() ? control->focusProxy() : control);
}

void press(int key, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
}

const QString kStock = QStringLiteral("My Documents/ZTV_DATA/ストックヤード");

} // namespace

class TstKeyboard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void menuKeysOnVaultTreeOpenItsMenuAtCurrentNode();
    void enterOnTreeNodeListsItsFolder();
    void thumbnailKeysShowAndOpenTheTabMenu();
    void menuKeyOnPasteDisplay();
    void tabOrderFollowsTheTab();
    void everyCommandButtonInTheChainLeftToRight();
};

void TstKeyboard::menuKeysOnVaultTreeOpenItsMenuAtCurrentNode()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    FolderTree* vault = form.area(Area::Vault).TreeView1();
    QVERIFY(focusOn(form, 2, vault));
    vault->expandItem(vault->topLevelItem(0));
    QTreeWidgetItem* box
        = vault->findItems(QStringLiteral("空箱"), Qt::MatchExactly | Qt::MatchRecursive).value(0);
    QVERIFY(box);
    vault->setCurrentItem(box);

    form.area(form.currentArea().value()).LEADImgList1_Click(0);
    QVERIFY(chosenOnCurrentTab(form));
    press(Qt::Key_Menu);
    QCOMPARE(f.openedMenus, (QStringList { "menu_L" }));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/空箱"));
    QVERIFY(!form.pictureSelected()); // as after the right button over the tree

    // Shift+F10 does the same, at the node the arrow keys reach.
    press(Qt::Key_Up);
    QVERIFY(vault->currentItem() != box);
    const QString above = vault->treePath(vault->currentItem());
    press(Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(f.openedMenus, (QStringList { "menu_L", "menu_L" }));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), above);
    // Plain F10 is no menu request.
    press(Qt::Key_F10);
    QCOMPARE(f.openedMenus.size(), 2);

    // A browse run (the window disabled) takes neither key: both would make the box current.
    vault->setCurrentItem(box);
    form.setEnabled(false);
    form.browseRun().setBrowsing(true);
    QTest::keyClick(vault, Qt::Key_Menu);
    QTest::keyClick(vault, Qt::Key_Return);
    form.browseRun().setBrowsing(false);
    form.setEnabled(true);
    QCOMPARE(f.openedMenus.size(), 2);
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), above);

    // The other trees have no menu, as with the mouse.
    QVERIFY(focusOn(form, 1, form.area(Area::StockYard).TreeView1()));
    form.area(Area::StockYard)
        .TreeView1()
        ->setCurrentItem(form.area(Area::StockYard).TreeView1()->topLevelItem(0));
    press(Qt::Key_Menu);
    QCOMPARE(f.openedMenus.size(), 2);
}

void TstKeyboard::enterOnTreeNodeListsItsFolder()
{
    MainFormFixture f;
    writePictures(f, kStock, 2);
    writePictures(f, kStock + QStringLiteral("/旅行"), 3);
    MainForm& form = f.load();
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), 2);
    FolderTree* tree = form.area(Area::StockYard).TreeView1();
    QVERIFY(focusOn(form, 1, tree));
    tree->setCurrentItem(tree->topLevelItem(0));
    tree->expandItem(tree->topLevelItem(0));
    press(Qt::Key_Down);
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("旅行"));
    // Moving the current node lists nothing; Enter is the click.
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), 2);
    form.area(form.currentArea().value()).LEADImgList1_Click(0);
    QVERIFY(chosenOnCurrentTab(form));
    press(Qt::Key_Return);
    QCOMPARE(form.area(Area::StockYard).CurrentNodePath(), QStringLiteral("ストックヤード/旅行"));
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), 3);
    QVERIFY(form.area(Area::StockYard).HiddenList().first().endsWith(QStringLiteral("/旅行/p00.png")));
    QVERIFY(!chosenOnCurrentTab(form));
    // The window is disabled during the listing; the keyboard user keeps their place.
    QCOMPARE(QApplication::focusWidget(), tree);
}

void TstKeyboard::thumbnailKeysShowAndOpenTheTabMenu()
{
    MainFormFixture f;
    writePictures(f, kStock, 7);
    MainForm& form = f.load();
    ThumbnailList* list = form.area(Area::StockYard).LEADImgList1();
    QCOMPARE(list->ThumbnailCount(), 7);
    QVERIFY(focusOn(form, 1, list));

    // Arrow keys walk the grid (five to a row); Enter shows the thumbnail as a click does.
    press(Qt::Key_Right); // the first key makes the first item current
    press(Qt::Key_Right);
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    const int chosen = chosenIndex(form, Area(1));
    QVERIFY(chosen >= 5);
    QVERIFY(chosenOnCurrentTab(form));
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());
    QCOMPARE(form.area(Area::StockYard).HiddenList().value(chosen).isEmpty(), false);

    // The menu key: the current thumbnail is chosen and shown, then the tab's menu opens.
    press(Qt::Key_Left);
    press(Qt::Key_Menu);
    QCOMPARE(f.openedMenus, (QStringList { "menu_R" }));
    QCOMPARE(chosenIndex(form, Area(1)), chosen - 1);
    QVERIFY(chosenOnCurrentTab(form));

    // On the vault's tab its own menu opens.
    writePictures(f, QStringLiteral("My Documents/ZTV_DATA/保管庫"), 1);
    form.area(Area::Vault).list(f.home.vault(), BrowsingArea::ListHow::Show);
    QVERIFY(focusOn(form, 2, form.area(Area::Vault).LEADImgList1()));
    press(Qt::Key_Right);
    press(Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(f.openedMenus.last(), QStringLiteral("menu_RF"));
}

void TstKeyboard::menuKeyOnPasteDisplay()
{
    MainFormFixture f;
    MainForm& form = f.load();
    QVERIFY(focusOn(form, 3, &form.LEAD2()));
    // The display reports the right button, as a right click does; the paste area's handler
    // behind it opens its menu.
    QSignalSpy buttons(&form.LEAD2(), &PictureDisplay::mouseButton);
    QTest::mouseClick(&form.LEAD2(), Qt::RightButton, {}, QPoint(10, 10));
    press(Qt::Key_Menu);
    press(Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(buttons.size(), 3);
    for (const QList<QVariant>& call : buttons)
        QCOMPARE(call.at(0).toInt(), 2);
}

void TstKeyboard::tabOrderFollowsTheTab()
{
    MainFormFixture f;
    writePictures(f, kStock, 1);
    MainForm& form = f.load();
    QVERIFY(focusOn(form, 1, form.area(Area::StockYard).TreeView1()));
    const QList<QWidget*> expected { form.area(Area::StockYard).LEADImgList1()->focusProxy(),
        form.area(Area::StockYard).Combo1(), form.area(Area::StockYard).LEAD1(), form.Command3(0),
        form.Command3(1), form.Command3(2), form.Command3(3), form.Command2(), form.Command1(2),
        form.SSTab1()->findChild<QTabBar*>(), form.area(Area::StockYard).TreeView1() };
    for (QWidget* next : expected) {
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    // Backwards from the tree: the tab bar.
    press(Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), form.SSTab1()->findChild<QTabBar*>());

    // The paste tab: its buttons in their order on screen, then the display.
    QVERIFY(focusOn(form, 3, form.Command1(1)));
    const QList<QWidget*> paste { form.Command1(0), form.Command1(3), form.Command1(4), &form.LEAD2() };
    for (QWidget* next : paste) {
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void TstKeyboard::everyCommandButtonInTheChainLeftToRight()
{
    using namespace commands;
    MainFormFixture f;
    MainForm& form = f.load();
    // Every button the command table gives a tab, in its order on screen; each follows its
    // command's enabled state.
    std::array<QList<QToolButton*>, kPlaceCount> rows;
    for (const Row& row : table()) {
        for (const Button& b : row.buttons) {
            auto* button = form.findChild<QToolButton*>(QLatin1String(b.name));
            QVERIFY2(button, b.name);
            QCOMPARE(button->parentWidget(),
                b.place == Place::Top ? static_cast<QWidget*>(&form) : form.SSTab1()->widget(int(b.place)));
            rows[int(b.place)] << button;
            if (QAction* action = row.name ? form.action(row.name) : nullptr) {
                QVERIFY(action->isEnabled());
                action->setEnabled(false);
                QVERIFY2(!button->isEnabled(), b.name);
                action->setEnabled(true);
                QVERIFY2(button->isEnabled(), b.name);
                for (MenuId id : row.menus)
                    QVERIFY(form.findChild<QMenu*>(QLatin1String(menus()[int(id)].name))
                                ->actions()
                                .contains(action));
            }
        }
    }
    for (auto& row : rows)
        std::sort(row.begin(), row.end(), [](QToolButton* a, QToolButton* b) { return a->x() < b->x(); });
    QCOMPARE(rows[int(Place::Top)].size(), 2);
    for (int tab = 0; tab < 4; ++tab) {
        const QList<QToolButton*>& buttons = rows[tab];
        QVERIFY(!buttons.isEmpty());
        QVERIFY(focusOn(form, tab, buttons.first()));
        // After a browsing tab's last button come the buttons above the tabs; after the paste
        // tab's, its display.
        QList<QWidget*> expected(buttons.begin() + 1, buttons.end());
        if (tab == 3)
            expected << &form.LEAD2();
        expected << rows[int(Place::Top)].first() << rows[int(Place::Top)].last();
        for (QWidget* next : expected) {
            press(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }
}

QTEST_MAIN(TstKeyboard)
#include "tst_keyboard.moc"
