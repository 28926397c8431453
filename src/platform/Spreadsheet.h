#pragma once

#include <QString>
#include <optional>

namespace ztv {

// The spreadsheet application the export hands pictures to (LibreOffice Calc here).
class Spreadsheet {
public:
    struct Info {
        QString version; // "7.4.7.2"
        QString installPath; // "/usr/lib/libreoffice/program"
        // False for a build that cannot open a window (one made only for servers): its export
        // would show nothing.
        bool showsWindows = true;
    };

    virtual ~Spreadsheet() = default;

    // Nothing when the application cannot be started or asked.
    virtual std::optional<Info> applicationInfo() = 0;

    // A new visible application opens the workbook, sheet 1 is shown, its B2 receives
    // cellText as text and the workbook's macro runs; the application and the workbook
    // stay open. Returns at once: the work happens in another process, failures are silent.
    virtual void exportToWorkbook(
        const QString& workbookPath, const QString& cellText, const QString& macroName)
        = 0;

    // The start-up check: the export is offered only for an application that answered with an
    // installation path and a version text not beginning with "8" or "9", and that can show
    // the workbook.
    static bool usable(const std::optional<Info>& info)
    {
        return info && !info->installPath.isEmpty() && !info->version.startsWith(u'8')
            && !info->version.startsWith(u'9') && info->showsWindows;
    }
};

} // namespace ztv
