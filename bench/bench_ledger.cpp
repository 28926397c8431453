// Prints how long the photo ledger of the corpus's camera JPEGs takes and how large it is:
//   bench_ledger [--no-pdf] [--pictures N] [--keep DIR] CORPUS
// The first N (default 100) camera-*.jpg of the corpus (bench/make-corpus.sh) go through the
// ledger's own steps: the dates read, the pictures decoded on every core a few ahead and
// written one by one, the file closed. Then, unless --no-pdf, LibreOffice converts it to PDF
// headless with a profile of its own (a fresh office each time, as the program runs it).
// --keep writes both into DIR and leaves them there, to be looked at.

#include "export/LedgerWorkbook.h"
#include "export/LibreOfficeSpreadsheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <cstdio>
#include <sys/resource.h>

using namespace ztv;

namespace {

// Processor seconds this process has used (every thread): on a machine shared with other work
// the wall time says more about the others than about the ledger.
double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    bool pdf = true;
    int count = 100;
    QString corpus;
    QString keep;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--no-pdf"))
            pdf = false;
        else if (args[i] == QLatin1String("--pictures") && i + 1 < args.size())
            count = args[++i].toInt();
        else if (args[i] == QLatin1String("--keep") && i + 1 < args.size())
            keep = args[++i];
        else
            corpus = args[i];
    }
    if (corpus.isEmpty() || count <= 0) {
        std::fprintf(stderr, "usage: bench_ledger [--no-pdf] [--pictures N] [--keep DIR] CORPUS\n");
        return 2;
    }
    QStringList files;
    for (const QString& name :
        QDir(corpus).entryList({ QStringLiteral("camera-*.jpg") }, QDir::Files, QDir::Name))
        if (files.size() < count)
            files << QDir(corpus).filePath(name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no camera-*.jpg in %s (bench/make-corpus.sh makes them)\n", qPrintable(corpus));
        return 1;
    }
    // Every file read once first, as the other benchmarks do: a warm page cache.
    qint64 sourceBytes = 0;
    for (const QString& f : files) {
        QFile file(f);
        if (file.open(QIODevice::ReadOnly))
            sourceBytes += file.readAll().size();
    }

    QTemporaryDir work;
    const QDir into(keep.isEmpty() ? work.path() : keep);
    const QString xlsx = into.filePath(QStringLiteral("写真台帳.xlsx"));
    QElapsedTimer t;
    const double cpuBefore = cpuSeconds();
    t.start();
    const QList<LedgerFacts> facts = QtConcurrent::blockingMapped<QList<LedgerFacts>>(files, readLedgerFacts);
    const double factsSeconds = t.nsecsElapsed() / 1e9;
    LedgerWorkbook book(xlsx, QStringLiteral("ベンチマーク"));
    LedgerDecoder decoder(files);
    int unreadable = 0;
    for (int i = 0; i < files.size(); ++i) {
        const LedgerPicture picture = decoder.picture(i).result();
        if (!book.add({ i + 1, ledgerDateText(facts[i].taken), QFileInfo(files[i]).fileName(),
                QStringLiteral("現場"), picture }))
            ++unreadable;
    }
    const double addSeconds = t.nsecsElapsed() / 1e9;
    if (!book.close()) {
        std::fprintf(stderr, "the workbook could not be written\n");
        return 1;
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const double mib = QFileInfo(xlsx).size() / 1048576.0;
    std::printf("pictures %lld (%.0f MiB of JPEG), unreadable %d\n", (long long)files.size(),
        sourceBytes / 1048576.0, unreadable);
    std::printf(
        "workbook: %.2f s (dates %.2f s, pictures %.2f s, writing %.2f s), %.1f MiB; %.2f processor s, "
        "%d threads decoding\n",
        seconds, factsSeconds, addSeconds - factsSeconds, seconds - addSeconds, mib, cpu,
        std::max(2, QThread::idealThreadCount()));
    QString summary = QStringLiteral("summary: pictures=%1 seconds=%2 cpu_seconds=%3 xlsx_mib=%4")
                          .arg(files.size())
                          .arg(seconds, 0, 'f', 2)
                          .arg(cpu, 0, 'f', 2)
                          .arg(mib, 0, 'f', 1);
    if (pdf) {
        LibreOfficeSpreadsheet office;
        const QString out = into.filePath(QStringLiteral("写真台帳.pdf"));
        t.restart();
        const bool made = office.convertToPdf(xlsx, out, nullptr);
        const double pdfSeconds = t.nsecsElapsed() / 1e9;
        if (made) {
            QFile f(out);
            f.open(QIODevice::ReadOnly);
            static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![s\\w])"));
            const int pages = int(QString::fromLatin1(f.readAll()).count(page));
            const double pdfMib = QFileInfo(out).size() / 1048576.0;
            std::printf("PDF: %.2f s, %.1f MiB, %d pages\n", pdfSeconds, pdfMib, pages);
            summary += QStringLiteral(" pdf_seconds=%1 pdf_mib=%2 pdf_pages=%3")
                           .arg(pdfSeconds, 0, 'f', 2)
                           .arg(pdfMib, 0, 'f', 1)
                           .arg(pages);
        } else {
            std::printf("PDF: not made (no LibreOffice?)\n");
        }
    }
    std::printf("%s\n", qPrintable(summary));
    return 0;
}
