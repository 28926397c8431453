// Prints what "新しい画像を保管庫へコピー…" costs over a card:
//   QT_QPA_PLATFORM=offscreen bench_cardimport CARD HOME
// CARD is the card's folder (a FUSE mount, see card-import.sh), shown as a medium of the CD
// tab; HOME the home whose vault's box "カード" the pictures go to (made when missing). A
// second call on the same home is the second run over the same card. Prints the files
// copied and already in the vault, the bytes filed, the seconds from the chooser's button to
// the window idle again and the longest pause of the window's thread meanwhile.

#include "QuietServices.h"
#include "display/BrowseRun.h"
#include "display/BrowsingArea.h"
#include "filing/CardImport.h"
#include "filing/SetFolder.h"
#include "mainwindow/MainForm.h"
#include "platform/ContentIndex.h"
#include "platform/DesktopShell.h"
#include "platform/LinuxDrives.h"
#include "platform/Media.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "platform/Spreadsheet.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidgetItem>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace ztv;

namespace {

using bench::NoSpreadsheet;
using bench::SilentPrompts;

// The card as the one medium of the machine.
class OneCard : public Media {
public:
    explicit OneCard(const QString& path)
        : m_card { QStringLiteral("bench:card"), path, QStringLiteral("CARD"), {}, {}, true, false }
    {
    }
    QList<Medium> media() override { return { m_card }; }
    void watch(QObject*, std::function<void()>) override { }
    Removal remove(const Medium&) override { return { Removal::Result::Failed, {} }; }

private:
    Medium m_card;
};

// The window's thread's time on a core and its time waiting for one, in ns (the kernel's
// schedstat; zeros where it is not offered).
std::pair<qint64, qint64> threadSchedule()
{
    static const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return { 0, 0 };
    char text[96] = {};
    const qint64 n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return { 0, 0 };
    const QList<QByteArray> fields = QByteArray(text, int(n)).split(' ');
    return { fields.value(0).toLongLong(), fields.value(1).toLongLong() };
}

qint64 bytesBelow(const QString& folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_cardimport CARD HOME\n");
        return 2;
    }
    const QString card = QDir::cleanPath(QString::fromLocal8Bit(argv[1]));
    const QString home = QDir::cleanPath(QString::fromLocal8Bit(argv[2]));
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    const QString root = home + QStringLiteral("/My Documents/ZTV_DATA/");
    const QString box = root + QStringLiteral("保管庫/カード");
    QDir().mkpath(root + QStringLiteral("ストックヤード"));
    QDir().mkpath(box);

    SilentPrompts prompts;
    DesktopShell shell;
    LinuxDrives drives;
    NoSpreadsheet sheet;
    OneCard media(card);
    const Services services { prompts, shell, drives, sheet, windowFileOps(), &media };
    MainForm form(services);
    form.setMenuOpener([](QMenu*) {});
    form.setQuitHandler([] {});
    form.Form_Load();
    form.show();
    form.SSTab1()->setCurrentIndex(0);
    // The vault's index up to date first, as after the program has run a while.
    QElapsedTimer t;
    t.start();
    while (form.contentIndex() && !form.contentIndex()->idle())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const double indexSeconds = t.nsecsElapsed() / 1e9;

    FolderTree* tree = form.area(Area::Cd).TreeView1();
    if (tree->topLevelItemCount() < 2) {
        std::fprintf(stderr, "the card is not shown\n");
        return 1;
    }
    tree->setCurrentItem(tree->topLevelItem(1));
    form.action("Medium_Import")->trigger();
    SetFolder* chooser = form.cardImport().chooser();
    if (!chooser) {
        std::fprintf(stderr, "no chooser\n");
        return 1;
    }
    chooser->TreeView1->expandItem(chooser->TreeView1->topLevelItem(0));
    QTreeWidgetItem* target = nullptr;
    for (QTreeWidgetItem* node : chooser->TreeView1->allNodes())
        if (chooser->TreeView1->treePath(node) == QStringLiteral("保管庫/カード"))
            target = node;
    if (!target) {
        std::fprintf(stderr, "no box\n");
        return 1;
    }
    chooser->TreeView1->setCurrentItem(target);
    chooser->TreeView1_NodeClick(target);
    const qint64 boxBefore = bytesBelow(box);

    // A timer as fast as the thread can take it: the longest gap between two ticks is the
    // longest the window could not paint.
    QTimer ticker;
    ticker.setInterval(1);
    qint64 lastTick = 0;
    double longestPauseMs = 0;
    double longestPauseAt = 0; // when it ended, seconds after the button
    // Of the longest pause: the time the thread ran, and the time it was ready but waited for
    // a core; the rest it slept (a disk call, a lock).
    double pauseOnCoreMs = 0;
    double pauseQueuedMs = 0;
    std::pair<qint64, qint64> scheduleAtTick = threadSchedule();
    struct Pause {
        double endedS, ms, onCoreMs;
    };
    QList<Pause> longPauses; // every one over 30 ms
    auto tick = [&] {
        const qint64 now = t.nsecsElapsed();
        const std::pair<qint64, qint64> sched = threadSchedule();
        const double pause = (now - lastTick) / 1e6;
        if (pause > 30)
            longPauses.append({ now / 1e9, pause, (sched.first - scheduleAtTick.first) / 1e6 });
        if (pause > longestPauseMs) {
            longestPauseMs = (now - lastTick) / 1e6;
            longestPauseAt = now / 1e9;
            pauseOnCoreMs = (sched.first - scheduleAtTick.first) / 1e6;
            pauseQueuedMs = (sched.second - scheduleAtTick.second) / 1e6;
        }
        scheduleAtTick = sched;
        lastTick = now;
    };
    QObject::connect(&ticker, &QTimer::timeout, tick);
    t.restart();
    scheduleAtTick = threadSchedule();
    ticker.start();
    chooser->Command1_Click(0);
    while (form.operationRun()->busy())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    tick(); // the end of the run's last pause
    const double seconds = t.nsecsElapsed() / 1e9;
    ticker.stop();
    const qint64 filed = bytesBelow(box) - boxBefore;
    std::printf("index ready after %.2f s\n", indexSeconds);
    std::printf("message: %s\n", qPrintable(QString(prompts.last).replace(u'\r', u' ')));
    std::printf("summary: seconds=%.2f bytes_filed=%lld longest_pause_ms=%.1f longest_pause_ended_s=%.2f\n",
        seconds, qlonglong(filed), longestPauseMs, longestPauseAt);
    std::printf("longest pause: %.1f ms on a core, %.1f ms waiting for one, %.1f ms asleep\n", pauseOnCoreMs,
        pauseQueuedMs, std::max(0.0, longestPauseMs - pauseOnCoreMs - pauseQueuedMs));
    // The longest ones, longest first: where in the run they fell tells what caused them.
    std::printf("pauses over 30 ms: %lld", qlonglong(longPauses.size()));
    std::sort(
        longPauses.begin(), longPauses.end(), [](const Pause& a, const Pause& b) { return a.ms > b.ms; });
    for (qsizetype i = 0; i < std::min<qsizetype>(longPauses.size(), 8); ++i)
        std::printf("%s %.1f ms (%.1f on a core) ended at %.2f s", i == 0 ? ";" : ",", longPauses[i].ms,
            longPauses[i].onCoreMs, longPauses[i].endedS);
    std::printf("\n");
    return 0;
}
