// Runs the program's own BrowseFolder on a folder, offscreen, the way the main window does
// (each thumbnail handed to a shown thumbnail list, one event pass per file), and prints what
// it cost; --pages also turns pages of the listed folder and times each until it is shown.
#include "imaging/FolderListing.h"
#include "imaging/JpegThumbnailer.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailEngine.h"
#include "imaging/ThumbnailList.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using ztv::ThumbnailBrowser;
using ztv::ThumbnailList;

namespace {

// The calling thread's time on a core and its time waiting for one, in ns (the kernel's
// schedstat; zeros where it is not offered).
std::pair<qint64, qint64> threadSchedule()
{
    static thread_local QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stat.isOpen() && !stat.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return { 0, 0 };
    char text[96] = {};
    const qint64 n = ::pread(stat.handle(), text, sizeof text - 1, 0);
    if (n <= 0)
        return { 0, 0 };
    const QList<QByteArray> fields = QByteArray(text, int(n)).split(' ');
    return { fields.value(0).toLongLong(), fields.value(1).toLongLong() };
}

struct Figures {
    int files = 0;
    int made = 0;
    double seconds = 0;
    double first25 = -1;
    double maxPauseMs = 0;
    double maxPauseAt = 0; // seconds into the browse when the longest pause ended
    // Of the longest pause, the time the window's thread ran and the time it was ready to run
    // but waited for a core; the rest it slept (a lock, a disk call).
    double maxPauseCpuMs = 0;
    double maxPauseQueuedMs = 0;
    double stopMs = -1; // from the stop asked to the run ended, when one was asked
};

// hidden gets every path delivered, as a browsing tab's file list does. With stopAfterMs, a
// stop is asked then, as Esc asks it in the window.
Figures browseOnce(ThumbnailBrowser& browser, ThumbnailList& list, const QString& folder, QStringList& hidden,
    int stopAfterMs = -1)
{
    Figures f;
    list.ClearThumbnails();
    hidden = QStringList();
    QElapsedTimer clock;
    QElapsedTimer sincePass;
    // A zero timer fires on every event pass; the longest gap between two is the longest
    // time the window could not repaint or see Esc.
    QTimer pass;
    pass.setInterval(0);
    std::pair<qint64, qint64> scheduleAtPass = threadSchedule();
    QObject::connect(&pass, &QTimer::timeout, [&] {
        const double pause = sincePass.nsecsElapsed() / 1e6;
        const std::pair<qint64, qint64> now = threadSchedule();
        if (pause > f.maxPauseMs) {
            f.maxPauseMs = pause;
            f.maxPauseAt = clock.nsecsElapsed() / 1e9;
            f.maxPauseCpuMs = (now.first - scheduleAtPass.first) / 1e6;
            f.maxPauseQueuedMs = (now.second - scheduleAtPass.second) / 1e6;
        }
        scheduleAtPass = now;
        sincePass.restart();
    });
    QObject context;
    QObject::connect(&browser, &ThumbnailBrowser::BrowseStarted, &context,
        [&](int files) { hidden.reserve(hidden.size() + files); });
    QObject::connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage& image, const QString& path, int status) {
            ++f.files;
            if (status == 0) {
                hidden.append(path);
                list.AddThumbnail(image, path.section(QLatin1Char('/'), -1), f.made);
                list.ScrollToThumbnail(list.ThumbnailCount() - 1);
                if (++f.made == 25)
                    f.first25 = clock.nsecsElapsed() / 1e9;
            }
            browser.setContinueBrowsing(true);
            QCoreApplication::processEvents();
        });
    // The stop is due at stopAfterMs whether or not an event pass sees it then: the time until
    // the run ends is what a user pressing Esc waits.
    browser.setCancelCheck([&] { return stopAfterMs >= 0 && clock.elapsed() >= stopAfterMs; });
    pass.start();
    clock.start();
    sincePass.start();
    const int result = browser.BrowseFolder(folder);
    if (stopAfterMs >= 0 && clock.elapsed() >= stopAfterMs)
        f.stopMs = clock.nsecsElapsed() / 1e6 - stopAfterMs;
    browser.setCancelCheck({});
    list.commitAdded();
    f.seconds = clock.nsecsElapsed() / 1e9;
    f.maxPauseMs = std::max(f.maxPauseMs, sincePass.nsecsElapsed() / 1e6);
    pass.stop();
    if (result != 0 && f.stopMs < 0)
        std::fprintf(stderr, "BrowseFolder gave %d\n", result);
    return f;
}

