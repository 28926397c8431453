#pragma once

#include <QString>

namespace ztv::companions {

// The files that belong to one picture on a camera's or a phone's medium: the picture and,
// under the same stem in the same folder, its RAW, a phone's motion clip (.MOV) and its
// sidecars (.AAE, .xmp; a sidecar may carry the picture's whole name, "IMG_0001.CR3.xmp").
// Names are compared without regard to case, as cameras and phones write them.

// By extension only; no file is read.
bool isRaw(const QString& name);
bool isCameraPicture(const QString& name); // a RAW, or a JPEG or HEIF as cameras write them
bool isSidecar(const QString& name);
bool isMotionClip(const QString& name);
// Goes with the picture of its stem: a RAW, a sidecar or a motion clip.
bool isCompanion(const QString& name);

// A file's name as the stem it shares with its picture and the rest ("IMG_0001", ".JPG";
// "IMG_0001", ".CR3.xmp").
struct NameParts {
    QString stem;
    QString rest;
};
NameParts splitName(const QString& name);

// What the files of one group share: the folder and the stem, case folded. path is a full
// path or a bare name.
QString groupKey(const QString& path);

} // namespace ztv::companions
