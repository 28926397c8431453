#include "app/Startup.h"
#include "export/LibreOfficeSpreadsheet.h"
#include "mainwindow/MainForm.h"
#include "platform/DesktopShell.h"
#include "platform/FileOps.h"
#include "platform/LinuxDrives.h"
#include "platform/QtPrompts.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentovi"));
    ztv::LoadQtTranslation(app);

    ztv::QtPrompts prompts;
    ztv::DesktopShell shell;
    ztv::LinuxDrives drives;
    ztv::LibreOfficeSpreadsheet spreadsheet;
    const ztv::Services services { prompts, shell, drives, spreadsheet, ztv::realFileOps() };
    auto form = ztv::ShowSplashAndMain(services);
    prompts.setParentWindow(form.get());
    return QApplication::exec();
}
