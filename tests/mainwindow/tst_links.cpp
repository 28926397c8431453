#include "Fakes.h"
#include "mainwindow/Links.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

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
};

QTEST_GUILESS_MAIN(TestLinks)
#include "tst_links.moc"
