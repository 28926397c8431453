#include "CaptureFixture.h"

#include <QAction>
#include <QBuffer>
#include <QMenu>
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
        f.form->Command1[1]->click();

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
            const QString file = f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/写真.png"), encoded(source, "PNG"));
            PictureDisplay display;
            QVERIFY(display.LoadPicture(file));
            display.CopyPictureToClipboard(PictureDisplay::ClipboardCopy::PictureAndFile);
        } else {
            auto* mime = new QMimeData;
            mime->setData(how, encoded(source, how == QLatin1String("image/png") ? "PNG" : "BMP"));
            QGuiApplication::clipboard()->setMimeData(mime);
        }
        f.form->Command1[1]->click();

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

    // The hidden copy loses its transparency to white; the visible display keeps the picture.
    void hiddenCopyIsPreparedWhite()
    {
        CaptureFixture f;
        const QImage source = samplePicture(QSize(80, 80), true);
        f.paste(source);
        QVERIFY(f.form->LEAD2().picture().hasAlphaChannel());
        QCOMPARE(qAlpha(f.form->LEAD2().picture().pixel(2, 2)), 0);
        const QImage copy = f.form->LEAD3().picture();
        QVERIFY(!copy.hasAlphaChannel());
        QCOMPARE(copy.pixel(2, 2), qRgb(255, 255, 255));
        QCOMPARE(copy.pixel(60, 60), f.form->LEAD2().picture().pixel(60, 60) | 0xff000000u);
        QCOMPARE(f.form->LEAD3().colourOption(), QColor(255, 255, 255));
        QVERIFY(f.form->LEAD3().colourOptionEnabled());
    }

    void menuAndButtonsDoTheSame()
    {
        CaptureFixture f;
        const QImage a = samplePicture(QSize(50, 40));
        putOnClipboard(a);
        f.form->Clip_Past->trigger();
        QCOMPARE(f.form->LEAD2().picture(), a);
        QCOMPARE(f.form->LEAD3().picture(), a);

        f.form->Clip_Clear->trigger();
        QVERIFY(!f.form->LEAD2().hasPicture());
        QVERIFY(!f.form->LEAD3().hasPicture());

        f.form->Command1[1]->click();
        QCOMPARE(f.form->LEAD2().picture(), a);
        f.form->Command1[0]->click();
        QVERIFY(!f.form->LEAD2().hasPicture());
        QVERIFY(!f.form->LEAD3().hasPicture());
        // Clearing an empty display is allowed and asks nothing.
        f.form->Command1[0]->click();
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
        for (QAction* a : f.form->menu_Clip->actions())
            items << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(items, (QStringList { QStringLiteral("Clip_Past=貼り付け"), QStringLiteral("Clip_Clear=画面から画像を消去"),
                                       QStringLiteral("Clip_Save1=貼り付けた画像をBMP/JPEG/PNG形式で保存"),
                                       QStringLiteral("Clip_Save2=貼り付けた画像をGIF形式で保存") }));
    }
};

QTEST_MAIN(TstPasteArea)
#include "tst_pastearea.moc"
