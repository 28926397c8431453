#include "ExifBuilder.h"
#include "Fakes.h"
#include "FileTestUtil.h"
#include "MainFormFixture.h"
#include "export/LedgerWorkbook.h"
#include "export/LibreOfficeSpreadsheet.h"
#include "export/PhotoLedger.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>

using namespace ztv;

namespace {

using test::withExifDate;
using test::pictures::jpeg;

bool haveUnzip()
{
    return !QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty();
}

// What unzip prints of the written workbook (a zip).
QByteArray unzip(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), args);
    p.waitForFinished(30000);
    return p.readAllStandardOutput();
}

QByteArray part(const QString& xlsx, const QString& name)
{
    return unzip({ QStringLiteral("-p"), xlsx, name });
}

// Every cell's text of sheet 1 by its reference ("C3"), shared strings resolved.
QHash<QString, QString> cells(const QString& xlsx)
{
    QStringList shared;
    const QString sst = QString::fromUtf8(part(xlsx, QStringLiteral("xl/sharedStrings.xml")));
    static const QRegularExpression si(QStringLiteral("<si><t[^>]*>(.*?)</t></si>"));
    for (auto m = si.globalMatch(sst); m.hasNext();)
        shared << m.next().captured(1);
    QHash<QString, QString> out;
    const QString sheet = QString::fromUtf8(part(xlsx, QStringLiteral("xl/worksheets/sheet1.xml")));
    static const QRegularExpression cell(QStringLiteral("<c r=\"([A-Z]+[0-9]+)\"([^>]*)><v>([^<]*)</v></c>"));
    for (auto m = cell.globalMatch(sheet); m.hasNext();) {
        const auto c = m.next();
        out[c.captured(1)] = c.captured(2).contains(QLatin1String("t=\"s\""))
            ? shared.value(c.captured(3).toInt())
            : c.captured(3);
    }
    return out;
}

// The rows the pictures are anchored to, in the drawing's order, and their columns.
QList<QPoint> anchors(const QString& xlsx)
{
    const QString drawing = QString::fromUtf8(part(xlsx, QStringLiteral("xl/drawings/drawing1.xml")));
    static const QRegularExpression from(QStringLiteral(
        "<xdr:from><xdr:col>([0-9]+)</xdr:col><xdr:colOff>[0-9]+</xdr:colOff><xdr:row>([0-9]+)</xdr:row>"));
    QList<QPoint> out;
    for (auto m = from.globalMatch(drawing); m.hasNext();) {
        const auto c = m.next();
        out << QPoint(c.captured(1).toInt(), c.captured(2).toInt());
    }
    return out;
}

// The embedded pictures in the drawing's order (image1, image2, …).
QList<QPair<QString, QImage>> media(const QString& xlsx)
{
    QStringList names;
    for (const QString& n :
        QString::fromUtf8(unzip({ QStringLiteral("-Z1"), xlsx })).split(u'\n', Qt::SkipEmptyParts))
        if (n.startsWith(QLatin1String("xl/media/")))
            names << n;
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        static const QRegularExpression number(QStringLiteral("([0-9]+)\\."));
        return number.match(a).captured(1).toInt() < number.match(b).captured(1).toInt();
    });
    QList<QPair<QString, QImage>> out;
    for (const QString& n : names)
        out.append({ QFileInfo(n).suffix(), QImage::fromData(part(xlsx, n)) });
    return out;
}

// Name, size and time of everything below a folder.
QStringList snapshot(const QString& folder)
{
    QStringList out;
    QDirIterator it(
        folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo i(it.next());
        out << i.filePath() + u' ' + QString::number(i.size()) + u' '
                + QString::number(i.lastModified().toMSecsSinceEpoch());
    }
    out.sort();
    return out;
}

bool makeHeic(const QString& png, const QString& heic)
{
    if (QStandardPaths::findExecutable(QStringLiteral("heif-enc")).isEmpty())
        return false;
    QProcess p;
    p.start(QStringLiteral("heif-enc"),
        { QStringLiteral("-q"), QStringLiteral("70"), QStringLiteral("-o"), heic, png });
    return p.waitForFinished(60000) && p.exitCode() == 0 && QFileInfo(heic).size() > 0;
}

int pdfPages(const QString& pdf)
{
    if (!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()) {
        QProcess p;
        p.start(QStringLiteral("pdfinfo"), { pdf });
        p.waitForFinished(30000);
        const auto m = QRegularExpression(QStringLiteral("Pages:\\s+([0-9]+)"))
                           .match(QString::fromUtf8(p.readAllStandardOutput()));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
    // LibreOffice writes each page object uncompressed.
    QFile f(pdf);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![s\\w])"));
    return int(QString::fromLatin1(f.readAll()).count(page));
}

