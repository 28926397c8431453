// A tab listed again after a change to its folder: the rows, pictures, counters, page and
// choice are those a whole listing gives, while only what changed (and the first page's
// pictures not held) is read; a listing that stops or fails says so at the edge.
#include "MainFormFixture.h"
#include "display/BrowsingArea.h"
#include "filing/FilingSteps.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/PathText.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QDir>
#include <QTabWidget>
#include <QTest>

using namespace ztv;
using namespace ztv::test;

namespace {

constexpr int Files = 250; // ten pages
const QString Yard = QStringLiteral("My Documents/ZTV_DATA/ストックヤード/");

QColor colourOf(int i)
{
    return QColor::fromRgb(i % 256, 255 - i % 256, (i * 7) % 256);
}
QString nameOf(int i)
{
    return QStringLiteral("s%1.png").arg(i, 3, 10, QLatin1Char('0'));
}

// What a page shows: each row's file, caption, counter and the colour of its picture (0 for
// a row without one now).
struct Page {
    QStringList paths;
    QStringList captions;
    QList<int> counters;
    QList<QRgb> colours;
    bool operator==(const Page&) const = default;
};

QRgb colourAt(const BrowsingArea& tab, int row)
{
    const QImage image = tab.LEADImgList1()->model()->index(row, 0).data(Qt::DecorationRole).value<QImage>();
    return image.isNull() ? 0 : image.pixel(image.width() / 2, image.height() / 2);
}

void waitForPictures(const BrowsingArea& tab)
{
    QTRY_VERIFY_WITH_TIMEOUT(!tab.LEADImgList1()->restoringImages(), 30000);
}

Page pageOf(const BrowsingArea& tab)
{
    Page p;
    p.paths = tab.HiddenList();
    for (int row = 0; row < tab.LEADImgList1()->ThumbnailCount(); ++row) {
        p.captions << tab.LEADImgList1()->caption(row);
        p.counters << tab.LEADImgList1()->counter(row);
        p.colours << colourAt(tab, row);
    }
    return p;
}

struct YardFixture : MainFormFixture {
    YardFixture()
    {
        for (int i = 0; i < Files; ++i)
            home.write(Yard + nameOf(i), pictures::png({ 20, 20 }, colourOf(i)));
        // Counted, never listed: the rows after it count it too.
        home.write(Yard + QStringLiteral("s002x.png"), QByteArray("not a picture"));
        load();
        form->show();
        form->SSTab1()->setCurrentIndex(1);
        QObject::connect(tab().LEADThumb1(), &ThumbnailBrowser::BrowseStarted, form.get(),
            [this](int files) { read += files; });
    }
    BrowsingArea& tab() { return form->area(Area::StockYard); }
    void showPage(int page)
    {
        tab().Combo1()->setCurrentIndex(page - 1);
        tab().Combo1_Click();
        waitForPictures(tab());
    }
    int read = 0;
};

enum class Change { Left, Added, Replaced };

} // namespace

class TstRelisting : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void relistingReadsOnlyWhatChanged_data();
    void relistingReadsOnlyWhatChanged();
    void stoppedAndFailedListingsAtTheEdge();
};

void TstRelisting::relistingReadsOnlyWhatChanged_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<int>("pageShown");
    QTest::addColumn<int>("expectedRead");
    // Looking at page 1, its pictures are held: only the changed file is read. From page 8, the
    // first page, which the listing shows, is read whole (25 files, the changed one among them).
    QTest::newRow("one left, page 1") << Change::Left << 1 << 0;
    QTest::newRow("one added, page 1") << Change::Added << 1 << 1;
    QTest::newRow("one replaced, page 1") << Change::Replaced << 1 << 1;
    QTest::newRow("one left, page 8") << Change::Left << 8 << 25;
    QTest::newRow("one added, page 8") << Change::Added << 8 << 25;
    QTest::newRow("one replaced, page 8") << Change::Replaced << 8 << 25;
}

