#pragma once

#include "values/Area.h"

#include <QString>
#include <optional>

namespace ztv {

class OperationContext;

// Deleting, renaming and copying the chosen picture of the current tab. Each acts only on
// the picture the tab shows, while it is still the file that was chosen; delete and rename
// end the choice.
class PictureFiles {
public:
    // Deletes the current tab's chosen pictures, after asking.
    void deleteSelected(OperationContext& context);
    void RF_Mod_Click(OperationContext& context);
    // The current tab's chosen picture onto the clipboard; the command of the vault's tab
    // (commandTab) puts the file there too, the others the picture only.
    void copyToClipboard(OperationContext& context, Area commandTab);

private:
    void deleteSeveral(OperationContext& context, Area tab);
};

} // namespace ztv
