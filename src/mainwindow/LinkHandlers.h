#pragma once

namespace ztv {

class MainForm;

// The file manager on a tab's area and the browser on the web page.
class LinkHandlers {
public:
    void RCD_Explora_Click(MainForm& form);
    void R_Explora_Click(MainForm& form);
    void RF_Explora_Click(MainForm& form);
    void EX_Explora_Click(MainForm& form);
    void Command2_Click(MainForm& form);
};

} // namespace ztv
