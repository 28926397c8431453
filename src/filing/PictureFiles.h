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
    void R_Del_Click(OperationContext& context);
    void RF_Del_Click(OperationContext& context);
    void RF_Mod_Click(OperationContext& context);
    void RCD_Clip_Copy_Click(OperationContext& context);
    void R_Clip_Copy_Click(OperationContext& context);
    void RF_Clip_Copy_Click(OperationContext& context);

private:
    void deleteSelected(OperationContext& context);
    void deleteSeveral(OperationContext& context, Area tab);
    void copyToClipboard(OperationContext& context, bool withFile);
};

} // namespace ztv
