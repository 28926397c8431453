#pragma once

namespace ztv {

class BoxKeys;
class FolderTree;
struct StoragePaths;

// Shows each box's key beside its name in tree, a tree over the vault of paths, and shows them
// anew whenever keys change. Each window sets this on its own trees (its vault tab's, its
// chooser's), so a second window's keys never show in the first's trees. No keys: no notes.
// The paths are read when a note is asked for: a window sets them when it loads.
void showBoxKeys(FolderTree& tree, BoxKeys* keys, const StoragePaths& paths);

} // namespace ztv
