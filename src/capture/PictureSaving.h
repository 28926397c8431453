#pragma once

#include <QPointer>
#include <QString>

class QWidget;

namespace ztv {

class MainForm;
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
    void Clip_Save1_Click(MainForm& form);
    void Clip_Save2_Click(MainForm& form);
    // The chooser's buttons: 0 saves with the chosen format, 1 cancels and unloads it.
    void SaveSelect_Command1_Click(MainForm& form, int index);
    SaveSelect* saveSelect() const; // while loaded

    // Opens the tree and rebuilds the page of the area a saved file landed in. With
    // checkBrowse a failed listing is reported.
    void RefreshAfterSave(MainForm& form, const QString& path, bool checkBrowse);

private:
    void chooserSave(MainForm& form);
    // Dialog set-up and ShowSaveDialog; code 0 leaves the offered format as it stands.
    SaveRequest askFile(MainForm& form, int code, bool formatOptions, QWidget* owner);
    bool mayWrite(MainForm& form, const QString& path);
    bool written(MainForm& form, const PictureDisplay& source, bool ok);

    QPointer<SaveSelect> m_select;
};

} // namespace ztv
