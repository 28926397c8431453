#pragma once

#include "values/Area.h"

#include <QString>
#include <optional>

class QMenu;
class QWidget;

namespace ztv {

class BoxKeys;
class BrowseRun;
class BrowsingArea;
class ContentIndex;
class FilingJournal;
class PictureDisplay;
class SaveDialog;
struct Services;
struct StoragePaths;

// What the operations (boxes, file operations, vault transfer, the destination chooser, the
// paste area, saving, spreadsheet export) may use of the main window. The main window
// implements it; tests may drive the operations through it.
class OperationContext {
public:
    virtual ~OperationContext() = default;

    virtual const Services& services() const = 0;
    virtual const StoragePaths& storagePaths() const = 0;
    // The window the operations' dialogs belong to; disabled while a dialog must be answered.
    virtual QWidget* ownerWindow() = 0;

    // The browsing tab shown; none on the paste tab.
    virtual std::optional<Area> currentArea() const = 0;
    virtual BrowsingArea& area(Area area) = 0;
    // PictureSelected: set by a successful choice of a thumbnail, ended by a tab switch, a
    // press over a tree and the file operations that change a folder. Delete, rename, the
    // clipboard copy and the transfer request act only while it is set.
    virtual bool pictureSelected() const = 0;
    virtual void setPictureSelected(bool selected) = 0;

    // The paste tab's displays (LEAD2 shown, LEAD3 the hidden copy for GIF saves) and the
    // save dialog of its saves.
    virtual PictureDisplay& LEAD2() = 0;
    virtual PictureDisplay& LEAD3() = 0;
    virtual SaveDialog& LEADDlg1() = 0;
    // Opens the paste area's menu at the pointer.
    virtual void popupPasteMenu() = 0;
    // What the vault holds by content; none where the window has not made one.
    virtual ContentIndex* contentIndex() { return nullptr; }

    // The journal the filing steps are written to, so they can be undone; none keeps no record.
    virtual FilingJournal* journal() { return nullptr; }
    // The keys given to boxes; none without them.
    virtual BoxKeys* boxKeys() { return nullptr; }
    // The window's operation under way, which a command, a drop or a box key holds while it
    // runs (BrowseRun::Hold); none where nothing else can run meanwhile.
    virtual BrowseRun* operationRun() { return nullptr; }
};

} // namespace ztv
