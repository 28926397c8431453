// What a screen reader reads from the labels and buttons of the main window's four tabs, the
// destination chooser and the save-format chooser.
#include "MainFormFixture.h"
#include "capture/PictureSaving.h"
#include "capture/SaveSelect.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "widgets/FolderTree.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

using namespace ztv;
using namespace ztv::test;

namespace {

QString accessibleName(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Every label and button below root: a name that is not empty and holds the text shown
// (numbers and paths included). Gives the faults found, one a line.
QStringList unreadable(QWidget* root)
{
    QStringList faults;
    QList<QWidget*> widgets;
    for (QLabel* label : root->findChildren<QLabel*>())
        widgets << label;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        widgets << button;
    for (QWidget* w : std::as_const(widgets)) {
        QString shown;
        if (auto* label = qobject_cast<QLabel*>(w))
            shown = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            shown = button->text();
        // A hidden empty label (the progress line between runs) is read by no one.
        if (w->isHidden() && shown.isEmpty())
            continue;
        const QString name = accessibleName(w);
        if (name.isEmpty() || !name.contains(shown))
            faults << QStringLiteral("%1: shows \"%2\", read as \"%3\"").arg(w->objectName(), shown, name);
    }
    return faults;
}

} // namespace

class TstAccessibility : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tabsReadWhatTheyShow();
    void pageCountReadWithItsNumber();
    void choosersReadWhatTheyShow();
};

void TstAccessibility::tabsReadWhatTheyShow()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.show();
    QVERIFY(form.area(Area::StockYard).list(f.home.stockYard(), BrowsingArea::ListHow::Show).code() == 0);
    form.area(Area::StockYard).ComboSet();
    for (int tab = 0; tab < 4; ++tab) {
        QWidget* page = form.SSTab1()->widget(tab);
        QVERIFY(!page->findChildren<QLabel*>().isEmpty() || tab == 3);
        QVERIFY(!page->findChildren<QAbstractButton*>().isEmpty());
        const QStringList faults = unreadable(page);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }
    // The window's own buttons and the progress line.
    QVERIFY2(unreadable(&form).isEmpty(), qPrintable(unreadable(&form).join(u'\n')));
}

void TstAccessibility::pageCountReadWithItsNumber()
{
    MainFormFixture f;
    f.home.fillSample();
    for (int i = 0; i < 25; ++i)
        f.home.write(
            QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/p%1.png").arg(i, 2, 10, QLatin1Char('0')),
            pictures::png({ 10, 10 }));
    MainForm& form = f.load();
    QLabel* count = form.area(Area::Vault).Label3();
    // Its role stays readable as the description.
    QCOMPARE(count->accessibleDescription(), QStringLiteral("ページ数（保管庫）"));
    form.area(Area::Vault).ReopenTreePath(QStringLiteral("保管庫/旅行"));
    form.area(Area::Vault).TreeView1_NodeClick(form.area(Area::Vault).TreeView1()->currentItem());
    QVERIFY(count->text().toInt() >= 2);
    QCOMPARE(accessibleName(count), QStringLiteral("ページ数（保管庫）：") + count->text());
    // A folder with fewer pictures: the number read changes with the number shown.
    form.area(Area::Vault).ReopenTreePath(QStringLiteral("保管庫"));
    form.area(Area::Vault).TreeView1_NodeClick(form.area(Area::Vault).TreeView1()->currentItem());
    QCOMPARE(count->text(), QStringLiteral("1"));
    QCOMPARE(accessibleName(count), QStringLiteral("ページ数（保管庫）：1"));
}

void TstAccessibility::choosersReadWhatTheyShow()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.show();

    // The destination chooser, for a stock-yard picture, with a box chosen.
    form.SSTab1()->setCurrentIndex(1);
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    form.area(Area::StockYard)
        .LEADImgList1_Click(int(form.area(Area::StockYard).HiddenList().indexOf(camera)));
    QVERIFY(isChosen(form, Area::StockYard));
    form.Command3(0)->click();
    SetFolder* chooser = form.vaultTransfer().chooser();
    QVERIFY(chooser);
    QVERIFY2(unreadable(chooser).isEmpty(), qPrintable(unreadable(chooser).join(u'\n')));
    FolderTree* tree = chooser->TreeView1;
    tree->expandItem(tree->topLevelItem(0));
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    QCOMPARE(chooser->Label1->text(), QStringLiteral("保管庫/旅行"));
    QCOMPARE(accessibleName(chooser->Label1), QStringLiteral("保管先：保管庫/旅行"));
    QCOMPARE(chooser->Label1->accessibleDescription(), QStringLiteral("保管先"));
    QVERIFY2(unreadable(chooser).isEmpty(), qPrintable(unreadable(chooser).join(u'\n')));
    chooser->Command1[1]->click();

    // The save-format chooser, over a pasted picture.
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QGuiApplication::clipboard()->setImage(picture);
    form.SSTab1()->setCurrentIndex(3);
    form.Command1(1)->click();
    form.Command1(3)->click();
    SaveSelect* select = form.pictureSaving().saveSelect();
    QVERIFY(select);
    QVERIFY(!select->findChildren<QAbstractButton*>().isEmpty());
    QVERIFY2(unreadable(select).isEmpty(), qPrintable(unreadable(select).join(u'\n')));
    select->Command1[1]->click();
}

QTEST_MAIN(TstAccessibility)
#include "tst_accessibility.moc"
