#include "app/Startup.h"
#include "mainwindow/MainForm.h"
#include "platform/DesktopShell.h"
#include "platform/FileOps.h"
#include "platform/LinuxDrives.h"
#include "platform/QtPrompts.h"
#include "platform/Spreadsheet.h"

#include <QApplication>

namespace {

// Until a spreadsheet application can be driven, the export items stay disabled.
class NoSpreadsheet : public ztv::Spreadsheet {
public:
    std::optional<Info> applicationInfo() override { return std::nullopt; }
    void exportToWorkbook(const QString&, const QString&, const QString&) override { }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentovi"));
    ztv::LoadQtTranslation(app);

    ztv::QtPrompts prompts;
    ztv::DesktopShell shell;
    ztv::LinuxDrives drives;
    NoSpreadsheet spreadsheet;
    const ztv::Services services { prompts, shell, drives, spreadsheet, ztv::realFileOps() };
    auto form = ztv::ShowSplashAndMain(services);
    prompts.setParentWindow(form.get());
    return QApplication::exec();
}
