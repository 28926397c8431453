// The cost of the vault's content index: building it for a vault of many pictures (at the
// program's low priority and at normal priority, then read back from its cache file), and the
// time to the first page of a large stock-yard listing with and without the index building
// beside it. Prints figures with the load average; never a test.
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/ContentIndex.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace ztv;

namespace {

QString load()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2)
                                       : QStringLiteral("?");
}

// Hard links to the sources, spread over boxes of perBox files.
bool makeLinks(const QStringList& sources, const QString& folder, int count, int perBox)
{
    for (int i = 0; i < count; ++i) {
        QString dir = folder;
        if (perBox > 0)
            dir += QStringLiteral("/box%1").arg(i / perBox, 3, 10, QLatin1Char('0'));
        QDir().mkpath(dir);
        const QString to = dir + QStringLiteral("/IMG_%1.jpg").arg(i, 6, 10, QLatin1Char('0'));
        if (::link(
                QFile::encodeName(sources[i % sources.size()]).constData(), QFile::encodeName(to).constData())
            != 0)
            return false;
    }
    return true;
}

// Waits for the index to finish what it was given, keeping the event loop turning.
double waitIdle(const ContentIndex& index, const QElapsedTimer& clock)
{
    while (!index.idle()) {
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return clock.nsecsElapsed() / 1e9;
}

double buildOnce(const QString& vault, const QString& cacheFile, bool low, int* files)
{
    ContentIndex index(vault, cacheFile);
    index.setLowPriority(low);
    QElapsedTimer clock;
    clock.start();
    index.start();
    const double s = waitIdle(index, clock);
    *files = index.fileCount();
    return s;
}

struct Page {
    double first25 = -1;
    bool indexBusyAt25 = false;
};

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

Page firstPage(
    ThumbnailBrowser& browser, ThumbnailList& list, const QString& folder, const ContentIndex* index)
{
    Page p;
    list.ClearThumbnails();
    int made = 0;
    QElapsedTimer clock;
    QObject context;
    QObject::connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage& image, const QString& path, int status) {
            if (status == 0) {
                list.AddThumbnail(image, path.section(QLatin1Char('/'), -1), made);
                list.ScrollToThumbnail(list.ThumbnailCount() - 1);
                if (++made == 25) {
                    list.commitAdded();
                    p.first25 = clock.nsecsElapsed() / 1e9;
                    p.indexBusyAt25 = index && !index->idle();
                }
            }
            // The first page is what is measured: the run stops there, as an Esc would.
            browser.setContinueBrowsing(made < 25);
            QCoreApplication::processEvents();
        });
    clock.start();
    browser.BrowseFolder(folder);
    list.commitAdded();
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int vaultFiles = 10000, pageFiles = 3000, runs = 3, pageRuns = 15;
    QString corpus;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--vault") && i + 1 < args.size())
            vaultFiles = args[++i].toInt();
        else if (args[i] == QLatin1String("--listing") && i + 1 < args.size())
            pageFiles = args[++i].toInt();
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == QLatin1String("--page-runs") && i + 1 < args.size())
            pageRuns = args[++i].toInt();
        else
            corpus = args[i];
    }
    QStringList sources;
    for (const QString& name : QDir(corpus).entryList({ QStringLiteral("camera-*.jpg") }, QDir::Files))
        sources << corpus + u'/' + name;
    if (sources.isEmpty()) {
        std::fprintf(stderr,
            "usage: bench_vaultindex [--vault N] [--listing N] [--runs N] [--page-runs N] CORPUS\n"
            "  CORPUS: a folder of camera-*.jpg (bench/make-corpus.sh), on the same file system as "
            "the temporary folder\n");
        return 2;
    }
    QTemporaryDir work;
    const QString vault = work.path() + QStringLiteral("/保管庫");
    const QString stock = work.path() + QStringLiteral("/ストックヤード");
    if (!makeLinks(sources, vault, vaultFiles, 500) || !makeLinks(sources, stock, pageFiles, 0)) {
        std::fprintf(stderr, "cannot make hard links in %s\n", qPrintable(work.path()));
        return 1;
    }
    std::printf("vault: %d hard links to %d camera JPEGs in %d boxes; listing: %d pictures\n", vaultFiles,
        int(sources.size()), (vaultFiles + 499) / 500, pageFiles);

    // The build, from nothing, as the program runs it and at normal priority; then a start
    // that reads the kept index back and finds the vault unchanged.
    const QString cacheFile = work.path() + QStringLiteral("/cache/vault-index");
    for (int r = 1; r <= runs; ++r) {
        int files = 0;
        const QString before = load();
        const double low = buildOnce(vault, QString(), true, &files);
        const QString mid = load();
        const double normal = buildOnce(vault, QString(), false, &files);
        QFile::remove(cacheFile);
        buildOnce(vault, cacheFile, false, &files);
        const double kept = buildOnce(vault, cacheFile, false, &files);
        std::printf("build run %d: %d files, low priority %.2f s (load %s), normal priority %.2f s "
                    "(load %s), kept index read back %.3f s\n",
            r, files, low, qPrintable(before), normal, qPrintable(mid), kept);
    }

    // The first page (25 thumbnails) of the listing, cold thumbnail cache, without and with
    // the index building the whole vault from nothing beside it; by turns.
    ThumbnailBrowser browser;
    browser.setCacheFolder(QString());
    ThumbnailList list;
    list.resize(576, 523);
    list.show();
    firstPage(browser, list, stock, nullptr); // page cache warm for both
    QList<double> withouts, withs;
    for (int r = 1; r <= pageRuns; ++r) {
        const QString l1 = load();
        const Page without = firstPage(browser, list, stock, nullptr);
        auto index = std::make_unique<ContentIndex>(vault, QString());
        index->start();
        const Page with = firstPage(browser, list, stock, index.get());
        index.reset();
        withouts << without.first25;
        withs << with.first25;
        std::printf("first page run %d (load %s): without index %.3f s, with index building %.3f s "
                    "(still building at the first page: %s)\n",
            r, qPrintable(l1), without.first25, with.first25, with.indexBusyAt25 ? "yes" : "no");
    }
    std::printf("first page, median of %d: without index %.3f s, with index building %.3f s (load %s)\n",
        pageRuns, median(withouts), median(withs), qPrintable(load()));
    return 0;
}