struct Fixture {
    test::MainFormFixture f;
    QString folder; // the vault's box 現場/工事
    QString out; // the folder the ledgers are saved to (outside the storage root)
    QStringList asked; // each save question: proposed path, then "pdf" or "-"
    PhotoLedger::Target answer;
    bool cancelSave = false;

    Fixture()
    {
        f.spreadsheet.info
            = Spreadsheet::Info { QStringLiteral("7.4.7.2"), QStringLiteral("/opt/office/program"), true };
        f.load();
        f.form->show();
        folder = f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/現場/工事"));
        out = f.home.makeDir(QStringLiteral("out"));
        answer = { out + QStringLiteral("/台帳.xlsx"), false };
        ledger().setTargetAsker([this](QWidget*, const QString& proposed, bool pdfOffered) {
            asked << proposed << (pdfOffered ? QStringLiteral("pdf") : QStringLiteral("-"));
            return cancelSave ? std::nullopt : std::optional<PhotoLedger::Target>(answer);
        });
    }
    PhotoLedger& ledger() { return f.form->photoLedger(); }
    BrowsingArea& vault() { return f.form->area(Area::Vault); }
    void list()
    {
        f.form->SSTab1()->setCurrentIndex(2);
        vault().list(folder, BrowsingArea::ListHow::Open);
    }
    QString write(const QString& name, const QByteArray& bytes)
    {
        return f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/現場/工事/") + name, bytes);
    }
    // The title typed, then the command.
    void make(const QString& title, const char* command = "Ledger")
    {
        f.prompts.answerInput(title);
        f.form->action(command)->trigger();
    }
    QString lastMessage() const
    {
        const auto m = f.prompts.messages();
        return m.isEmpty() ? QString() : m.last().text;
    }
};

} // namespace

