#include "Fakes.h"
#include "MainFormFixture.h"
#include "platform/Links.h"

#include <QAction>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace ztv;
using ztv::test::FakeShell;
using ztv::test::RecordingPrompts;

class TestLinks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void explorerFolderPerTab_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("cd");
        QTest::addColumn<QString>("folder");
        const QString cd = QStringLiteral("/media/cdrom0");
        QTest::newRow("CD") << 0 << cd << cd;
        QTest::newRow("no CD drive") << 0 << QStringLiteral(":") << QStringLiteral(":");
        QTest::newRow("stock yard") << 1 << cd << QStringLiteral("/h/My Documents/ZTV_DATA/ストックヤード");
        QTest::newRow("vault") << 2 << cd << QStringLiteral("/h/My Documents/ZTV_DATA/保管庫");
        QTest::newRow("paste tab") << 3 << cd << QString();
        QTest::newRow("no tab") << -1 << cd << QString();
    }
    void explorerFolderPerTab()
    {
        QFETCH(int, tab);
        QFETCH(QString, cd);
        QFETCH(QString, folder);
        QCOMPARE(Links::explorerFolder(tab, cd, QStringLiteral("/h/My Documents/ZTV_DATA/ストックヤード"),
                     QStringLiteral("/h/My Documents/ZTV_DATA/保管庫")),
            folder);
    }

    // Only existing folders reach the desktop; nothing else opens and nothing is shown.
    void explorerOpensFoldersOnly()
    {
        QTemporaryDir dir;
        const QString vault = dir.path() + QStringLiteral("/My Documents/ZTV_DATA/保管庫");
        QVERIFY(QDir().mkpath(vault));
        FakeShell shell;
        RecordingPrompts prompts;
        Links links(shell, prompts);
        links.openExplorer(vault);
        links.openExplorer(QStringLiteral(":"));
        links.openExplorer(QString());
        links.openExplorer(dir.path() + QStringLiteral("/missing"));
        links.openExplorer(QStringLiteral("/dev/null")); // a device, as an empty drive is named
        QCOMPARE(shell.folders, QStringList { vault });

        shell.succeed = false;
        links.openExplorer(vault);
        QCOMPARE(shell.folders.size(), 2);
        QVERIFY(prompts.calls.isEmpty());
        QVERIFY(shell.urls.isEmpty());
    }

    void webPage()
    {
        FakeShell shell;
        RecordingPrompts prompts;
        Links links(shell, prompts);
        links.openWebPage();
        links.openWebPage();
        QCOMPARE(shell.urls, QStringList(2, QStringLiteral("https://www.example.jp/sorano/")));
        QVERIFY(shell.folders.isEmpty());
        QVERIFY(prompts.calls.isEmpty());
    }

    void webPageFailureShown()
    {
        FakeShell shell;
        shell.succeed = false;
        RecordingPrompts prompts;
        Links(shell, prompts).openWebPage();
        QCOMPARE(shell.urls.size(), 1);
        QCOMPARE(prompts.calls.size(), 1);
        QCOMPARE(prompts.calls[0].kind, RecordingPrompts::Call::Message);
        QVERIFY(prompts.calls[0].text.contains(QStringLiteral("ソラノ")));
        QCOMPARE(prompts.calls[0].buttons, PromptButtons::Ok);
    }

    // Through the main window: the folder follows the current tab, not the item used.
    void mainWindowHandlers()
    {
        test::MainFormFixture f;
        f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱"));
        MainForm& form = f.load();
        form.SSTab1()->setCurrentIndex(1);
        form.EX_Explora()->trigger();
        form.RF_Explora()->trigger(); // the vault's item while the stock yard is in front
        form.SSTab1()->setCurrentIndex(2);
        form.area(Area::Vault).Node_Exp(QStringLiteral("保管庫/箱")); // a selected box does not matter
        form.Command4(6)->click();
        form.SSTab1()->setCurrentIndex(0); // no CD drive: ":" opens nothing
        form.RCD_Explora()->trigger();
        QCOMPARE(f.shell.folders, QStringList({ f.home.stockYard(), f.home.stockYard(), f.home.vault() }));

        form.Command2()->click();
        QCOMPARE(f.shell.urls, QStringList { QStringLiteral("https://www.example.jp/sorano/") });
        f.shell.succeed = false;
        form.Command2()->click();
        QCOMPARE(f.prompts.messages().size(), 1);
        form.Command2()->click();
        QCOMPARE(f.shell.urls.size(), 3);
        QCOMPARE(f.quits, 0);
    }
};

QTEST_MAIN(TestLinks)
#include "tst_links.moc"
