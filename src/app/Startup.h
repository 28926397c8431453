#pragma once

#include "platform/Services.h"

#include <QString>

#include <memory>

class QApplication;

namespace ztv {

class MainForm;

// Qt's own Japanese texts for standard buttons ("OK", "キャンセル"), whatever the locale.
bool LoadQtTranslation(QApplication& app);

// The start-up sequence: splash window, one pass of events, the main window loaded and
// shown, splash window gone. The caller runs the event loop.
std::unique_ptr<MainForm> ShowSplashAndMain(const Services& services);

// The place the program was started with: a path, or a file:// URL as desktops give it.
QString startPath(const QString& argument);

} // namespace ztv
