// Prints how long the spreadsheet check and one export take on this machine:
//   bench_calc [PICTURE]
// The check is what start-up pays; the export runs headless with a private profile, first with
// a fresh office and then through the running one, and ends the office afterwards.

#include "export/LibreOfficeSpreadsheet.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

using namespace ztv;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../src");
    const QString helper = dir + QStringLiteral("/zentovi-calc");
    QTemporaryDir work;

    LibreOfficeSpreadsheet check({ QString(), helper, {}, 2000, 60000 });
    const int runs = 10;
    QElapsedTimer t;
    t.start();
    std::optional<Spreadsheet::Info> info;
    for (int i = 0; i < runs; ++i)
        info = check.applicationInfo();
    std::printf("check (soffice --version), mean of %d: %.1f ms -> %s %s\n", runs, double(t.elapsed()) / runs,
        info ? qPrintable(info->version) : "no application", info ? qPrintable(info->installPath) : "");
    if (!info)
        return 0;

    QString picture = argc > 1 ? QString::fromLocal8Bit(argv[1]) : work.path() + QStringLiteral("/p.png");
    if (argc <= 1) {
        QImage image(1600, 1200, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(picture);
    }
    const QStringList options = { QStringLiteral("--headless"), QStringLiteral("--profile"),
        work.path() + QStringLiteral("/profile") };
    LibreOfficeSpreadsheet calc({ QString(), helper, options, 2000, 60000 });
    for (const char* label : { "export, fresh office", "export, running office" }) {
        const QString book = work.path() + QStringLiteral("/temp-%1.xls").arg(QLatin1String(label).size());
        QFile::copy(dir + QStringLiteral("/Pastetemp.xls"), book);
        int code = -2;
        QObject::connect(
            &calc, &LibreOfficeSpreadsheet::exportFinished, &app, [&code](int c) { code = c; },
            Qt::SingleShotConnection);
        t.restart();
        calc.exportToWorkbook(book, picture, QStringLiteral("Macro1"));
        const qint64 returned = t.nsecsElapsed() / 1000;
        calc.waitForExports(60000);
        std::printf("%s: call returned after %lld us, helper done after %lld ms (exit %d)\n", label,
            (long long)returned, (long long)t.elapsed(), code);
    }
    QProcess::execute(helper,
        options
            + QStringList {
                QStringLiteral("--inspect"), QStringLiteral("--terminate"), QStringLiteral("/none") });
    return 0;
}
