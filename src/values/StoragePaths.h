#pragma once

#include "values/Area.h"

#include <QString>

namespace ztv {

class Drives;

inline constexpr int CSIDL_PROFILE = 40;

// Where the storage root and its two areas lie. Made once while the main window loads and
// handed to every filing operation through its context.
struct StoragePaths {
    PerArea<QString> AreaBasePath; // the CD's is ""; the others the storage root with "/"
    QString StockYardPath; // no trailing "/"
    QString VaultPath; // no trailing "/"
};

inline constexpr char16_t kStockYardName[] = u"ストックヤード";
inline constexpr char16_t kVaultName[] = u"保管庫";

// The profile folder for CSIDL_PROFILE: $HOME when set and not empty, else the passwd home,
// else "". Any other identifier gives "".
QString GetSpecialFolderPath(Drives& drives, int folderId);

// The part before the first NUL; "" when the text holds no NUL at all.
QString CutAtNul(const QString& text);

// The storage paths below a profile folder ("" names folders at the file-system root).
StoragePaths SetStoragePaths(const QString& profile);

// The first CD drive as it is now.
struct CdDrive {
    QString name; // what FindFirstCdDrive returns
    QString device; // "/dev/sr0", "/dev/loop3"; "" when there is no drive
    bool mounted = false;
    int mountId = -1; // of the mounted medium; another disc at the same place differs

    bool operator==(const CdDrive&) const = default;
};
CdDrive FirstCdDrive(Drives& drives);

// The first optical drive: sr0 ... sr10 in that order, then loop-mounted iso9660/udf
// images. A mounted disc is named by its mount point, a drive without a mounted disc by
// its device path. "" when there is none.
QString FindFirstCdDrive(Drives& drives);

// What the CD tab's root node is called: the drive's name, or ":" when there is none.
QString CdRootName(Drives& drives);

} // namespace ztv
