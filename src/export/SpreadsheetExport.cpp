#include "export/SpreadsheetExport.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "export/WorkbookExport.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

namespace ztv {

void SpreadsheetExport::Exl_copy0_Click(OperationContext& context)
{
    Export(context);
}

void SpreadsheetExport::Exl_copy1_Click(OperationContext& context)
{
    Export(context);
}

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

void SpreadsheetExport::Exl_copy2_Click(OperationContext& context)
{
    Export(context);
}

} // namespace ztv
