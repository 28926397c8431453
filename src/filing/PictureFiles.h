#pragma once

namespace ztv {

class MainForm;

// Deleting, renaming and copying the selected picture of the current tab. Delete and
// rename act only while a picture is selected, and end the selection.
class PictureFiles {
public:
    void R_Del_Click(MainForm& form);
    void RF_Del_Click(MainForm& form);
    void RF_Mod_Click(MainForm& form);
    void RCD_Clip_Copy_Click(MainForm& form);
    void R_Clip_Copy_Click(MainForm& form);
    void RF_Clip_Copy_Click(MainForm& form);

private:
    void deleteSelected(MainForm& form);
    void copyToClipboard(MainForm& form, int flags);
};

} // namespace ztv