void TstRelisting::relistingReadsOnlyWhatChanged()
{
    QFETCH(Change, change);
    QFETCH(int, pageShown);
    QFETCH(int, expectedRead);
    YardFixture f;
    BrowsingArea& tab = f.tab();
    QCOMPARE(tab.HiddenList().size(), Files);
    f.showPage(pageShown);
    tab.LEADImgList1_Click((pageShown - 1) * 25 + 3);
    QVERIFY(isChosen(*f.form, Area::StockYard));

    const QColor fresh(Qt::magenta);
    const QString s005 = f.home.stockYard() + QStringLiteral("/s005.png");
    switch (change) {
    case Change::Left:
        QVERIFY(QFile::remove(s005));
        break;
    case Change::Added:
        f.home.write(Yard + QStringLiteral("s005b.png"), pictures::png({ 20, 20 }, fresh));
        break;
    case Change::Replaced:
        QVERIFY(QFile::remove(s005));
        f.home.write(Yard + QStringLiteral("s005.png"), pictures::png({ 20, 20 }, fresh));
        break;
    }
    f.read = 0;
    const BrowsingArea::Listing listing = tab.list(f.home.stockYard(), BrowsingArea::ListHow::AfterChange);
    QVERIFY(listing.done());
    QCOMPARE(listing.code(), 0);
    QCOMPARE(f.read, expectedRead);

    // The first page is shown, whole, at once; the choice belonged to the listing that is gone.
    QCOMPARE(tab.Combo1()->currentText(), QStringLiteral("1"));
    QCOMPARE(tab.LEADImgList1()->topItem(), 0);
    for (int row = 0; row < 25; ++row)
        QVERIFY2(colourAt(tab, row) != 0, qPrintable(QString::number(row)));
    QVERIFY(!isChosen(*f.form, Area::StockYard));
    QVERIFY(!tab.LEAD1()->hasPicture());
    QCOMPARE(tab.invariantViolation(), QString());
    // A file replaced under its name shows its new picture, not the one its row had.
    QCOMPARE(colourAt(tab, change == Change::Added ? 6 : 5),
        change == Change::Left ? colourOf(6).rgb() : fresh.rgb());
    QCOMPARE(tab.Combo1()->count(), PagesFor(tab.LEADImgList1()->PageCount()));
    waitForPictures(tab);
    const Page kept = pageOf(tab);

    // The same folder listed whole gives the very same rows, captions, counters and pictures.
    tab.clearPage();
    QVERIFY(tab.list(f.home.stockYard(), BrowsingArea::ListHow::AfterChange).done());
    waitForPictures(tab);
    QCOMPARE(kept, pageOf(tab));
    QCOMPARE(tab.Combo1()->currentText(), QStringLiteral("1"));
}

// A re-listing stopped while it reads the new files shows what a whole listing stopped there
// shows, tells it, and the next one lists whole; one whose folder went fails with the code.
void TstRelisting::stoppedAndFailedListingsAtTheEdge()
{
    YardFixture f;
    BrowsingArea& tab = f.tab();
    // The first page looked at: its pictures are held, only the two new files are to be read.
    waitForPictures(tab);
    for (const char* name : { "s010b.png", "s020b.png" })
        f.home.write(Yard + QLatin1String(name), pictures::png({ 20, 20 }, Qt::magenta));
    // Asked as the new files start: the first is made or not, as the workers' timing decides.
    const auto stop = QObject::connect(tab.LEADThumb1(), &ThumbnailBrowser::BrowseStarted, f.form.get(),
        [&] { f.form->browseRun().askToStop(); });
    const BrowsingArea::Listing stopped = tab.list(f.home.stockYard(), BrowsingArea::ListHow::AfterChange);
    QObject::disconnect(stop);
    QCOMPARE(stopped.result, BrowsingArea::ListResult::Stopped);
    QCOMPARE(stopped.code(), ThumbnailBrowser::ResultCancelled);
    QStringList whole;
    for (int i = 0; i < Files; ++i) {
        whole << f.home.stockYard() + QLatin1Char('/') + nameOf(i);
        if (i == 10 || i == 20)
            whole << whole.last().chopped(4) + QStringLiteral("b.png");
    }
    const QStringList upToFirst = whole.mid(0, 11);
    const QStringList upToSecond = whole.mid(0, 22);
    QVERIFY2(tab.HiddenList() == upToFirst || tab.HiddenList() == upToSecond,
        qPrintable(QString::number(tab.HiddenList().size())));
    QCOMPARE(tab.Combo1()->count(), 1);
    QCOMPARE(tab.invariantViolation(), QString());
    filing::reportBrowse(*f.form, stopped);
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls.at(0).text, QStringLiteral("ﾌﾞﾗｳｼﾞﾝｸﾞをｷｬﾝｾﾙしました"));

    f.read = 0;
    QVERIFY(tab.list(f.home.stockYard(), BrowsingArea::ListHow::AfterChange).done());
    QCOMPARE(tab.HiddenList(), whole);
    QCOMPARE(f.read, Files + 3); // the unreadable file too

    // The folder goes: the re-listing fails, the page and the choice empty.
    tab.LEADImgList1_Click(4);
    QVERIFY(QDir().rename(f.home.stockYard(), f.home.stockYard() + QStringLiteral("-gone")));
    const BrowsingArea::Listing failed = tab.list(f.home.stockYard(), BrowsingArea::ListHow::AfterChange);
    QCOMPARE(failed.result, BrowsingArea::ListResult::Failed);
    QCOMPARE(failed.code(), ThumbnailBrowser::ResultFolderUnreadable);
    QVERIFY(tab.HiddenList().isEmpty());
    QCOMPARE(tab.LEADImgList1()->ThumbnailCount(), 0);
    QVERIFY(!isChosen(*f.form, Area::StockYard));
    QCOMPARE(tab.invariantViolation(), QString());
    filing::reportBrowse(*f.form, failed);
    QCOMPARE(f.prompts.calls.size(), 2);
    QCOMPARE(f.prompts.calls.at(1).text, QStringLiteral("ﾃﾞｨﾚｸﾄﾘ ﾌﾞﾗｳｼﾞﾝｸﾞのｴﾗｰ : 20007"));
}

QTEST_MAIN(TstRelisting)
#include "tst_relisting.moc"
