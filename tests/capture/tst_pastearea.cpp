#include "CaptureFixture.h"
#include "imaging/PictureScrollArea.h"
#include "widgets/FormLayout.h"

#include <QAction>
#include <QBuffer>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

using namespace ztv;
using namespace ztv::test;

namespace {

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage opaque(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TstPasteArea : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noPictureOnClipboard_data()
    {
        QTest::addColumn<QString>("offer");
        QTest::newRow("empty") << QString();
        QTest::newRow("text only") << QStringLiteral("テキストだけ");
        QTest::newRow("unreadable picture bytes") << QStringLiteral("garbage");
    }
    void noPictureOnClipboard()
    {
        QFETCH(QString, offer);
        CaptureFixture f;
        const QImage earlier = samplePicture();
        f.paste(earlier);
        QCOMPARE(f.prompts.calls.size(), 0);

        if (offer.isEmpty()) {
            QGuiApplication::clipboard()->clear();
        } else if (offer == QLatin1String("garbage")) {
            auto* mime = new QMimeData;
            mime->setData(QStringLiteral("image/png"), QByteArray("not a png at all"));
            QGuiApplication::clipboard()->setMimeData(mime);
        } else {
            QGuiApplication::clipboard()->setText(offer);
        }
        f.form->Command1(1)->click();

        QCOMPARE(f.prompts.calls.size(), 1);
        const RecordingPrompts::Call& call = f.prompts.calls.first();
        QCOMPARE(call.text, QStringLiteral("クリップボードにデータがありません。"));
        QCOMPARE(call.title, QStringLiteral("貼り付けエラー"));
        QCOMPARE(call.icon, PromptIcon::Critical);
        QCOMPARE(call.buttons, PromptButtons::Ok);
        QCOMPARE(f.form->LEAD2().picture(), earlier);
        QCOMPARE(f.form->LEAD3().picture(), earlier);
    }

    // Pictures as other programs offer them, and as this program's own copy puts them.
    void pastesWhatTheClipboardOffers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("image/png only") << QStringLiteral("image/png");
        QTest::newRow("image/bmp only") << QStringLiteral("image/bmp");
        QTest::newRow("QImage") << QStringLiteral("image");
        QTest::newRow("own copy of a vault file") << QStringLiteral("own");
    }
    void pastesWhatTheClipboardOffers()
    {
        QFETCH(QString, how);
        CaptureFixture f;
        const QImage source = samplePicture(QSize(90, 70));
        if (how == QLatin1String("image")) {
            putOnClipboard(source);
        } else if (how == QLatin1String("own")) {
            const QString file = f.home.write(
                QStringLiteral("My Documents/ZTV_DATA/保管庫/写真.png"), encoded(source, "PNG"));
            PictureDisplay display;
            QVERIFY(display.LoadPicture(file));
            display.CopyPictureToClipboard(PictureDisplay::ClipboardCopy::PictureAndFile);
        } else {
            auto* mime = new QMimeData;
            mime->setData(how, encoded(source, how == QLatin1String("image/png") ? "PNG" : "BMP"));
            QGuiApplication::clipboard()->setMimeData(mime);
        }
        f.form->Command1(1)->click();

        QCOMPARE(f.prompts.calls.size(), 0);
        QCOMPARE(opaque(f.form->LEAD2().picture()), source);
        QCOMPARE(opaque(f.form->LEAD3().picture()), source);
    }

    void secondPasteReplacesTheFirst()
    {
        CaptureFixture f;
        f.paste(samplePicture(QSize(40, 30)));
        const QImage second = samplePicture(QSize(200, 120));
        f.paste(second);
        QCOMPARE(f.form->LEAD2().picture(), second);
        QCOMPARE(f.form->LEAD3().picture(), second);
    }

    // The hidden copy is prepared white (a GIF that drops transparency gets white there, see
    // the saving tests) and keeps the picture's alpha for a GIF that keeps it.
    void hiddenCopyIsPreparedWhite()
    {
        CaptureFixture f;
        const QImage source = samplePicture(QSize(80, 80), true);
        f.paste(source);
        QCOMPARE(qAlpha(f.form->LEAD2().picture().pixel(2, 2)), 0);
        QCOMPARE(f.form->LEAD3().picture(), f.form->LEAD2().picture());
        QCOMPARE(f.form->LEAD3().colourOption(), QColor(255, 255, 255));
        QVERIFY(f.form->LEAD3().colourOptionEnabled());
    }

