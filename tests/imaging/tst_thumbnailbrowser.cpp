#include "StorageBuilder.h"
#include "imaging/FolderListing.h"
#include "imaging/ThumbnailBrowser.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <sys/stat.h>

using namespace ztv;
using ztv::test::TestHome;
namespace pictures = ztv::test::pictures;

namespace {

struct Event {
    QString name;
    int status;
    QSize size;
    QImage image;
};

struct Run {
    int result = -1;
    int started = -1;
    QList<Event> events;
    bool offThread = false;
};

// Browses folder and records every event; the handler stops the run after stopAfter events
// when stopAfter >= 0.
Run browse(ThumbnailBrowser& browser, const QString& folder, int stopAfter = -1)
{
    Run run;
    QObject context;
    QObject::connect(&browser, &ThumbnailBrowser::BrowseStarted, &context, [&](int n) { run.started = n; });
    QObject::connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage& image, const QString& path, int status) {
            if (QThread::currentThread() != browser.thread())
                run.offThread = true;
            run.events.append({ path.section(QLatin1Char('/'), -1), status, image.size(), image });
            browser.setContinueBrowsing(stopAfter < 0 || run.events.size() < stopAfter);
        });
    run.result = browser.BrowseFolder(folder);
    return run;
}

QStringList names(const Run& run)
{
    QStringList out;
    for (const Event& e : run.events)
        out.append(e.name);
    return out;
}

int grey(const QImage& image, int x, int y)
{
    return qGray(image.pixel(x, y));
}

} // namespace

class TestThumbnailBrowser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void naturalOrder();
    void filterTakesEveryFileForStarDotStar();
    void statusesForBadFiles();
    void vanishedFile();
    void cancelStopsTheRun();
    void missingFolder();
    void orientationUpright_data();
    void orientationUpright();
    void fitsIntoTheBoxKeepingAspect();
    void nameThatIsNotUtf8();
};

void TestThumbnailBrowser::naturalOrder()
{
    QStringList list { QStringLiteral("img10.jpg"), QStringLiteral("IMG2.jpg"), QStringLiteral("img2.jpg"),
        QStringLiteral("img1.jpg"), QStringLiteral("Img2.jpg"), QStringLiteral("a.png") };
    sortNatural(list);
    QCOMPARE(list,
        QStringList({ QStringLiteral("a.png"), QStringLiteral("img1.jpg"), QStringLiteral("IMG2.jpg"),
            QStringLiteral("Img2.jpg"), QStringLiteral("img2.jpg"), QStringLiteral("img10.jpg") }));

    TestHome home;
    for (const char* n : { "p10.png", "p9.png", "P1.png", "p100.png", "p11.png" })
        home.write(QStringLiteral("f/") + QLatin1String(n), pictures::png({ 8, 8 }));
    ThumbnailBrowser browser;
    const Run run = browse(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(run.result, ThumbnailBrowser::ResultOk);
    QCOMPARE(names(run),
        QStringList({ QStringLiteral("P1.png"), QStringLiteral("p9.png"), QStringLiteral("p10.png"),
            QStringLiteral("p11.png"), QStringLiteral("p100.png") }));
}

void TestThumbnailBrowser::filterTakesEveryFileForStarDotStar()
{
    TestHome home;
    home.write(QStringLiteral("f/README"), "no dot\n");
    home.write(QStringLiteral("f/a.jpg"), pictures::jpeg({ 16, 16 }));
    home.write(QStringLiteral("f/sub/inner.jpg"), pictures::jpeg({ 16, 16 }));
    home.write(QStringLiteral("f/.hidden.jpg"), pictures::jpeg({ 16, 16 }));
    ThumbnailBrowser browser;
    QCOMPARE(browser.fileFilter(), QStringLiteral("*.*"));
    Run run = browse(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(run.started, 2);
    QCOMPARE(browser.filesInRun(), 2);
    QCOMPARE(names(run), QStringList({ QStringLiteral("a.jpg"), QStringLiteral("README") }));
    QCOMPARE(run.events[1].status, int(ThumbnailResult::Unreadable));

    browser.setFileFilter(QStringLiteral("*.JPG"));
    run = browse(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(names(run), QStringList({ QStringLiteral("a.jpg") }));
}

void TestThumbnailBrowser::statusesForBadFiles()
{
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("f"));
    home.write(QStringLiteral("f/1 good.png"), pictures::png({ 40, 20 }));
    home.write(QStringLiteral("f/2 corrupt.jpg"), pictures::corrupt());
    home.write(QStringLiteral("f/3 text.jpg"), "this is text\n");
    home.write(QStringLiteral("f/4 empty.gif"), QByteArray());
    QVERIFY(::mkfifo(QFile::encodeName(dir + QStringLiteral("/5 fifo.png")).constData(), 0644) == 0);
    QVERIFY(QFile::link(dir + QStringLiteral("/6 loop.jpg"), dir + QStringLiteral("/6 loop.jpg")));
    QVERIFY(QFile::link(dir + QStringLiteral("/nowhere"), dir + QStringLiteral("/7 dangling.jpg")));
    home.write(QStringLiteral("f/8 gif.gif"), pictures::gif());

    ThumbnailBrowser browser;
    const Run run = browse(browser, dir);
    QCOMPARE(run.result, ThumbnailBrowser::ResultOk);
    QCOMPARE(run.events.size(), 8);
    const QList<int> expected { 0, 1, 1, 1, 1, 1, 1, 0 };
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(run.events[i].status, expected[i]);
        QCOMPARE(run.events[i].image.isNull(), expected[i] != 0);
    }
    QCOMPARE(run.events[0].size, QSize(40, 20));
    QVERIFY(!run.offThread);
}

void TestThumbnailBrowser::vanishedFile()
{
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("f"));
    home.write(QStringLiteral("f/a.png"), pictures::png({ 10, 10 }));
    home.write(QStringLiteral("f/b.png"), pictures::png({ 10, 10 }));
    home.write(QStringLiteral("f/c.png"), pictures::png({ 10, 10 }));
    ThumbnailBrowser browser;
    QList<int> statuses;
    QObject context;
    connect(&browser, &ThumbnailBrowser::BrowseStarted, &context,
        [&] { QVERIFY(QFile::remove(dir + QStringLiteral("/b.png"))); });
    connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage&, const QString&, int status) { statuses.append(status); });
    QCOMPARE(browser.BrowseFolder(dir), ThumbnailBrowser::ResultOk);
    QCOMPARE(statuses, QList<int>({ 0, 2, 0 }));
}

