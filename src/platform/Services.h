#pragma once

namespace ztv {

class Prompts;
class Shell;
class Drives;
class Spreadsheet;
class FileOps;
class Media;

// The desktop services the main window and its operations use; tests bundle fakes.
struct Services {
    Prompts& prompts;
    Shell& shell;
    Drives& drives;
    Spreadsheet& spreadsheet;
    FileOps& fileOps;
    // The removable media shown beside the disc; none leaves the CD tab with the disc alone.
    Media* media = nullptr;
};

} // namespace ztv
