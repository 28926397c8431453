#pragma once

namespace ztv {

class MainForm;

// "Excelへコピー" of the three browsing tabs: all three put the current tab's selected picture
// into a fresh copy of the template workbook (WorkbookExport).
class SpreadsheetExport {
public:
    void Exl_copy0_Click(MainForm& form);
    void Exl_copy1_Click(MainForm& form);
    void Exl_copy2_Click(MainForm& form);

private:
    void Export(MainForm& form);
};

} // namespace ztv
