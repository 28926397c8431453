#include "platform/FileOps.h"

#include <QTest>

class TestNames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void plainNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("plain");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("dot") << QStringLiteral(".") << false;
        QTest::newRow("dotdot") << QStringLiteral("..") << false;
        QTest::newRow("escape") << QStringLiteral("../x") << false;
        QTest::newRow("slash") << QStringLiteral("a/b") << false;
        QTest::newRow("nul") << QString(QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")) << false;
        QTest::newRow("japanese") << QStringLiteral("旅行 2024") << true;
        QTest::newRow("dots inside") << QStringLiteral("...a") << true;
    }
    void plainNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, plain);
        QCOMPARE(ztv::isPlainName(name), plain);
    }
};

QTEST_GUILESS_MAIN(TestNames)
#include "tst_names.moc"
