#include "display/SelectionState.h"

namespace ztv {

qint16 PictureSelected = 0;
QString PreviewPath;

} // namespace ztv
