#pragma once

#include <QPointer>
#include <QString>

class QWidget;

namespace ztv {

class OperationContext;
class PictureDisplay;
class SaveSelect;
struct SaveRequest;

// Saving the pasted picture: BMP, JPEG or PNG from LEAD2 through the format chooser, GIF
// from LEAD3 straight through the save dialog. A file saved into the stock yard or the vault
// is shown there at once: the area's tree opens down to its folder and the page is rebuilt.
class PictureSaving {
public:
    PictureSaving();
    ~PictureSaving();
    PictureSaving(const PictureSaving&) = delete;
    PictureSaving& operator=(const PictureSaving&) = delete;

    // Disables the main window and shows the chooser, which re-enables it on every way out.
    void Clip_Save1_Click(OperationContext& context);
    void Clip_Save2_Click(OperationContext& context);
    // The chooser's buttons: 0 saves with the chosen format, 1 cancels and unloads it.
    void SaveSelect_Command1_Click(OperationContext& context, int index);
    SaveSelect* saveSelect() const; // while loaded

    // Opens the tree and rebuilds the page of the area a saved file landed in. With
    // checkBrowse a failed listing is reported.
    void RefreshAfterSave(OperationContext& context, const QString& path, bool checkBrowse);

private:
    void chooserSave(OperationContext& context);
    // Dialog set-up and ShowSaveDialog; code 0 leaves the offered format as it stands.
    SaveRequest askFile(OperationContext& context, int code, bool formatOptions, QWidget* owner);
    bool mayWrite(OperationContext& context, const QString& path);
    bool written(OperationContext& context, const PictureDisplay& source, bool ok);

    QPointer<SaveSelect> m_select;
};

} // namespace ztv
