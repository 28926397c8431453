#pragma once

namespace ztv {

class MainForm;

// The paste tab's display: pasting from the clipboard and clearing.
class PasteArea {
public:
    void Clip_Past_Click(MainForm& form);
    void Clip_Clear_Click(MainForm& form);
    void LEAD2_MouseButton(MainForm& form, int button, int shift, int x, int y);
};

} // namespace ztv
