// Prints how long filing many chosen pictures into a box takes, from the chooser's button to
// the window idle again, and how many listings each side had:
//   QT_QPA_PLATFORM=offscreen bench_filing [STOCK] [CHOSEN] [RUNS] [FOLDER...]
// A temporary home with a stock yard of STOCK (3000) small JPEG files; the first CHOSEN (1000)
// are chosen (a click and a Shift click) and moved into a box, once with the vault on the same
// disk, once with the vault on /dev/shm (another file system: each file copied, flushed and
// checked before its source goes), and once more in each FOLDER given (a network share, say);
// RUNS (1) times each. Listings are counted as the browsers
// start them, with the files each listed, and the thumbnail-cache entries made again (new
// files in the cache, where carried entries keep theirs) show what the listings decoded.
//   QT_QPA_PLATFORM=offscreen bench_filing --single FOLDER [MOVES]
// A stock yard of FOLDER's files (hard links where the disk allows, else copies; the corpus of
// make-corpus.sh --links 3000), listed once so the thumbnails are cached; then MOVES (5)
// single moves of the picture shown on the first page into a box, each timed from the
// chooser's button to the window idle again, with the files each listing read.

#include "QuietServices.h"
#include "display/BrowsingArea.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/MainForm.h"
#include "platform/DesktopShell.h"
#include "platform/FileOps.h"
#include "platform/LinuxDrives.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "platform/Spreadsheet.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidgetItem>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace ztv;

namespace {

using bench::NoSpreadsheet;
using bench::SilentPrompts;

// The real window with the desktop's services and no prompts shown.
struct BenchWindow {
    SilentPrompts prompts;
    DesktopShell shell;
    LinuxDrives drives;
    NoSpreadsheet sheet;
    const Services services { prompts, shell, drives, sheet, windowFileOps() };
    MainForm form { services };

    BenchWindow()
    {
        form.setMenuOpener([](QMenu*) {});
        form.setQuitHandler([] {});
    }
    // Starts the window as the program does and shows the stock yard.
    BrowsingArea& openOnStockYard()
    {
        form.Form_Load();
        form.show();
        form.SSTab1()->setCurrentIndex(1);
        return form.area(Area::StockYard);
    }
    // The chooser the transfer command opens, pointed at the vault's first box.
    SetFolder* chooserAtFirstBox()
    {
        form.R_Fav_Copy()->trigger();
        SetFolder* chooser = form.vaultTransfer().chooser();
        FolderTree* tree = chooser->TreeView1;
        tree->expandItem(tree->topLevelItem(0));
        QTreeWidgetItem* box = tree->topLevelItem(0)->child(0);
        tree->setCurrentItem(box);
        chooser->TreeView1_NodeClick(box);
        return chooser;
    }
};

QByteArray jpeg(int i)
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(i * 7 % 360, 180, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

struct Run {
    double seconds = 0;
    int stockListings = 0;
    int vaultListings = 0;
    int stockListed = 0; // files the stock yard's listings listed
    int vaultListed = 0;
    int entriesMadeAgain = 0;
    int filed = 0;
    int messages = 0;
    double firstListing = 0;
    double stockListingAt = 0; // when the source page's listing began
    double vaultListingAt = 0;
    double longestPauseMs = 0; // of the window's thread, from the button to idle
};

// The cache entries' files, by inode: a carried entry keeps its own, a decoded one is new.
QSet<quint64> entryFiles(const QString& cacheRoot)
{
    QSet<quint64> inodes;
    const QString folder = cacheRoot + QStringLiteral("/normal/");
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        struct stat st;
        if (::stat(QFile::encodeName(folder + name).constData(), &st) == 0)
            inodes.insert(quint64(st.st_ino));
    }
    return inodes;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2) : QString();
}

Run fileChosen(const QString& vaultOn, int stock, int chosen)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    const QString root = home.path() + QStringLiteral("/My Documents/ZTV_DATA/");
    QDir().mkpath(root + QStringLiteral("ストックヤード"));
    QTemporaryDir elsewhere(vaultOn + QStringLiteral("/zentovi-bench-XXXXXX"));
    if (vaultOn.isEmpty()) {
        QDir().mkpath(root + QStringLiteral("保管庫/箱"));
    } else {
        QDir().mkpath(elsewhere.path() + QStringLiteral("/箱"));
        QFile::link(elsewhere.path(), root + QStringLiteral("保管庫"));
    }
    QList<QByteArray> kinds;
    for (int i = 0; i < 40; ++i)
        kinds << jpeg(i);
    for (int i = 0; i < stock; ++i) {
        QFile f(root + QStringLiteral("ストックヤード/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        if (f.open(QIODevice::WriteOnly))
            f.write(kinds.at(i % kinds.size()));
    }

    Run run;
    BenchWindow window;
    MainForm& form = window.form;
    QElapsedTimer t;
    t.start();
    BrowsingArea& yard = window.openOnStockYard();
    if (yard.HiddenList().size() != stock)
        yard.list(root + QStringLiteral("ストックヤード"), BrowsingArea::ListHow::Show);
    QCoreApplication::processEvents();
    run.firstListing = t.nsecsElapsed() / 1e9;

    yard.LEADImgList1_Click(0);
    yard.LEADImgList1_ClickWith(chosen - 1, Qt::ShiftModifier);
    QObject::connect(yard.LEADThumb1(), &ThumbnailBrowser::BrowseStarted, [&](int files) {
        ++run.stockListings;
        run.stockListed += files;
        run.stockListingAt = t.nsecsElapsed() / 1e9;
    });
    QObject::connect(form.area(Area::Vault).LEADThumb1(), &ThumbnailBrowser::BrowseStarted, [&](int files) {
        ++run.vaultListings;
        run.vaultListed += files;
        run.vaultListingAt = t.nsecsElapsed() / 1e9;
    });
    const QString cacheRoot = yard.LEADThumb1()->cacheFolder();
    const QSet<quint64> entriesBefore = entryFiles(cacheRoot);
    SetFolder* chooser = window.chooserAtFirstBox();

    // A timer as fast as the thread can take it: the longest gap between two of its ticks is
    // the longest the window could not paint.
    QTimer ticker;
    ticker.setInterval(1);
    qint64 lastTick = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = t.nsecsElapsed();
        run.longestPauseMs = std::max(run.longestPauseMs, (now - lastTick) / 1e6);
        lastTick = now;
    });
    t.restart();
    ticker.start();
    chooser->Command1_Click(0);
    QCoreApplication::processEvents();
    run.seconds = t.nsecsElapsed() / 1e9;
    run.longestPauseMs = std::max(run.longestPauseMs, (t.nsecsElapsed() - lastTick) / 1e6);
    ticker.stop();
    for (quint64 inode : entryFiles(cacheRoot))
        run.entriesMadeAgain += entriesBefore.contains(inode) ? 0 : 1;
    run.filed = int(QDir(root + QStringLiteral("保管庫/箱")).entryList(QDir::Files).size());
    run.messages = window.prompts.messages;
    if (window.prompts.messages)
        std::printf("  message: %s\n", qPrintable(QString(window.prompts.last).replace(u'\r', u' ')));
    return run;
}

