#pragma once

#include <Qt>

class QMimeData;

namespace ztv {

class OperationContext;
class PictureDisplay;

// The paste tab's displays: LEAD2 shows the pasted picture, LEAD3 keeps a copy prepared
// for the GIF save.
class PasteArea {
public:
    void Clip_Past_Click(OperationContext& context);
    void Clip_Clear_Click(OperationContext& context);
    void LEAD2_MouseButton(OperationContext& context, Qt::MouseButton button);
    // A picture, or a picture file, dropped onto the paste tab: pasted as from the clipboard.
    void LEAD2_Drop(OperationContext& context, const QMimeData& data);

    // Transparent parts of the hidden copy become white in a GIF that does not keep them; the
    // copy keeps its alpha for one that does.
    static void PrepareWhite(PictureDisplay& display);
};

} // namespace ztv
