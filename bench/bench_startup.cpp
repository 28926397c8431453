// Prints how long the main window takes to come up with and without the spreadsheet check:
//   QT_QPA_PLATFORM=offscreen bench_startup [RUNS]
// Each run builds the splash and the main window, loads it (storage paths, three tabs, the
// check) and shows it, in a temporary home with an empty storage root.

#include "app/Startup.h"
#include "export/LibreOfficeSpreadsheet.h"
#include "mainwindow/MainForm.h"
#include "platform/DesktopShell.h"
#include "platform/FileOps.h"
#include "platform/LinuxDrives.h"
#include "platform/QtPrompts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ztv;

namespace {
class NoSpreadsheet : public Spreadsheet {
public:
    std::optional<Info> applicationInfo() override { return std::nullopt; }
    void exportToWorkbook(const QString&, const QString&, const QString&) override { }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir().mkpath(home.path() + QStringLiteral("/My Documents/ZTV_DATA/ストックヤード"));
    QDir().mkpath(home.path() + QStringLiteral("/My Documents/ZTV_DATA/保管庫"));
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 10;

    QtPrompts prompts;
    DesktopShell shell;
    LinuxDrives drives;
    NoSpreadsheet none;
    LibreOfficeSpreadsheet calc(LibreOfficeSpreadsheet::Config { QString(),
        QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentovi-calc"), {}, 2000, 60000 });
    std::printf("LibreOffice check answers: %s\n",
        Spreadsheet::usable(calc.applicationInfo()) ? "usable" : "not usable");

    struct Mode {
        const char* label;
        Spreadsheet* sheet;
        bool early; // the check started before the windows, as the program does
    };
    for (const Mode& m : { Mode { "no check:", &none, false }, Mode { "check at its step:", &calc, false },
             Mode { "check started first:", &calc, true } }) {
        const Services services { prompts, shell, drives, *m.sheet, realFileOps() };
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            if (m.early)
                calc.startCheck();
            auto form = ShowSplashAndMain(services);
            QCoreApplication::processEvents();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("window up, %-22s median %.1f ms, min %.1f ms over %d runs\n", m.label, median(ms),
            *std::min_element(ms.begin(), ms.end()), runs);
    }
    return 0;
}
