#pragma once

namespace ztv {

class Prompts;
class Shell;
class Drives;
class Spreadsheet;
class FileOps;

// The desktop services the main window and its operations use; tests bundle fakes.
struct Services {
    Prompts& prompts;
    Shell& shell;
    Drives& drives;
    Spreadsheet& spreadsheet;
    FileOps& fileOps;
};

} // namespace ztv
