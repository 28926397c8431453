// A thumbnail list keeps the pictures of the pages around the one shown; pages further away
// get them again, each its own file's, from the cache where it can serve.
#include "StorageBuilder.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailEngine.h"
#include "imaging/ThumbnailList.h"

#include <QAbstractItemView>
#include <QScrollBar>
#include <QTest>

#include <thread>

using namespace ztv;
using namespace ztv::test;

namespace {

// Each file's colour names its number, so a picture shown for the wrong item is seen.
QColor colourOf(int i)
{
    return QColor(40 + i % 200, 40 + i / 200 * 20, 90);
}

// The number a picture's colour names, -1 for none.
int numberShown(const QImage& image)
{
    if (image.isNull())
        return -1;
    const QColor c = image.pixelColor(image.width() / 2, image.height() / 2);
    return c.blue() == 90 ? (c.red() - 40) + (c.green() - 40) / 20 * 200 : -1;
}

// A folder of count pictures, listed into a list the way the window lists a folder.
struct Listed {
    Listed(int count, bool cache)
    {
        folder = home.makeDir(QStringLiteral("pics"));
        for (int i = 0; i < count; ++i)
            home.write(QStringLiteral("pics/p%1.png").arg(i, 4, 10, QLatin1Char('0')),
                pictures::png({ 60, 40 }, colourOf(i)));
        browser.setCacheFolder(cache ? home.home() + QStringLiteral("/cache/thumbnails") : QString());
        browser.setWritableStorageCheck([](const QString&) { return true; });
        list.resize(576, 523);
        list.show();
        QObject::connect(&browser, &ThumbnailBrowser::ThumbnailReady, &list,
            [this](const QImage& image, const QString& path, int status) {
                if (status != ThumbnailResult::Made)
                    return;
                list.AddThumbnail(image, path.section(QLatin1Char('/'), -1), list.ThumbnailCount());
                list.ScrollToThumbnail(list.ThumbnailCount() - 1);
                mostKept = std::max(mostKept, list.keptImageCount());
            });
    }
    void browse()
    {
        QCOMPARE(browser.BrowseFolder(folder), ThumbnailBrowser::ResultOk);
        list.commitAdded();
    }
    void showPage(int page)
    {
        list.ScrollToThumbnail(page * ThumbnailList::ItemsPerPage);
        QTRY_VERIFY_WITH_TIMEOUT(!list.restoringImages(), 30000);
        mostKept = std::max(mostKept, list.keptImageCount());
    }
    QImage picture(int item) const
    {
        return list.model()->index(item, 0).data(Qt::DecorationRole).value<QImage>();
    }
    // Every picture held shows its own item's file; the page shown has all of its pictures.
    void checkPictures(int page) const
    {
        int shown = 0;
        for (int i = 0; i < list.ThumbnailCount(); ++i) {
            const QImage image = picture(i);
            const int number = list.caption(i).mid(1, 4).toInt();
            if (!image.isNull())
                QCOMPARE(numberShown(image), number);
            if (i / ThumbnailList::ItemsPerPage == page) {
                QVERIFY2(!image.isNull(), qPrintable(list.caption(i)));
                ++shown;
            }
        }
        QCOMPARE(shown,
            std::min(
                ThumbnailList::ItemsPerPage, list.ThumbnailCount() - page * ThumbnailList::ItemsPerPage));
    }

    TestHome home;
    QString folder;
    ThumbnailBrowser browser;
    ThumbnailList list;
    int mostKept = 0;
};

} // namespace

