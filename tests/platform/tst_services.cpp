#include "platform/QtPrompts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTest>
#include <QTextLayout>
#include <QTranslator>

using namespace ztv;

class TestServices : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Glyph 0 is the font's "missing" box: every character of the interface must find a
    // real glyph in some installed font, through the font fallback the widgets use.
    void japaneseTextHasGlyphs_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("title") << u"ゼントヴィVer1.0"_qs;
        QTest::newRow("kanji") << u"保管庫へ移動　整理箱"_qs;
        QTest::newRow("half-width katakana") << u"ﾌｧｲﾙ保存時のｴﾗｰ"_qs;
        QTest::newRow("punctuation") << u"「移動」ボタンをクリックしてください。（）？"_qs;
        QTest::newRow("file errors") << u"書き込みに失敗しました（ディスクがいっぱいです）"_qs;
    }
    void japaneseTextHasGlyphs()
    {
        QFETCH(QString, text);
        QTextLayout layout(text, QApplication::font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        int glyphs = 0;
        for (const QGlyphRun& run : layout.glyphRuns()) {
            const QList<quint32> indexes = run.glyphIndexes();
            for (quint32 g : indexes)
                QVERIFY2(g != 0, qPrintable(run.rawFont().familyName() + u" lacks a glyph in "_qs + text));
            glyphs += int(indexes.size());
        }
        QCOMPARE(glyphs, int(text.size()));
    }

    // Qt's own Japanese translation gives the standard buttons their Japanese captions.
    void standardButtonsReadJapanese()
    {
        QTranslator qt;
        QVERIFY(qt.load(QLocale(QLocale::Japanese), u"qtbase"_qs, u"_"_qs,
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
        QCoreApplication::installTranslator(&qt);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), u"キャンセル"_qs);
        QCoreApplication::removeTranslator(&qt);
    }

    void lineBreaksShowAsBreaks()
    {
        QCOMPARE(QtPrompts::displayText(u"削除します。\r　よろしいですか？"_qs),
            u"削除します。\n　よろしいですか？"_qs);
        QCOMPARE(QtPrompts::displayText(u"a\r\nb\rc\nd"_qs), u"a\nb\nc\nd"_qs);
    }
};

QTEST_MAIN(TestServices)
#include "tst_services.moc"