// The kinds of file whose costs differ most, for the per-kind figures.
enum Kind { ExifJpeg, OtherJpeg, Png, Gif, Other, Unreadable, KindCount };
const char* const kindNames[KindCount] = { "jpeg_exif", "jpeg", "png", "gif", "other", "unreadable" };
const char* const kindTitles[KindCount]
    = { "JPEG, EXIF thumbnail used", "other JPEG", "PNG", "GIF", "other", "unreadable" };

struct KindFigures {
    int count[KindCount] = {};
    double seconds[KindCount] = {};
    double msPerFile(int k) const { return count[k] ? 1000.0 * seconds[k] / count[k] : 0.0; }
};

// Every file once more, one after another on this thread, through the same engine, timed and
// sorted by kind (JPEGs by whether their EXIF thumbnail served).
KindFigures costByKind(const QStringList& files, QSize box)
{
    KindFigures k;
    for (const QString& path : files) {
        QElapsedTimer clock;
        clock.start();
        int status = 0;
        const int fd = ztv::openRegularFile(path, &status);
        Kind kind = Unreadable;
        if (fd >= 0) {
            unsigned char head[4] = {};
            const bool got = ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head);
            QImage image;
            bool fromExif = false;
            const bool jpeg = got && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
            if (jpeg
                && ztv::makeJpegThumbnail(fd, box, &image, nullptr, nullptr, &fromExif)
                    != ztv::JpegOutcome::NotHandled)
                ::close(fd);
            else
                image = ztv::decodeThumbnail(fd, box);
            if (!image.isNull()) {
                if (jpeg)
                    kind = fromExif ? ExifJpeg : OtherJpeg;
                else if (got && std::memcmp(head, "\x89PNG", 4) == 0)
                    kind = Png;
                else if (got && std::memcmp(head, "GIF8", 4) == 0)
                    kind = Gif;
                else
                    kind = Other;
            }
        }
        ++k.count[kind];
        k.seconds[kind] += clock.nsecsElapsed() / 1e9;
    }
    return k;
}

// vipsthumbnail -s 100x100 over the same files in two processes, one thread each (more
// threads than cores only make the two processes wait on each other); files per second.
double peer(const QStringList& files)
{
    QTemporaryDir out;
    QStringList halves[2];
    for (int i = 0; i < files.size(); ++i)
        halves[i % 2].append(files[i]);
    QElapsedTimer clock;
    clock.start();
    QProcess processes[2];
    for (int i = 0; i < 2; ++i) {
        QStringList args { QStringLiteral("-s"), QStringLiteral("100x100"), QStringLiteral("-o"),
            out.path() + QStringLiteral("/%s.jpg") };
        args += halves[i];
        processes[i].setProcessChannelMode(QProcess::ForwardedOutputChannel);
        processes[i].setStandardErrorFile(QProcess::nullDevice());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VIPS_CONCURRENCY"), QStringLiteral("1"));
        processes[i].setProcessEnvironment(env);
        processes[i].start(QStringLiteral("vipsthumbnail"), args);
    }
    for (QProcess& p : processes) {
        if (!p.waitForStarted(10000)) {
            std::fprintf(stderr, "vipsthumbnail cannot be started (Debian package libvips-tools)\n");
            return 0;
        }
        p.waitForFinished(-1);
    }
    return files.size() / (clock.nsecsElapsed() / 1e9);
}

// heif-thumbnailer -s 100 (Debian package heif-thumbnailer) on every file, one process per
// file as a file manager runs it, two at a time; files per second.
double heifPeer(const QStringList& files)
{
    QTemporaryDir out;
    std::atomic<int> next { 0 }, failed { 0 };
    auto lane = [&] {
        for (int i = next++; i < files.size(); i = next++) {
            const QString png = out.path() + QStringLiteral("/%1.png").arg(i);
            const int rc = QProcess::execute(QStringLiteral("heif-thumbnailer"),
                { QStringLiteral("-s"), QStringLiteral("100"), files[i], png });
            if (rc != 0)
                ++failed;
        }
    };
    QElapsedTimer clock;
    clock.start();
    std::thread a(lane), b(lane);
    a.join();
    b.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (failed > 0)
        std::fprintf(stderr, "heif-thumbnailer failed on %d files\n", failed.load());
    if (failed == files.size()) {
        std::fprintf(stderr, "heif-thumbnailer cannot be run (Debian package heif-thumbnailer)\n");
        return 0;
    }
    return files.size() / seconds;
}

void readAll(const QStringList& files)
{
    // Hard links share their pages: each file is read once, however many names it has.
    QSet<QPair<quint64, quint64>> seen;
    for (const QString& path : files) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)
            || seen.contains({ quint64(st.st_dev), quint64(st.st_ino) }))
            continue;
        seen.insert({ quint64(st.st_dev), quint64(st.st_ino) });
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            while (!f.read(1 << 20).isEmpty()) { }
        }
    }
}

