#pragma once

namespace ztv {

class MainForm;

// Saving the pasted picture as BMP, JPEG, PNG or GIF.
class PictureSaving {
public:
    void Clip_Save1_Click(MainForm& form);
    void Clip_Save2_Click(MainForm& form);
};

} // namespace ztv
