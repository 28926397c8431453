#pragma once

namespace ztv {

class OperationContext;

// "Excelへコピー" of the three browsing tabs: all three put the current tab's chosen picture
// into a fresh copy of the template workbook (WorkbookExport).
class SpreadsheetExport {
public:
    void Exl_copy0_Click(OperationContext& context);
    void Exl_copy1_Click(OperationContext& context);
    void Exl_copy2_Click(OperationContext& context);

private:
    void Export(OperationContext& context);
};

} // namespace ztv