    // A picture larger than the display is shown at its own size from the top-left corner and
    // the rest is reached by scrolling; a smaller one needs no scroll bars. Nothing is scaled.
    void largePictureScrollsAtItsOwnSize()
    {
        CaptureFixture f;
        auto* view = f.form->findChild<PictureScrollArea*>();
        QVERIFY(view);
        QCOMPARE(view->display(), &f.form->LEAD2());
        QCOMPARE(view->size(), layout::tw(240, 840, 12015, 7935).size());
        QScrollBar* h = view->horizontalScrollBar();
        QScrollBar* v = view->verticalScrollBar();
        const QImage large = samplePicture(view->size() + QSize(700, 500));
        f.paste(large);
        QCOMPARE(f.form->LEAD2().size(), large.size());
        QCOMPARE(f.form->LEAD2().pictureRect(), QRect(QPoint(0, 0), large.size()));
        QCOMPARE(h->maximum(), large.width() - view->viewport()->width());
        QCOMPARE(v->maximum(), large.height() - view->viewport()->height());
        QCOMPARE(h->value(), 0);
        QCOMPARE(v->value(), 0);
        QCOMPARE(view->viewport()->grab().toImage().pixel(10, 10), large.pixel(10, 10));

        // Scrolled to the far corner, the viewport shows the picture's own last pixels.
        h->setValue(h->maximum());
        v->setValue(v->maximum());
        const QImage corner = view->viewport()->grab().toImage();
        QCOMPARE(corner.pixel(corner.width() - 1, corner.height() - 1),
            large.pixel(large.width() - 1, large.height() - 1));
        // The keys pressed on the display scroll it.
        QTest::keyClick(&f.form->LEAD2(), Qt::Key_Up);
        QVERIFY(v->value() < v->maximum());

        // A new paste starts at the top-left again; a small one fills no more than the area.
        f.paste(samplePicture(QSize(100, 80)));
        QCOMPARE(h->value(), 0);
        QCOMPARE(v->value(), 0);
        QCOMPARE(h->maximum(), 0);
        QCOMPARE(v->maximum(), 0);
        // The scroll bars go once the event loop runs, as it does between two clicks.
        QTRY_COMPARE_WITH_TIMEOUT(view->viewport()->size(), view->size(), 30000);
        QCOMPARE(f.form->LEAD2().size(), view->size());
        QCOMPARE(f.form->LEAD2().pictureRect(), QRect(0, 0, 100, 80));

        f.paste(large);
        f.form->Command1(0)->click(); // clear
        QCOMPARE(h->maximum(), 0);
        QCOMPARE(v->maximum(), 0);
    }

    void menuAndButtonsDoTheSame()
    {
        CaptureFixture f;
        const QImage a = samplePicture(QSize(50, 40));
        putOnClipboard(a);
        f.form->Clip_Past()->trigger();
        QCOMPARE(f.form->LEAD2().picture(), a);
        QCOMPARE(f.form->LEAD3().picture(), a);

        f.form->Clip_Clear()->trigger();
        QVERIFY(!f.form->LEAD2().hasPicture());
        QVERIFY(!f.form->LEAD3().hasPicture());

        f.form->Command1(1)->click();
        QCOMPARE(f.form->LEAD2().picture(), a);
        f.form->Command1(0)->click();
        QVERIFY(!f.form->LEAD2().hasPicture());
        QVERIFY(!f.form->LEAD3().hasPicture());
        // Clearing an empty display is allowed and asks nothing.
        f.form->Command1(0)->click();
        QCOMPARE(f.prompts.calls.size(), 0);
    }

    void rightButtonOpensTheMenu()
    {
        CaptureFixture f;
        QTest::mouseClick(&f.form->LEAD2(), Qt::LeftButton);
        QTest::mouseClick(&f.form->LEAD2(), Qt::MiddleButton);
        QCOMPARE(f.openedMenus, QStringList());
        QTest::mouseClick(&f.form->LEAD2(), Qt::RightButton);
        QCOMPARE(f.openedMenus, QStringList { QStringLiteral("menu_Clip") });

        QStringList items;
        for (QAction* a : f.form->findChild<QMenu*>(QStringLiteral("menu_Clip"))->actions())
            items << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(items,
            (QStringList { QStringLiteral("Clip_Past=貼り付け"),
                QStringLiteral("Clip_Clear=画面から画像を消去"),
                QStringLiteral("Clip_Save1=貼り付けた画像をBMP/JPEG/PNG形式で保存"),
                QStringLiteral("Clip_Save2=貼り付けた画像をGIF形式で保存") }));
    }
};

QTEST_MAIN(TstPasteArea)
#include "tst_pastearea.moc"
