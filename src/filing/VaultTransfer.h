#pragma once

namespace ztv {

class MainForm;

// Copying a CD picture, or moving a stock-yard picture, into a box of the vault.
class VaultTransfer {
public:
    void RCD_Fav_Copy_Click(MainForm& form);
    void R_Fav_Copy_Click(MainForm& form);
};

} // namespace ztv
