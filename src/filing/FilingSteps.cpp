#include "filing/FilingSteps.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/texts.h"
#include "imaging/ThumbnailBrowser.h"
#include "platform/FileOps.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

namespace ztv::filing {

void reportBrowse(OperationContext& context, int code)
{
    if (code == ThumbnailBrowser::ResultOk)
        return;
    const QString text = code == ThumbnailBrowser::ResultCancelled
        ? QString::fromUtf16(filingtexts::BrowseCancelled)
        : QString::fromUtf16(filingtexts::BrowseError) + QString::number(code);
    context.services().prompts.message(text);
}

int relistAfterChange(OperationContext& context, Area area, const QString& folder, bool report)
{
    BrowsingArea& page = context.area(area);
    page.clearPage();
    const int code = context.area(area).relist(folder, BrowsingArea::Run::Bracketed);
    if (report)
        reportBrowse(context, code);
    if (code == ThumbnailBrowser::ResultOk || !report)
        context.area(area).ComboSet();
    page.clearSelection();
    return code;
}

void showError(OperationContext& context, const QString& text, const char16_t* title)
{
    context.services().prompts.message(
        text, QString::fromUtf16(title), PromptIcon::Critical, PromptButtons::Ok);
}

void showError(OperationContext& context, const char16_t* text, const char16_t* title)
{
    showError(context, QString::fromUtf16(text), title);
}

QString failureText(const FileResult& result, const char16_t* fallback)
{
    return result.detail.isEmpty() ? QString::fromUtf16(fallback) : result.detail;
}

} // namespace ztv::filing
