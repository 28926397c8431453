#pragma once

#include <QString>
#include <atomic>
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

    // Opens a finished document in a new window of the application; returns at once. False
    // when it could not be started.
    virtual bool openDocument(const QString& path)
    {
        (void)path;
        return false;
    }
    // Writes the document as PDF under pdfPath with the application run headless and a profile
    // of its own (so it never meets a window the user has open). Blocks until done or
    // stopped (call it aside); a PDF already there is replaced only once the new one is whole.
    // False when it failed or stopped.
    virtual bool convertToPdf(const QString& document, const QString& pdfPath, const std::atomic<bool>* stop)
    {
        (void)document, (void)pdfPath, (void)stop;
        return false;
    }

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
