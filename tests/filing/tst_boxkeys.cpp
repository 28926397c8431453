// The box keys file: what it may name, how it is read, and two windows sharing it. No window.
#include "filing/BoxKeys.h"
#include "platform/FaultInjection.h"
#include "platform/FileOps.h"
#include "platform/WorkAside.h"

#include "FileTestUtil.h"
#include "StorageBuilder.h"

#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include <sys/file.h>
#include <sys/stat.h>

using namespace ztv;
using namespace ztv::test;

namespace {

// A home whose vault holds 旅行 and 仕事, with the keys' folder below it.
struct Fixture {
    Fixture()
    {
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行"));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/仕事"));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/旅行"));
        QDir().mkpath(folder);
    }
    QString file() const { return folder + QStringLiteral("/boxkeys"); }
    QString aside() const { return folder + QStringLiteral("/boxkeys.broken"); }

    TestHome home;
    QString folder = home.home() + QStringLiteral("/.config/zentovi");
};

bool isLink(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool isRegular(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

class TstBoxKeys : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keysNameBoxesBelowTheVaultOnly();
    void boxesLeavingTheVaultAreRefused();
    void fileIsReadWithoutFollowingOrWaiting();
    void fileIsReadAsideFromTheWindow();
    void twoWindowsKeepEachOthersKeys();
    void changesAreTold();
};

void TstBoxKeys::keysNameBoxesBelowTheVaultOnly()
{
    Fixture f;
    const QByteArray crafted = QByteArray("1\t") + QByteArray("旅行").toPercentEncoding("/") + '\n'
        + "4\t../../../outside\n" + "2\t" + QByteArray("../ストックヤード/旅行").toPercentEncoding("/") + '\n'
        + "3\t/etc\n" + "5\t%2E%2E/x\n" + "6\ta//b\n" + "8\t./x\n" + "9\tx/\n" + "3\tx%00y\n"
        + "7\t\n" // the vault itself
        + "1\t" + QByteArray("仕事").toPercentEncoding("/") + '\n' // a key given twice
        + "2\t" + QByteArray("旅行").toPercentEncoding("/") + '\n' // a box with two keys
        + "0\tx\n" + "12\tx\n" + "garbage\n";
    QVERIFY(writeRaw(f.file(), crafted));
    BoxKeys keys(realFileOps(), f.folder);
    const QMap<int, QString> held { { 1, QStringLiteral("旅行") }, { 7, QString() } };
    QCOMPARE(keys.all(), held);
    // The file was set aside whole, and started anew with what held.
    QCOMPARE(keys.setAside(), f.aside());
    QCOMPARE(readAll(f.aside()), crafted);
    QCOMPARE(BoxKeys(realFileOps(), f.folder).all(), held);

    // Nor can the program give one such a path.
    QVERIFY(!keys.assign(4, QStringLiteral("../../../outside")));
    QVERIFY(!keys.boxRenamed(QStringLiteral("旅行"), QStringLiteral("../逃げ")));
    QCOMPARE(BoxKeys(realFileOps(), f.folder).all(), held);
    QCOMPARE(keys.all(), held);
    // A sound file is left where it is.
    QVERIFY(QFile::remove(f.aside()));
    QVERIFY(keys.assign(4, QStringLiteral("仕事")));
    QCOMPARE(BoxKeys(realFileOps(), f.folder).setAside(), QString());
    QVERIFY(!QFileInfo::exists(f.aside()));
}

void TstBoxKeys::boxesLeavingTheVaultAreRefused()
{
    Fixture f;
    const QString vault = f.home.vault();
    const QString outside = f.home.makeDir(QStringLiteral("outside"));
    QVERIFY(QFile::link(outside, vault + QStringLiteral("/抜け道")));
    QVERIFY(QFile::link(f.home.stockYard(), vault + QStringLiteral("/置き場")));
    QVERIFY(QFile::link(vault + QStringLiteral("/旅行"), vault + QStringLiteral("/近道")));
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/a.jpg"), "x");

    const auto folder = [&](const QString& box) { return BoxKeys::folderInVault(vault, box); };
    QCOMPARE(folder(QString()), std::optional(vault));
    QCOMPARE(folder(QStringLiteral("旅行")), std::optional(vault + QStringLiteral("/旅行")));
    // A link to a box of the vault stays inside it.
    QCOMPARE(folder(QStringLiteral("近道")), std::optional(vault + QStringLiteral("/近道")));
    for (const QString& box : { QStringLiteral("../ストックヤード/旅行"), QStringLiteral("../../../outside"),
             QStringLiteral("抜け道"), QStringLiteral("置き場/旅行"), QStringLiteral("旅行/../../outside"),
             QStringLiteral("/tmp"), QStringLiteral("a.jpg"), QStringLiteral("無い箱") })
        QVERIFY2(!folder(box), qPrintable(box));
    // Even held as a key, such a box gives no folder to file into.
    QVERIFY(writeRaw(f.file(), "3\t" + QByteArray("抜け道").toPercentEncoding("/") + '\n'));
    BoxKeys keys(realFileOps(), f.folder);
    QCOMPARE(keys.boxOf(3), std::optional(QStringLiteral("抜け道")));
    QVERIFY(!BoxKeys::folderInVault(vault, *keys.boxOf(3)));
}

void TstBoxKeys::fileIsReadWithoutFollowingOrWaiting()
{
    Fixture f;
    const QByteArray other = "1\t" + QByteArray("旅行").toPercentEncoding("/") + '\n';
    const QString target = f.home.write(QStringLiteral("elsewhere"), other);

    // A link: neither read nor written through; set aside as the link it is.
    QVERIFY(QFile::link(target, f.file()));
    {
        BoxKeys keys(realFileOps(), f.folder);
        QVERIFY(keys.all().isEmpty());
        QVERIFY(isLink(f.aside()));
        QVERIFY(keys.assign(2, QStringLiteral("仕事")));
        QVERIFY(isRegular(f.file()));
        QCOMPARE(readAll(target), other);
    }

    // A FIFO neither holds start-up nor is waited on.
    QVERIFY(QFile::remove(f.file()) && QFile::remove(f.aside()));
    QCOMPARE(::mkfifo(QFile::encodeName(f.file()).constData(), 0600), 0);
    {
        BoxKeys keys(realFileOps(), f.folder);
        QVERIFY(keys.all().isEmpty());
        QVERIFY(!isRegular(f.aside()) && QFileInfo::exists(f.aside()));
        QVERIFY(isRegular(f.file())); // started anew
    }

    // Larger than any keys file: not read at all.
    QVERIFY(QFile::remove(f.aside()));
    QByteArray huge = other;
    huge.append(QByteArray(BoxKeys::MaxFileSize, '\n'));
    QVERIFY(writeRaw(f.file(), huge));
    BoxKeys keys(realFileOps(), f.folder);
    QVERIFY(keys.all().isEmpty());
    QCOMPARE(readAll(f.aside()).size(), huge.size());
    QVERIFY(keys.assign(3, QStringLiteral("旅行")));
    QCOMPARE(BoxKeys(realFileOps(), f.folder).all(), (QMap<int, QString> { { 3, QStringLiteral("旅行") } }));
}

void TstBoxKeys::fileIsReadAsideFromTheWindow()
{
    Fixture f;
    QVERIFY(writeRaw(f.file(), "4\t" + QByteArray("旅行").toPercentEncoding("/") + '\n'));
    // A home share that does not answer holds the thread that reads, never the window's.
    std::atomic<int> onWindow = 0, aside = 0;
    faults::reset();
    faults::setHook([&](faults::Op op, int) {
        if (op == faults::Op::Open || op == faults::Op::Read)
            ++(onMainThread() ? onWindow : aside);
    });
    const BoxKeys keys(realFileOps(), f.folder);
    faults::reset();
    QCOMPARE(keys.boxOf(4), std::optional(QStringLiteral("旅行")));
    QCOMPARE(onWindow.load(), 0);
    QVERIFY(aside.load() >= 2);
}

void TstBoxKeys::twoWindowsKeepEachOthersKeys()
{
    Fixture f;
    BoxKeys first(realFileOps(), f.folder);
    BoxKeys second(realFileOps(), f.folder);
    QVERIFY(first.assign(1, QStringLiteral("旅行")));
    // The second window read the file again before its change: the first's key stays.
    QVERIFY(second.assign(2, QStringLiteral("仕事")));
    const QMap<int, QString> both { { 1, QStringLiteral("旅行") }, { 2, QStringLiteral("仕事") } };
    QCOMPARE(second.all(), both);
    QCOMPARE(BoxKeys(realFileOps(), f.folder).all(), both);
    QVERIFY(first.remove(QStringLiteral("旅行")));
    QCOMPARE(first.all(), (QMap<int, QString> { { 2, QStringLiteral("仕事") } }));
    QVERIFY(second.boxRenamed(QStringLiteral("仕事"), QStringLiteral("旅行/仕事")));
    QCOMPARE(
        BoxKeys(realFileOps(), f.folder).all(), (QMap<int, QString> { { 2, QStringLiteral("旅行/仕事") } }));

    // While another holds the lock, a change is not written; it still holds in the program.
    const QByteArray before = readAll(f.file());
    const int lock = ::open(
        QFile::encodeName(f.folder + QStringLiteral("/boxkeys.lock")).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(lock >= 0);
    QCOMPARE(::flock(lock, LOCK_EX), 0);
    QVERIFY(!first.assign(5, QStringLiteral("旅行")));
    QCOMPARE(first.boxOf(5), std::optional(QStringLiteral("旅行")));
    QCOMPARE(readAll(f.file()), before);
    ::close(lock);
    QVERIFY(first.assign(6, QString()));
    QCOMPARE(BoxKeys(realFileOps(), f.folder).all(),
        (QMap<int, QString> { { 2, QStringLiteral("旅行/仕事") }, { 6, QString() } }));
}

void TstBoxKeys::changesAreTold()
{
    Fixture f;
    BoxKeys first(realFileOps(), f.folder);
    BoxKeys second(realFileOps(), f.folder);
    QSignalSpy told(&first, &BoxKeys::changed);
    QVERIFY(first.assign(1, QStringLiteral("旅行")));
    QCOMPARE(told.count(), 1);
    // Nothing held changes: nothing is told, so the trees are not redrawn for nothing.
    QVERIFY(first.assign(1, QStringLiteral("旅行")));
    QVERIFY(first.remove(QStringLiteral("仕事")));
    QVERIFY(first.boxRenamed(QStringLiteral("仕事"), QStringLiteral("遊び")));
    QCOMPARE(told.count(), 1);
    QVERIFY(first.boxRenamed(QStringLiteral("旅行"), QStringLiteral("遊び")));
    QCOMPARE(told.count(), 2);
    QVERIFY(first.boxDeleted(QStringLiteral("遊び")));
    QCOMPARE(told.count(), 3);
    // Another window's key, found when the file is read again for a change that changes nothing.
    QVERIFY(second.assign(4, QStringLiteral("仕事")));
    QVERIFY(first.remove(QStringLiteral("旅行")));
    QCOMPARE(told.count(), 4);
    QCOMPARE(first.boxOf(4), std::optional(QStringLiteral("仕事")));
    // Held in the program while the file is locked elsewhere: still told.
    const int lock = ::open(
        QFile::encodeName(f.folder + QStringLiteral("/boxkeys.lock")).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(lock >= 0);
    QCOMPARE(::flock(lock, LOCK_EX), 0);
    QVERIFY(!first.assign(5, QStringLiteral("旅行")));
    ::close(lock);
    QCOMPARE(told.count(), 5);
}

QTEST_GUILESS_MAIN(TstBoxKeys)
#include "tst_boxkeys.moc"
