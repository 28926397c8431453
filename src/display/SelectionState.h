#pragma once

#include <QString>

namespace ztv {

// 1 while a picture of the current tab has been chosen and shown; cleared by a tab switch,
// any mouse button over a tree and the operations that change a folder.
extern qint16 PictureSelected;
// The file the preview window opens; "" for none.
extern QString PreviewPath;

} // namespace ztv
