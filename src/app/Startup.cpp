#include "app/Startup.h"

#include "app/TitleForm.h"
#include "app/WaitSeconds.h"
#include "display/PreviewForm.h"
#include "mainwindow/MainForm.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QUrl>

namespace ztv {

bool LoadQtTranslation(QApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

std::unique_ptr<MainForm> ShowSplashAndMain(const Services& services)
{
    auto splash = std::make_unique<title>();
    splash->show();
    WaitSeconds(0);
    auto form = std::make_unique<MainForm>(services);
    form->Form_Load();
    form->show();
    splash.reset();
    return form;
}

QString startPath(const QString& argument)
{
    const QUrl url(argument);
    return url.isLocalFile() ? url.toLocalFile() : argument;
}

} // namespace ztv
