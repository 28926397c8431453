#include "export/SpreadsheetExport.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "export/WorkbookExport.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

namespace ztv {

void SpreadsheetExport::Export(OperationContext& context)
{
    const Services& s = context.services();
    // The current tab's chosen picture; "" when none is chosen. A chosen file that changed
    // since is reported, and nothing is exported.
    QString path;
    if (const std::optional<Area> area = context.currentArea()) {
        const std::optional<QString> chosen = context.area(*area).fileOrNothingToActOn(s.prompts);
        if (!chosen)
            return;
        path = *chosen;
    }
    WorkbookExport(s.prompts, s.fileOps, s.spreadsheet, WorkbookExport::standardTemplateFolders(),
        WorkbookExport::standardWorkFolder())
        .run(path);
}

} // namespace ztv