class TestThumbnailPaging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void farPagesComeBackFromTheCacheWithTheirOwnPictures()
    {
        Listed l(280, true);
        l.browse();
        QCOMPARE(l.list.ThumbnailCount(), 280);
        QVERIFY(l.mostKept <= ThumbnailList::KeptImages + ThumbnailList::ItemsPerPage);
        QVERIFY(l.list.keptImageCount() <= ThumbnailList::KeptImages);
        // The run ended on the last page: the first page's pictures went.
        QVERIFY(l.picture(0).isNull());
        l.checkPictures(280 / 25);

        const qint64 decodes = thumbnailDecodeCount();
        for (const int page : { 0, 7, 1, 11, 6, 0 }) {
            l.showPage(page);
            l.checkPictures(page);
        }
        QCOMPARE(thumbnailDecodeCount(), decodes); // every page from the cache
        QVERIFY(l.mostKept <= ThumbnailList::KeptImages + ThumbnailList::ItemsPerPage);
        QVERIFY(l.list.keptImageCount() <= ThumbnailList::KeptImages);
        // The neighbouring pages are kept, so the next page shows at once.
        QVERIFY(!l.picture(2 * 25 + 3).isNull());
        QVERIFY(l.picture(6 * 25).isNull());
        // The picture keeps the ratio it was shown with.
        QCOMPARE(l.picture(0).devicePixelRatio(), 1.0);
    }

    void withoutTheCachePicturesAreDecodedAgain()
    {
        Listed l(160, false);
        l.browse();
        const qint64 decodes = thumbnailDecodeCount();
        l.showPage(0);
        l.checkPictures(0);
        // Only the pictures that were dropped are made again (the last run kept 125 of 160).
        QCOMPARE(thumbnailDecodeCount() - decodes, 160 - ThumbnailList::KeptImages);
    }

    void aFileChangedSinceTheListingNeverShowsItsOldEntry()
    {
        Listed l(140, true);
        l.browse();
        QVERIFY(l.picture(3).isNull());
        // Another picture under the same name (another size, another time): the cache's entry
        // describes the old one and is not used.
        const QString p3 = l.folder + QStringLiteral("/p0003.png");
        QFile::remove(p3);
        l.home.write(QStringLiteral("pics/p0003.png"), pictures::png({ 90, 60 }, colourOf(150)));
        QFile f(p3);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        f.close();
        l.showPage(0);
        QCOMPARE(numberShown(l.picture(3)), 150);
        QCOMPARE(numberShown(l.picture(4)), 4);
    }

    void aClearedListTakesNoPictureMadeForTheOldOne()
    {
        Listed l(140, true);
        l.browse();
        QVERIFY(l.picture(0).isNull());
        l.list.ScrollToThumbnail(0); // asks for the first pages again
        l.list.ClearThumbnails();
        QImage plain(60, 40, QImage::Format_RGB32);
        plain.fill(Qt::black);
        for (int i = 0; i < 30; ++i)
            l.list.AddThumbnail(plain, QStringLiteral("x%1").arg(i), i);
        l.list.commitAdded();
        QTRY_VERIFY_WITH_TIMEOUT(!l.list.restoringImages(), 30000);
        QCoreApplication::processEvents();
        for (int i = 0; i < 30; ++i)
            QCOMPARE(l.picture(i).pixelColor(30, 20), QColor(Qt::black));
        // Pictures that cannot be made again are never dropped.
        QCOMPARE(l.list.keptImageCount(), 30);
    }

    // Two decodes that fit the budget together run at once; one that would pass it waits
    // until enough is given back.
    void largeDecodesShareTheBudget()
    {
        const qint64 third = LargeDecodeBudgetBytes / 3;
        {
            DecodeReservation a = reserveDecodeMemory(third);
            DecodeReservation b = reserveDecodeMemory(third); // would wait forever if serialised
            QCOMPARE(reservedDecodeBytes(), 2 * third);
            QCOMPARE(reserveDecodeMemory(LargeDecodeBytes).bytes(), 0); // small: nothing reserved
            std::atomic<bool> got { false };
            std::thread waiter([&] {
                DecodeReservation c = reserveDecodeMemory(3 * third);
                got = true;
            });
            QTRY_COMPARE_WITH_TIMEOUT(decodesWaitingForMemory(), 1, 30000);
            QVERIFY(!got);
            a = DecodeReservation();
            QCOMPARE(decodesWaitingForMemory(), 1); // a third is still not enough
            QVERIFY(!got);
            b = DecodeReservation();
            waiter.join();
            QVERIFY(got);
        }
        QCOMPARE(reservedDecodeBytes(), 0);
        // An estimate over the whole budget waits for all of it, then runs alone.
        DecodeReservation huge = reserveDecodeMemory(4 * LargeDecodeBudgetBytes);
        QCOMPARE(huge.bytes(), LargeDecodeBudgetBytes);
    }
};

QTEST_MAIN(TestThumbnailPaging)
#include "tst_thumbnailpaging.moc"
