#pragma once

#include "display/PictureChoice.h"
#include "values/Area.h"

#include <QList>
#include <optional>

class QMimeData;

namespace ztv {

// What the program's own drag of chosen thumbnails carries besides the text/uri-list other
// programs read: the tab they were chosen on and each file as path bytes plus identity, so a
// drop acts on exactly the files chosen, or on nothing.
struct PictureDrag {
    Area source = Area::StockYard;
    QList<PictureChoice> files;

    // The MIME type of the program's own drags.
    static constexpr char MimeType[] = "application/x-zentovi-pictures";

    void writeTo(QMimeData& data) const;
    // The drag as this very process made it; none for data of another process or program.
    static std::optional<PictureDrag> readFrom(const QMimeData& data);
};

// The local files of a drop from another program (file: URLs, their path bytes kept).
QStringList droppedLocalFiles(const QMimeData& data);

} // namespace ztv