int singleMoves(const QString& corpus, int moves)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    const QString root = home.path() + QStringLiteral("/My Documents/ZTV_DATA/");
    const QString yardPath = root + QStringLiteral("ストックヤード");
    QDir().mkpath(yardPath);
    QDir().mkpath(root + QStringLiteral("保管庫/箱"));
    const QStringList files = QDir(corpus).entryList(QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const QString from = corpus + QLatin1Char('/') + name;
        const QString to = yardPath + QLatin1Char('/') + name;
        if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
            QFile::copy(from, to);
    }
    BenchWindow window;
    QElapsedTimer t;
    t.start();
    BrowsingArea& yard = window.openOnStockYard();
    QCoreApplication::processEvents();
    std::printf("single moves out of a stock yard of %lld pictures (first listing, cold, %.2f s)\n",
        qlonglong(yard.HiddenList().size()), t.nsecsElapsed() / 1e9);
    int read = 0;
    QObject::connect(yard.LEADThumb1(), &ThumbnailBrowser::BrowseStarted, [&](int n) { read += n; });
    QList<double> times;
    for (int i = 0; i < moves; ++i) {
        // The picture the user looks at: on the first page, as after every listing.
        const int item = (i * 7) % std::min<int>(25, int(yard.HiddenList().size()));
        const QString load = loadAverage();
        yard.LEADImgList1_Click(item);
        SetFolder* chooser = window.chooserAtFirstBox();
        read = 0;
        t.restart();
        chooser->Command1_Click(0);
        QCoreApplication::processEvents();
        const double seconds = t.nsecsElapsed() / 1e9;
        times << seconds;
        std::printf("move %d: button to idle %.3f s, stock yard now %lld, files read by the listings %d, "
                    "messages %d (load before %s)\n",
            i + 1, seconds, qlonglong(yard.HiddenList().size()), read, window.prompts.messages,
            qPrintable(load));
        std::fflush(stdout);
        // The pictures of the pages around the one shown come back before the next move, as while
        // the user looks at the page.
        while (yard.LEADImgList1()->restoringImages())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    std::sort(times.begin(), times.end());
    std::printf("summary: single_move_median_s=%.3f single_move_max_s=%.3f\n", times.at(times.size() / 2),
        times.last());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 2 && QByteArray(argv[1]) == "--single")
        return singleMoves(QString::fromLocal8Bit(argv[2]), argc > 3 ? qMax(1, atoi(argv[3])) : 5);
    const int stock = argc > 1 ? qMax(2, atoi(argv[1])) : 3000;
    const int chosen = argc > 2 ? qBound(2, atoi(argv[2]), stock) : 1000;
    const int runs = argc > 3 ? qMax(1, atoi(argv[3])) : 1;
    QList<std::pair<QString, QString>> places { { QStringLiteral("same disk"), QString() },
        { QStringLiteral("vault on /dev/shm"), QStringLiteral("/dev/shm") } };
    for (int i = 4; i < argc; ++i)
        places.append({ QStringLiteral("vault on %1").arg(QString::fromLocal8Bit(argv[i])),
            QString::fromLocal8Bit(argv[i]) });
    std::printf("filing %d chosen pictures out of a stock yard of %d into a box\n", chosen, stock);
    for (int i = 0; i < runs; ++i) {
        for (const auto& [label, vaultOn] : std::as_const(places)) {
            const QString load = loadAverage();
            const Run r = fileChosen(vaultOn, stock, chosen);
            std::printf(
                "%-18s button to idle %.2f s, %d filed, listings: stock yard %d (%d files), vault %d "
                "(%d files), thumbnails made again %d, messages %d, longest pause %.1f ms (load before "
                "%s)\n",
                qPrintable(label), r.seconds, r.filed, r.stockListings, r.stockListed, r.vaultListings,
                r.vaultListed, r.entriesMadeAgain, r.messages, r.longestPauseMs, qPrintable(load));
            std::printf("%-18s files %.2f s, stock-yard listing %.2f s, vault listing %.2f s (first listing "
                        "of the stock yard %.2f s)\n",
                "", r.stockListingAt, r.vaultListingAt - r.stockListingAt, r.seconds - r.vaultListingAt,
                r.firstListing);
            std::fflush(stdout);
        }
    }
    return 0;
}
