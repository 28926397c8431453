#include "app/Startup.h"
#include "export/LibreOfficeSpreadsheet.h"
#include "imaging/ThumbnailEngine.h"
#include "mainwindow/MainForm.h"
#include "platform/DesktopShell.h"
#include "platform/FileOps.h"
#include "platform/LinuxDrives.h"
#include "platform/LinuxMedia.h"
#include "platform/QtPrompts.h"
#include "platform/WorkAside.h"
#include "widgets/Icons.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentovi"));
    // Lets the desktop match the windows to the menu entry and show its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zentovi.zentovi"));
    QApplication::setWindowIcon(ztv::icon(QStringLiteral("zentovi")));
    ztv::LoadQtTranslation(app);
    ztv::setReaderAllocationLimitOnce(); // before any thread reads a picture

    ztv::QtPrompts prompts;
    ztv::DesktopShell shell;
    ztv::LinuxDrives drives;
    ztv::LibreOfficeSpreadsheet spreadsheet;
    spreadsheet.startCheck(); // runs while the windows are built
    ztv::LinuxMedia media(drives, QDBusConnection::systemBus(), ztv::LinuxMedia::userName());
    const ztv::Services services { prompts, shell, drives, spreadsheet, ztv::windowFileOps(), &media };
    auto form = ztv::ShowSplashAndMain(services);
    prompts.setParentWindow(form.get());
    // The desktop offers the program for a camera card and starts it with the card's place.
    if (const QStringList args = QApplication::arguments(); args.size() > 1)
        form->openMediumAt(ztv::startPath(args.at(1)));
    return QApplication::exec();
}
