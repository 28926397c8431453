#pragma once

namespace ztv {

class MainForm;

// Deleting, renaming and copying the selected picture of a tab.
class PictureFiles {
public:
    void R_Del_Click(MainForm& form);
    void RF_Del_Click(MainForm& form);
    void RF_Mod_Click(MainForm& form);
    void RCD_Clip_Copy_Click(MainForm& form);
    void R_Clip_Copy_Click(MainForm& form);
    void RF_Clip_Copy_Click(MainForm& form);
};

} // namespace ztv
