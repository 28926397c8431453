#pragma once

#include "platform/Spreadsheet.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <memory>

namespace ztv {

// LibreOffice Calc as the spreadsheet application. The program links nothing of LibreOffice:
// the check reads `soffice --version`, and each export runs the helper zentovi-calc, which the
// program kills when it overruns its deadline, so a LibreOffice dialog can never freeze the
// user interface.
class LibreOfficeSpreadsheet : public QObject, public Spreadsheet {
    Q_OBJECT
public:
    struct Config {
        QString soffice; // empty: "soffice" on PATH
        QString helper; // empty: beside the program, else the installed folder
        QStringList helperOptions; // before the workbook (tests: --headless, --profile …)
        int versionTimeoutMs = 2000;
        int exportTimeoutMs = 60000;
        int pdfTimeoutMs = 300000; // a ledger of a thousand pictures takes minutes
    };

    explicit LibreOfficeSpreadsheet(QObject* parent = nullptr);
    explicit LibreOfficeSpreadsheet(Config config, QObject* parent = nullptr);
    ~LibreOfficeSpreadsheet() override;

    // Starts the check now, so that the next applicationInfo() finds it done: start-up calls
    // this first thing and the check runs while the windows are built.
    void startCheck();
    std::optional<Info> applicationInfo() override;
    void exportToWorkbook(
        const QString& workbookPath, const QString& cellText, const QString& macroName) override;
    bool openDocument(const QString& path) override;
    bool convertToPdf(
        const QString& document, const QString& pdfPath, const std::atomic<bool>* stop) override;

    // "LibreOffice 7.4.7.2 40(Build:2)" gives "7.4.7.2": the second word.
    static QString versionFromOutput(const QByteArray& output);
    // The helper beside the running program, else in the installed folder; "" when neither.
    static QString findHelper();
    // Whether the installation in that program folder can open windows: a desktop build
    // carries at least one window-system plugin there (libvclplug_gen, _gtk3, _kf5 …); a
    // build without a desktop part (Debian's -nogui) has only the built-in headless one.
    static bool canShowWindows(const QString& programFolder);

    int runningExports() const { return m_running; }
    // Tests: waits, handling events, until no export runs; false on time-out.
    bool waitForExports(int msecs);

Q_SIGNALS:
    // exitCode is the helper's, or -1 when it could not start, crashed or overran its deadline.
    void exportFinished(int exitCode);

private:
    QString helperProgram() const;
    QString sofficeProgram() const;

    Config m_config;
    int m_running = 0;
    std::unique_ptr<QProcess> m_check; // `soffice --version` started by startCheck()
    QElapsedTimer m_checkStarted;
};

} // namespace ztv
