#pragma once

#include <QString>

namespace ztv {

// A vault tree path's box path below the vault, as the box keys keep it ("保管庫/旅行" ->
// "旅行"; "保管庫" -> "").
QString vaultBoxPath(const QString& treePath);

class OperationContext;

// Adding, deleting and renaming the organizer boxes of the vault. Each works on the folder
// selected in the current tab's tree and, once done, sets every tab's CurrentNodePath back
// to its default, so the next delete or rename needs a fresh click on a box.
class Boxes {
public:
    void dirpopup_new_Click(OperationContext& context);
    void dirpopup_del_Click(OperationContext& context);
    void dirpopup_mod_Click(OperationContext& context);
};

} // namespace ztv