void TestThumbnailBrowser::cancelStopsTheRun()
{
    TestHome home;
    for (int i = 0; i < 30; ++i)
        home.write(QStringLiteral("f/p%1.png").arg(i), pictures::png({ 30, 30 }));
    ThumbnailBrowser browser;
    Run run = browse(browser, home.home() + QStringLiteral("/f"), 3);
    QCOMPARE(run.result, ThumbnailBrowser::ResultCancelled);
    QCOMPARE(names(run),
        QStringList({ QStringLiteral("p0.png"), QStringLiteral("p1.png"), QStringLiteral("p2.png") }));
    // The next run starts afresh.
    run = browse(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(run.result, ThumbnailBrowser::ResultOk);
    QCOMPARE(run.events.size(), 30);
}

void TestThumbnailBrowser::missingFolder()
{
    TestHome home;
    ThumbnailBrowser browser;
    QSignalSpy started(&browser, &ThumbnailBrowser::BrowseStarted);
    QCOMPARE(browser.BrowseFolder(home.home() + QStringLiteral("/nothing")),
        ThumbnailBrowser::ResultFolderUnreadable);
    home.write(QStringLiteral("file.jpg"), pictures::jpeg({ 8, 8 }));
    QCOMPARE(browser.BrowseFolder(home.home() + QStringLiteral("/file.jpg")),
        ThumbnailBrowser::ResultFolderUnreadable);
    QCOMPARE(started.count(), 0);
}

void TestThumbnailBrowser::orientationUpright_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("expected");
    // Stored 200 x 100 with the left half black.
    QTest::newRow("1") << 1 << QSize(100, 50);
    QTest::newRow("3") << 3 << QSize(100, 50);
    QTest::newRow("6") << 6 << QSize(50, 100);
    QTest::newRow("8") << 8 << QSize(50, 100);
}

void TestThumbnailBrowser::orientationUpright()
{
    QFETCH(int, orientation);
    QFETCH(QSize, expected);
    TestHome home;
    home.write(QStringLiteral("f/h.jpg"), pictures::halvesJpeg({ 200, 100 }, orientation));
    ThumbnailBrowser browser;
    const Run run = browse(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(run.events.size(), 1);
    const QImage& img = run.events[0].image;
    QCOMPARE(img.size(), expected);
    // Where the stored left (black) half ends up once the picture stands upright.
    const int w = img.width(), h = img.height();
    int dark = 0, light = 0;
    switch (orientation) {
    case 1:
        dark = grey(img, 5, h / 2), light = grey(img, w - 5, h / 2);
        break;
    case 3:
        dark = grey(img, w - 5, h / 2), light = grey(img, 5, h / 2);
        break;
    case 6:
        dark = grey(img, w / 2, 5), light = grey(img, w / 2, h - 5);
        break;
    case 8:
        dark = grey(img, w / 2, h - 5), light = grey(img, w / 2, 5);
        break;
    }
    QVERIFY2(dark < 60 && light > 200, qPrintable(QStringLiteral("dark %1 light %2").arg(dark).arg(light)));
}

void TestThumbnailBrowser::fitsIntoTheBoxKeepingAspect()
{
    TestHome home;
    home.write(QStringLiteral("f/a wide.png"), pictures::png({ 1000, 10 }));
    home.write(QStringLiteral("f/b tall.jpg"), pictures::jpeg({ 300, 600 }));
    home.write(QStringLiteral("f/c small.bmp"), pictures::bmp({ 30, 20 }));
    ThumbnailBrowser browser;
    QCOMPARE(browser.thumbnailSize(), QSize(100, 100));
    Run run = browse(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(run.events.size(), 3);
    QCOMPARE(run.events[0].size, QSize(100, 1));
    QCOMPARE(run.events[1].size, QSize(50, 100));
    QCOMPARE(run.events[2].size, QSize(30, 20));
    browser.setThumbnailSize({ 64, 48 });
    run = browse(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(run.events[1].size, QSize(24, 48));
}

void TestThumbnailBrowser::nameThatIsNotUtf8()
{
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("f"));
    // "写真.jpg" in Shift_JIS, as an old disc carries it.
    const QByteArray raw = QFile::encodeName(dir) + QByteArray("/\x8e\xca\x90\x5e.jpg");
    {
        const QByteArray bytes = pictures::jpeg({ 40, 30 });
        FILE* f = std::fopen(raw.constData(), "wb");
        QVERIFY(f);
        QCOMPARE(std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f), size_t(bytes.size()));
        std::fclose(f);
    }
    ThumbnailBrowser browser;
    const Run run = browse(browser, dir);
    QCOMPARE(run.events.size(), 1);
    QCOMPARE(run.events[0].status, int(ThumbnailResult::Made));
    QCOMPARE(run.events[0].size, QSize(40, 30));
}

QTEST_GUILESS_MAIN(TestThumbnailBrowser)
#include "tst_thumbnailbrowser.moc"
