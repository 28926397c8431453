#pragma once

#include "platform/Prompts.h"

#include <QString>

namespace ztv {

class MainForm;
struct FileResult;

// Steps the box, file and transfer operations share.
namespace filing {

// The tab the operations act on: the tab control's current tab (3 for the paste tab).
int currentArea(const MainForm& form);

// CurrentNodePath of the three browsing tabs back at "", "ストックヤード" and "保管庫".
void resetNodePaths(MainForm& form);

// A fresh tree for the tab: its top node and the top folder's sub-folders. Leaves the
// tab's folder list on the top folder.
void rebuildTree(MainForm& form, int tab);

// A browse run that re-lists a page after a change. It does not empty the page first.
// With bracket the main window is disabled and gbBrowsing is true for the run. A stop
// requested during an earlier run is dropped, so it cannot cut this one short.
int browseRun(MainForm& form, int tab, const QString& folder, bool bracket);

// The message for a browse result: cancelled, or an error with its code; nothing for 0.
void reportBrowse(MainForm& form, int code);

// Empties the tab's thumbnails and their path list (the display is left alone).
void clearPage(MainForm& form, int tab);

// A critical error box with OK.
void showError(MainForm& form, const QString& text, const char16_t* title);
void showError(MainForm& form, const char16_t* text, const char16_t* title);

// What a failed file operation tells the user: its own detail, or the fallback text.
QString failureText(const FileResult& result, const char16_t* fallback);

} // namespace filing
} // namespace ztv
