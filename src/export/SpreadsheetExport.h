#pragma once

namespace ztv {

class MainForm;

// Putting the selected picture of a tab into a spreadsheet workbook.
class SpreadsheetExport {
public:
    void Exl_copy0_Click(MainForm& form);
    void Exl_copy1_Click(MainForm& form);
    void Exl_copy2_Click(MainForm& form);
};

} // namespace ztv