class TestLedger : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The whole listed folder, nothing chosen: blocks in page order, pictures and captions as
    // the files say, the page set up for A4 with a break after every third block.
    void wholeFolderInPageOrder()
    {
        if (!haveUnzip())
            QSKIP("unzip is missing (scripts/install-deps.sh test installs it)");
        Fixture x;
        x.write(
            QStringLiteral("a1.jpg"), withExifDate(jpeg({ 400, 300 }, Qt::red), 0, "2023:05:01 10:20:30"));
        // Stored as the camera held it (3200 x 2000, black left): upright it stands 1000 x 1600, black on
        // top.
        x.write(QStringLiteral("b2.jpg"),
            withExifDate(test::encodeImage(test::halves({ 3200, 2000 }), "jpg"), 6, "2021:12:24 18:05:00"));
        QImage clear(300, 200, QImage::Format_ARGB32);
        clear.fill(QColor(0, 128, 0, 100));
        x.write(QStringLiteral("c3.png"), test::encodeImage(clear, "png"));
        x.write(QStringLiteral("d4.jpg"), jpeg({ 100, 100 }, Qt::gray));
        // heif-enc carries the JPEG's EXIF block over.
        const QString heicSource = x.out + QStringLiteral("/e5.jpg");
        QVERIFY(
            test::writeRaw(heicSource, withExifDate(jpeg({ 640, 480 }, Qt::blue), 0, "2019:04:05 06:07:08")));
        const bool heic = makeHeic(heicSource, x.folder + QStringLiteral("/e5.heic"));
        QFile::remove(heicSource);
        const QString noExif = x.write(QStringLiteral("f6.jpg"), jpeg({ 200, 200 }, Qt::yellow));
        {
            QFile f(noExif);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(
                QDateTime(QDate(2022, 1, 2), QTime(3, 4, 5)), QFileDevice::FileModificationTime));
        }
        x.write(
            QStringLiteral("g7.jpg"), withExifDate(jpeg({ 300, 300 }, Qt::cyan), 0, "2020:02:03 04:05:06"));
        x.write(QStringLiteral("h8.jpg"),
            withExifDate(jpeg({ 320, 240 }, Qt::magenta), 1, "2024:07:08 09:10:11"));
        x.list();
        QVERIFY(!x.vault().TabSelection());
        // Damaged after the listing: listed, but no picture can be read from it now.
        x.write(QStringLiteral("d4.jpg"), test::pictures::corrupt());
        const QStringList listed = x.vault().HiddenList();
        QCOMPARE(listed.size(), heic ? 8 : 7);
        const QStringList rootBefore = snapshot(x.f.home.storageRoot());

        x.answer.pdf = true;
        x.make(QStringLiteral("A&B 工事写真"));

        const QString xlsx = x.answer.path;
        QVERIFY(QFileInfo(xlsx).isFile());
        // Made as any new file is, not owner-only as its temporary name would be.
        {
            QFile reference(x.f.home.home() + QStringLiteral("/reference"));
            QVERIFY(reference.open(QIODevice::WriteOnly));
            QCOMPARE(QFileInfo(xlsx).permissions(), reference.permissions());
        }
        // The title box offers the folder's name; the save question the documents folder.
        QCOMPARE(x.f.prompts.calls.first().defaultText, QStringLiteral("工事"));
        QCOMPARE(x.asked.size(), 2);
        QVERIFY(x.asked[0].endsWith(PhotoLedger::proposedName(QStringLiteral("工事"), QDate::currentDate())));
        QCOMPARE(x.asked[1], QStringLiteral("pdf"));
        QCOMPARE(x.f.spreadsheet.opened, QStringList { xlsx });
        QCOMPARE(x.f.spreadsheet.pdfs.size(), 1);
        QCOMPARE(x.f.spreadsheet.pdfs[0].pdf, x.out + QStringLiteral("/台帳.pdf"));
        // The unreadable file is named and left out; nothing else is said since Calc shows it.
        QCOMPARE(x.f.prompts.messages().size(), 1);
        QCOMPARE(
            x.lastMessage(), QStringLiteral("次の画像は読み込めないため、台帳に入れていません：\rd4.jpg"));
        QCOMPARE(snapshot(x.f.home.storageRoot()), rootBefore);
        QCOMPARE(QDir(x.out).entryList(QDir::Files | QDir::Hidden),
            (QStringList { QStringLiteral("台帳.pdf"), QStringLiteral("台帳.xlsx") }));

        QStringList order;
        for (const QString& p : listed)
            if (!p.endsWith(QLatin1String("d4.jpg")))
                order << QFileInfo(p).fileName();
        const int blocks = int(order.size());
        const QHash<QString, QString> c = cells(xlsx);
        for (int b = 0; b < blocks; ++b) {
            const int r = b * LedgerWorkbook::RowsPerBlock + 1;
            auto at = [&](char col, int row) {
                return c.value(QString(QLatin1Char(col)) + QString::number(r + row));
            };
            QCOMPARE(at('B', 0), QStringLiteral("No."));
            QCOMPARE(at('C', 0), QString::number(b + 1));
            QCOMPARE(at('B', 1), QStringLiteral("撮影日"));
            QCOMPARE(at('C', 2), order[b]);
            QCOMPARE(at('B', 3), QStringLiteral("整理箱"));
            QCOMPARE(at('C', 3), QStringLiteral("現場/工事"));
            QCOMPARE(at('B', 4), QStringLiteral("説明"));
        }
        auto dateOf = [&](const QString& name) {
            return c.value(QStringLiteral("C%1").arg(order.indexOf(name) * LedgerWorkbook::RowsPerBlock + 2));
        };
        QCOMPARE(dateOf(QStringLiteral("a1.jpg")), QStringLiteral("2023/05/01 10:20"));
        QCOMPARE(dateOf(QStringLiteral("b2.jpg")), QStringLiteral("2021/12/24 18:05"));
        QCOMPARE(dateOf(QStringLiteral("f6.jpg")), QStringLiteral("2022/01/02 03:04"));

        // One picture per block, anchored in column A within the block's caption rows (its top
        // lies lower for a wide picture, centred in the block).
        const QList<QPoint> anchored = anchors(xlsx);
        QCOMPARE(anchored.size(), blocks);
        for (int b = 0; b < blocks; ++b) {
            QCOMPARE(anchored[b].x(), 0);
            QVERIFY(anchored[b].y() >= b * LedgerWorkbook::RowsPerBlock);
            QVERIFY(anchored[b].y() < b * LedgerWorkbook::RowsPerBlock + 5);
        }
        const auto pictures = media(xlsx);
        QCOMPARE(pictures.size(), blocks);
        for (int b = 0; b < blocks; ++b) {
            QVERIFY(!pictures[b].second.isNull());
            QVERIFY(qMax(pictures[b].second.width(), pictures[b].second.height()) <= LedgerMaxSide);
            QCOMPARE(pictures[b].first, QString(order[b] == QLatin1String("c3.png") ? "png" : "jpeg"));
        }
        const QImage upright = pictures[order.indexOf(QStringLiteral("b2.jpg"))].second;
        QCOMPARE(upright.size(), QSize(1000, 1600));
        QVERIFY(qGray(upright.pixel(500, 100)) < 60);
        QVERIFY(qGray(upright.pixel(500, 1500)) > 190);
        QVERIFY(pictures[order.indexOf(QStringLiteral("c3.png"))].second.hasAlphaChannel());
        if (heic) {
            QCOMPARE(pictures[order.indexOf(QStringLiteral("e5.heic"))].second.size(), QSize(640, 480));
            QCOMPARE(dateOf(QStringLiteral("e5.heic")), QStringLiteral("2019/04/05 06:07"));
        } else
            qWarning("heif-enc is missing: the HEIC picture was left out of this run");

        const QString sheet = QString::fromUtf8(part(xlsx, QStringLiteral("xl/worksheets/sheet1.xml")));
        QVERIFY(sheet.contains(QLatin1String("paperSize=\"9\"")));
        QVERIFY(sheet.contains(QLatin1String("orientation=\"portrait\"")));
        QVERIFY(!sheet.contains(QLatin1String("fitToPage")));
        QVERIFY(sheet.contains(QStringLiteral("<oddHeader>&amp;C&amp;14A&amp;&amp;B 工事写真</oddHeader>")));
        QVERIFY(sheet.contains(QLatin1String("<oddFooter>&amp;C&amp;P / &amp;N</oddFooter>")));
        static const QRegularExpression brk(QStringLiteral("<brk id=\"([0-9]+)\""));
        QList<int> breaks;
        for (auto m = brk.globalMatch(sheet); m.hasNext();)
            breaks << m.next().captured(1).toInt();
        QList<int> expected;
        for (int b = 3; b < blocks; b += 3)
            expected << b * LedgerWorkbook::RowsPerBlock;
        QCOMPARE(breaks, expected);
        const QString workbook = QString::fromUtf8(part(xlsx, QStringLiteral("xl/workbook.xml")));
        QVERIFY(workbook.contains(
            QStringLiteral("_xlnm.Print_Area\" localSheetId=\"0\">Sheet1!$A$1:$C$%1<").arg(blocks * 6 - 1)));
    }

    // Chosen pictures only, by date taken; without an office no PDF is offered and the closing
    // message names the file.
    void chosenByDateWithoutOffice()
    {
        if (!haveUnzip())
            QSKIP("unzip is missing (scripts/install-deps.sh test installs it)");
        Fixture x;
        x.f.spreadsheet.info.reset();
        const char* dates[]
            = { "2024:03:01 08:00:00", "2019:06:01 12:00:00", "2022:11:30 23:59:00", "2020:01:01 00:00:00" };
        for (int i = 0; i < 4; ++i)
            x.write(QStringLiteral("p%1.jpg").arg(i),
                withExifDate(jpeg({ 64, 48 }, QColor::fromHsv(i * 60, 200, 200)), 0, dates[i]));
        x.list();
        x.vault().LEADImgList1_Click(3);
        x.vault().LEADImgList1_ClickWith(0, Qt::ControlModifier);
        x.vault().LEADImgList1_ClickWith(2, Qt::ControlModifier);
        QCOMPARE(x.vault().chosenCount(), 3);
        x.make(QStringLiteral("点検"), "LedgerByDate");

        QCOMPARE(x.asked.value(1), QStringLiteral("-"));
        QVERIFY(x.f.spreadsheet.opened.isEmpty());
        QVERIFY(x.f.spreadsheet.pdfs.isEmpty());
        QVERIFY(x.lastMessage().contains(x.answer.path));
        const QHash<QString, QString> c = cells(x.answer.path);
        QStringList got;
        for (int b = 0; c.contains(QStringLiteral("C%1").arg(b * 6 + 3)); ++b)
            got << c.value(QStringLiteral("C%1").arg(b * 6 + 3));
        QCOMPARE(got,
            (QStringList { QStringLiteral("p3.jpg"), QStringLiteral("p2.jpg"), QStringLiteral("p0.jpg") }));
        QCOMPARE(c.value(QStringLiteral("C2")), QStringLiteral("2020/01/01 00:00"));
    }

    // Esc between two pictures stops the run: a file already under the chosen name stays as it
    // was and no partial file is left beside it. Cancel at either question does nothing.
    void escAndCancelWriteNothing()
    {
        Fixture x;
        for (int i = 0; i < 6; ++i)
            x.write(QStringLiteral("q%1.jpg").arg(i), jpeg({ 800, 600 }, QColor::fromHsv(i * 50, 200, 200)));
        x.list();
        QVERIFY(test::writeRaw(x.answer.path, "the ledger of last week"));

        int steps = 0;
        x.ledger().setStepHook([&](int i) {
            steps = i + 1;
            if (i == 1)
                QCoreApplication::postEvent(
                    x.f.form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        });
        x.make(QStringLiteral("表題"));
        QCOMPARE(steps, 2);
        QVERIFY(x.lastMessage().contains(QStringLiteral("Esc")));
        QCOMPARE(test::readAll(x.answer.path), QByteArray("the ledger of last week"));
        QCOMPARE(
            QDir(x.out).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("台帳.xlsx") });
        QVERIFY(x.f.spreadsheet.opened.isEmpty());
        x.ledger().setStepHook(nullptr);

        // Cancel (or nothing typed) at the title: no save question.
        x.asked.clear();
        x.f.prompts.clear();
        x.make(QString());
        QVERIFY(x.asked.isEmpty());
        // Cancel at the save question: no message, no file.
        x.cancelSave = true;
        x.make(QStringLiteral("表題"));
        QCOMPARE(x.asked.size(), 2);
        QVERIFY(x.f.prompts.messages().isEmpty());
        QCOMPARE(
            QDir(x.out).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("台帳.xlsx") });
        // Esc while the PDF is made stops the office; the workbook is kept and opened.
        x.cancelSave = false;
        x.answer = { x.out + QStringLiteral("/台帳2.xlsx"), true };
        x.f.spreadsheet.pdfUntilStopped = true;
        MainForm* form = x.f.form.get();
        x.f.spreadsheet.whilePdf = [form] {
            QCoreApplication::postEvent(
                form, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        };
        x.f.prompts.clear();
        x.make(QStringLiteral("表題"));
        QCOMPARE(x.f.spreadsheet.opened, QStringList { x.answer.path });
        QCOMPARE(x.lastMessage(), QStringLiteral("EscキーでPDFの作成を中止しました"));
        QCOMPARE(QDir(x.out).entryList(QDir::Files | QDir::Hidden),
            (QStringList { QStringLiteral("台帳.xlsx"), QStringLiteral("台帳2.xlsx") }));
        x.f.prompts.clear();
        // A place inside the storage root is refused.
        x.cancelSave = false;
        x.answer.path = x.folder + QStringLiteral("/台帳.xlsx");
        x.make(QStringLiteral("表題"));
        QVERIFY(!QFileInfo::exists(x.answer.path));
        QCOMPARE(x.f.prompts.messages().size(), 1);
        // A name the dialog did not show (".xlsx" added) replaces a file only when the user
        // says so: Cancel leaves it as it was.
        const QString added = x.out + QStringLiteral("/台帳.txt.xlsx");
        QVERIFY(test::writeRaw(added, "kept"));
        x.answer = { x.out + QStringLiteral("/台帳.txt"), false };
        x.f.prompts.clear();
        x.f.prompts.answerMessage(PromptAnswer::Cancel);
        x.make(QStringLiteral("表題"));
        QCOMPARE(x.f.prompts.messages().size(), 1);
        QVERIFY(x.lastMessage().contains(QStringLiteral("台帳.txt.xlsx")));
        QCOMPARE(test::readAll(added), QByteArray("kept"));
    }

    // The real office turns a ledger into a PDF of one page per three blocks.
    void pdfThroughTheOffice()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
            QSKIP("LibreOffice is missing");
        QTemporaryDir dir;
        dir.setAutoRemove(qEnvironmentVariableIsEmpty("ZTV_KEEP"));
        const QString xlsx = dir.filePath(QStringLiteral("台帳.xlsx"));
        LedgerWorkbook book(xlsx, QStringLiteral("PDF"));
        const QString source = dir.filePath(QStringLiteral("p.jpg"));
        QVERIFY(test::writeRaw(source, jpeg({ 1200, 900 }, Qt::darkGreen)));
        const LedgerPicture picture = makeLedgerPicture(source);
        QVERIFY(!picture.data.isEmpty());
        for (int b = 0; b < 7; ++b)
            QVERIFY(book.add({ b + 1, QStringLiteral("2024/01/01 00:00"), QStringLiteral("p.jpg"),
                QStringLiteral("箱"), picture }));
        QVERIFY(book.close());
        LibreOfficeSpreadsheet office;
        const QString pdf = dir.filePath(QStringLiteral("台帳.pdf"));
        QVERIFY(office.convertToPdf(xlsx, pdf, nullptr));
        QCOMPARE(pdfPages(pdf), 3);
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 3);
    }
};

QTEST_MAIN(TestLedger)
#include "tst_ledger.moc"