// Shows pages one after another, each until all of its pictures are in the list; the time
// each took, in ms, ascending. Before each turn the list finishes making the pages around
// the one shown (as while a user looks at a page); that wait is not counted.
QList<double> turnPages(ThumbnailList& list, const QList<int>& pages)
{
    QList<double> times;
    for (const int page : pages) {
        const int first = page * ThumbnailList::ItemsPerPage;
        const int last = std::min(list.ThumbnailCount(), first + ThumbnailList::ItemsPerPage) - 1;
        QElapsedTimer idle;
        idle.start();
        while (list.restoringImages() && idle.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        list.ScrollToThumbnail(first);
        const QAbstractItemModel* model = list.model();
        auto shown = [&] {
            for (int i = first; i <= last; ++i) {
                if (model->index(i, 0).data(Qt::DecorationRole).value<QImage>().isNull())
                    return false;
            }
            return true;
        };
        while (!shown() && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        times.append(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times;
}

void printPaging(const char* what, const QList<double>& t)
{
    if (t.isEmpty())
        return;
    std::printf("%s: %lld pages, median %.1f ms, 90th %.1f ms, longest %.1f ms\n", what,
        static_cast<long long>(t.size()), t[t.size() / 2], t[t.size() * 9 / 10], t.constLast());
}

double currentRssMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024 * 1024) : 0;
}

double peakRssMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    bool warm = false, withPeer = false, withHeifPeer = false, byKind = true, preread = true;
    int workers = 0, pages = 0, stopAfterMs = -1;
    QString folder, cacheDir;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--cold"))
            warm = false;
        else if (a == QLatin1String("--warm"))
            warm = true;
        else if (a == QLatin1String("--peer"))
            withPeer = true;
        else if (a == QLatin1String("--no-kinds"))
            byKind = false;
        else if (a == QLatin1String("--no-preread"))
            preread = false;
        else if (a == QLatin1String("--heif-peer"))
            withHeifPeer = true;
        else if (a == QLatin1String("--workers") && i + 1 < args.size())
            workers = args[++i].toInt();
        else if (a == QLatin1String("--pages") && i + 1 < args.size())
            pages = args[++i].toInt();
        else if (a == QLatin1String("--stop-after") && i + 1 < args.size())
            stopAfterMs = args[++i].toInt();
        else if (a == QLatin1String("--cache") && i + 1 < args.size())
            cacheDir = args[++i];
        else if (!a.startsWith(QLatin1String("--")) && folder.isEmpty())
            folder = a;
        else {
            std::fprintf(stderr, "unknown argument %s\n", qPrintable(a));
            folder.clear();
            break;
        }
    }
    if (folder.isEmpty()) {
        std::fprintf(stderr,
            "usage: zentovi-bench [--cold | --warm] [--peer | --heif-peer] [--no-kinds] [--workers N] "
            "[--cache DIR] [--pages N] [--stop-after MS] [--no-preread] FOLDER\n"
            "  --cold  the thumbnail cache is neither read nor written (default)\n"
            "  --warm  one browse fills a cache (DIR, else a temporary one); the second is measured\n"
            "  --peer  also runs vipsthumbnail -s 100x100 in two processes (VIPS_CONCURRENCY=1) on the same "
            "files\n"
            "  --no-kinds  leaves out the second, one-thread pass that times each kind of file\n"
            "  --heif-peer  also runs heif-thumbnailer -s 100 on each file, two processes at a time\n"
            "  --pages N  then shows N pages one after another from the first, and N pages spread over the "
            "folder\n"
            "  --stop-after MS  the measured browse is stopped MS ms after it began, as Esc stops it\n"
            "  --no-preread  the files are neither listed nor read before (a slow card, read as it comes)\n");
        return 2;
    }
    folder = QDir(folder).absolutePath();
    QStringList files;
    if (preread && !ztv::listFolderFiles(folder, QStringLiteral("*.*"), &files)) {
        std::fprintf(stderr, "cannot list %s\n", qPrintable(folder));
        return 1;
    }
    if (preread)
        readAll(files); // the page cache is warm for every method measured
    // Measured as the window holds them: one list of the paths the browser delivered.
    files = QStringList();
    // That list was the benchmark's own, which the window never makes: its memory is given
    // back, so that the figures below are the browse's.
    malloc_trim(0);
    const double rssBefore = currentRssMiB();

    ThumbnailBrowser browser;
    browser.setWorkerCount(workers);
    ThumbnailList list; // a browsing tab's list at its reference size, shown
    list.resize(576, 523);
    list.show();
    QTemporaryDir tempCache;
    if (warm) {
        browser.setCacheFolder(
            cacheDir.isEmpty() ? tempCache.path() + QStringLiteral("/thumbnails") : cacheDir);
        const Figures fill = browseOnce(browser, list, folder, files);
        std::printf("filling the cache: %.2f s\n", fill.seconds);
    } else {
        browser.setCacheFolder(QString());
    }
    const Figures f = browseOnce(browser, list, folder, files, stopAfterMs);
    const double perSecond = f.files / f.seconds;
    const double rss = peakRssMiB();
    const double rssNow = currentRssMiB();
    const int keptAfterRun = list.keptImageCount();
    QList<double> nextPages, farPages;
    if (pages > 0 && list.PageCount() > 0) {
        QList<int> next, far;
        for (int i = 0; i < pages; ++i) {
            next.append(std::min(i, list.PageCount() - 1));
            // Spread over the folder, each far from the last, ending far from where it started.
            far.append(int(qint64(list.PageCount() - 1) * ((i * 37) % pages) / std::max(1, pages - 1)));
        }
        farPages = turnPages(list, far);
        nextPages = turnPages(list, next);
    }
    std::printf(
        "mode:                 %s, %d worker threads\n", warm ? "warm" : "cold", browser.workerCount());
    std::printf("files:                %d\n", f.files);
    std::printf("thumbnails made:      %d\n", f.made);
    std::printf("wall seconds:         %.3f\n", f.seconds);
    std::printf("ms per file:          %.2f\n", 1000.0 * f.seconds / std::max(1, f.files));
    std::printf("files per second:     %.1f\n", perSecond);
    std::printf("25th thumbnail after: %.3f s\n", f.first25);
    std::printf(
        "longest pause:        %.1f ms (ended %.3f s into the browse; %.1f ms of it on a core, %.1f ms "
        "waiting for one)\n",
        f.maxPauseMs, f.maxPauseAt, f.maxPauseCpuMs, f.maxPauseQueuedMs);
    if (f.stopMs >= 0)
        std::printf("stop to run ended:    %.1f ms (asked after %d ms)\n", f.stopMs, stopAfterMs);
    std::printf("RSS before browsing:  %.1f MiB\n", rssBefore);
    std::printf("peak RSS:             %.1f MiB (after the listing; %d pictures kept)\n", rss, keptAfterRun);
    std::printf("RSS after the listing: %.1f MiB\n", rssNow);
    printPaging("pages far apart", farPages);
    printPaging("next pages", nextPages);
    if (!farPages.isEmpty())
        std::printf(
            "peak RSS after paging: %.1f MiB, %d pictures kept\n", peakRssMiB(), list.keptImageCount());
    QString summary = QStringLiteral(
        "summary: files=%1 made=%2 seconds=%3 files_per_s=%4 first25_s=%5 max_pause_ms=%6 rss_mib=%7")
                          .arg(f.files)
                          .arg(f.made)
                          .arg(f.seconds, 0, 'f', 3)
                          .arg(perSecond, 0, 'f', 1)
                          .arg(f.first25, 0, 'f', 3)
                          .arg(f.maxPauseMs, 0, 'f', 1)
                          .arg(rss, 0, 'f', 1);
    if (byKind) {
        const KindFigures k = costByKind(files, QSize(100, 100));
        std::printf("ms per file by kind (one thread, one file after another):\n");
        for (int i = 0; i < KindCount; ++i) {
            std::printf("  %-26s %4d files  %7.2f ms\n", kindTitles[i], k.count[i], k.msPerFile(i));
            summary += QStringLiteral(" ms_%1=%2 n_%1=%3")
                           .arg(QLatin1String(kindNames[i]))
                           .arg(k.msPerFile(i), 0, 'f', 2)
                           .arg(k.count[i]);
        }
    }
    // The peer's rate beside ours, printed and added to the summary.
    auto reportPeer = [&](const char* label, const char* name, double peerRate) {
        const double ratio = peerRate > 0 ? perSecond / peerRate : 0.0;
        std::printf("%s: %.1f files per second\n", label, peerRate);
        std::printf("zentovi / %s: %.2f\n", name, ratio);
        summary
            += QStringLiteral(" peer_files_per_s=%1 ratio=%2").arg(peerRate, 0, 'f', 1).arg(ratio, 0, 'f', 2);
    };
    if (withPeer)
        reportPeer("vipsthumbnail, 2 processes", "vipsthumbnail", peer(files));
    if (withHeifPeer)
        reportPeer("heif-thumbnailer, 2 at a time", "heif-thumbnailer", heifPeer(files));
    std::printf("%s\n", qPrintable(summary));
    return 0;
}
