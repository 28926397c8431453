#pragma once

namespace ztv {

class MainForm;

// Adding, deleting and renaming the organizer boxes of the vault.
class Boxes {
public:
    void dirpopup_new_Click(MainForm& form);
    void dirpopup_del_Click(MainForm& form);
    void dirpopup_mod_Click(MainForm& form);
};

} // namespace ztv
