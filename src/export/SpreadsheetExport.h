#pragma once

namespace ztv {

class OperationContext;

// "Excelへコピー" of the three browsing tabs: all three put the current tab's chosen picture
// into a fresh copy of the template workbook (WorkbookExport).
class SpreadsheetExport {
public:
    void Export(OperationContext& context);
};

} // namespace ztv
