// Run with the screen at a device pixel ratio of 2 (set before the application starts).
#include "MainFormFixture.h"
#include "display/ThumbnailScale.h"
#include "imaging/ThumbnailList.h"
#include "imaging/ThumbnailRestore.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTest>

using namespace ztv;
using ztv::test::MainFormFixture;

class TstHighDpi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ratioRules_data();
    void ratioRules();
    void thumbnailsMadeAtScreenDensity();
    void droppedThumbnailsComeBackAtTheirDensity();
};

void TstHighDpi::ratioRules_data()
{
    QTest::addColumn<QSize>("decoded");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<qreal>("expected");
    QTest::newRow("reduced, wide") << QSize(200, 150) << 2.0 << 2.0;
    QTest::newRow("reduced, tall") << QSize(75, 200) << 2.0 << 2.0;
    QTest::newRow("reduced, rounded down a pixel") << QSize(199, 20) << 2.0 << 2.0;
    QTest::newRow("small picture") << QSize(40, 30) << 2.0 << 1.0;
    QTest::newRow("plain screen") << QSize(100, 75) << 1.0 << 1.0;
    QTest::newRow("fractional") << QSize(150, 100) << 1.5 << 1.5;
    QTest::newRow("nonsense ratio") << QSize(200, 150) << 0.0 << 1.0;
}

void TstHighDpi::ratioRules()
{
    QFETCH(QSize, decoded);
    QFETCH(qreal, ratio);
    QFETCH(qreal, expected);
    QImage image(decoded, QImage::Format_RGB32);
    image.fill(Qt::gray);
    const QImage marked = withThumbnailRatio(image, kThumbnailBox, ratio);
    QCOMPARE(marked.devicePixelRatio(), expected);
    QCOMPARE(marked.size(), decoded); // pixels untouched
    // The source a list needs to make the picture again survives the marking.
    markThumbnailSource(&image, { QStringLiteral("/p/a.jpg"), { 200, 200 }, QString() });
    QCOMPARE(
        thumbnailSourceOf(withThumbnailRatio(image, kThumbnailBox, ratio)).path, QStringLiteral("/p/a.jpg"));
    QCOMPARE(thumbnailDecodeBox(kThumbnailBox, 1.5), QSize(150, 150));
}

void TstHighDpi::thumbnailsMadeAtScreenDensity()
{
    MainFormFixture f;
    const QString sy = QStringLiteral("My Documents/ZTV_DATA/ストックヤード/");
    f.home.write(sy + QStringLiteral("a-large.jpg"), test::pictures::jpeg({ 800, 600 }, Qt::darkGreen));
    f.home.write(sy + QStringLiteral("b-small.png"), test::pictures::png({ 40, 30 }));
    MainForm& form = f.load();
    ThumbnailList* list = form.area(Area::StockYard).LEADImgList1();
    QCOMPARE(list->devicePixelRatioF(), 2.0);
    QCOMPARE(list->ThumbnailCount(), 2);
    auto* view = qobject_cast<QAbstractItemView*>(list->focusProxy());
    QVERIFY(view);
    const QImage large = view->model()->index(0, 0).data(Qt::DecorationRole).value<QImage>();
    const QImage small = view->model()->index(1, 0).data(Qt::DecorationRole).value<QImage>();
    // Twice the pixels of a plain screen's thumbnail, shown at the same logical size.
    QCOMPARE(large.size(), QSize(200, 150));
    QCOMPARE(large.devicePixelRatio(), 2.0);
    QCOMPARE(large.deviceIndependentSize().toSize(), QSize(100, 75));
    QCOMPARE(small.size(), QSize(40, 30));
    QCOMPARE(small.deviceIndependentSize().toSize(), QSize(40, 30));
}

void TstHighDpi::droppedThumbnailsComeBackAtTheirDensity()
{
    MainFormFixture f;
    const QString sy = QStringLiteral("My Documents/ZTV_DATA/ストックヤード/");
    const int count = ThumbnailList::KeptImages + 15;
    for (int i = 0; i < count; ++i)
        f.home.write(sy + QStringLiteral("p%1.png").arg(i, 3, 10, QLatin1Char('0')),
            test::pictures::png({ 250, 200 }, i == 0 ? Qt::darkRed : Qt::darkBlue));
    MainForm& form = f.load();
    auto* list = form.area(Area::StockYard).findChild<ThumbnailList*>();
    QVERIFY(list);
    QCOMPARE(list->ThumbnailCount(), count);
    auto* view = qobject_cast<QAbstractItemView*>(list->focusProxy());
    auto picture = [&](int i) { return view->model()->index(i, 0).data(Qt::DecorationRole).value<QImage>(); };
    list->ScrollToThumbnail(count - 1);
    QTRY_VERIFY_WITH_TIMEOUT(!list->restoringImages(), 30000);
    QVERIFY(picture(0).isNull());
    list->ScrollToThumbnail(0);
    QTRY_VERIFY_WITH_TIMEOUT(!picture(0).isNull(), 30000);
    QCOMPARE(picture(0).size(), QSize(200, 160));
    QCOMPARE(picture(0).devicePixelRatio(), 2.0);
    QCOMPARE(picture(0).pixelColor(100, 80), QColor(Qt::darkRed));
    QVERIFY(list->keptImageCount() <= ThumbnailList::KeptImages);
}

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TstHighDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"
