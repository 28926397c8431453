#pragma once

#include "platform/Prompts.h"
#include "values/Area.h"

#include <QString>

namespace ztv {

class OperationContext;
struct FileResult;

// Steps the box, file and transfer operations share.
namespace filing {

// The message for a browse result: cancelled, or an error with its code; nothing for 0.
void reportBrowse(OperationContext& context, int code);

// After a change to a folder an area lists: the page emptied and listed again as a run the
// user sees (the window disabled), the run's failure reported when report, the page selector
// set (on success, or always when not reporting) and the choice ended, since it belonged to
// the listing that is gone. Gives the browser's result code.
int relistAfterChange(OperationContext& context, Area area, const QString& folder, bool report);

// A critical error box with OK.
void showError(OperationContext& context, const QString& text, const char16_t* title);
void showError(OperationContext& context, const char16_t* text, const char16_t* title);

// What a failed file operation tells the user: its own detail, or the fallback text.
QString failureText(const FileResult& result, const char16_t* fallback);

} // namespace filing
} // namespace ztv
