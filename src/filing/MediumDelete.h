#pragma once

#include <QString>

namespace ztv {

class OperationContext;
struct Medium;

// "保管済みの画像をメディアから削除…": frees a removable medium of the pictures the vault already
// holds. A picture goes with its companions (RAW, .MOV, .AAE, .xmp of the same stem in its
// folder), and only when every one of them is proved at that moment: the vault copy the
// content index names is read back from the vault's disk (its cached pages dropped first) and
// compared byte for byte with the medium's file, and neither has changed since when it goes.
// The user is asked first (Cancel the default), told how many go and how many stay and why.
// They go to the medium's own trash, as one journal step that undo takes back while the
// medium is there; where no trash can be made, the question says they cannot be restored.
class MediumDelete {
public:
    // Whether the medium may lose files: not a read-only one, a phone that refuses writing (to
    // access(), or to GIO: Medium::refusesDeletion), or a disc.
    static bool canDelete(const Medium& medium);
    // On the CD tab's medium whose root is current; under the command's BrowseRun::Hold, as
    // every command runs.
    static void run(OperationContext& context);
};

} // namespace ztv
