#pragma once

#include <QPointer>
#include <QString>

namespace ztv {

class MainForm;
class SetFolder;

// Copying a CD picture, or moving a stock-yard picture, into a box of the vault. A request
// records the selected picture and opens the destination chooser; the chooser's action
// button files it with fileInto.
class VaultTransfer {
public:
    enum Mode : qint16 { Copy = 1, Move = 2 };

    void RCD_Fav_Copy_Click(MainForm& form);
    void R_Fav_Copy_Click(MainForm& form);

    // The request, as the last request left it.
    QString TransferFile;         // full path of the picture
    QString TransferSourceFolder; // tree path of the source tab's current folder
    qint16 TransferMode = 0;

    // The open chooser, if any.
    SetFolder* chooser() const;
    // Closes the chooser; it is deleted once control is back in the event loop.
    void unloadChooser();
    // The chooser tells it is closing (a button or its close box), so the next request loads
    // a new one.
    void chooserClosed(SetFolder* chooser);
    // Files TransferFile into the vault folder with that tree path ("保管庫", "保管庫/旅行").
    void fileInto(MainForm& form, const QString& destinationTreePath);

private:
    void request(MainForm& form, Mode mode);
    void copyInto(MainForm& form, const QString& folder, const QString& file);
    void moveInto(MainForm& form, const QString& folder, const QString& file);
    void openVaultAt(MainForm& form, const QString& folder);

    QPointer<SetFolder> m_chooser;
};

} // namespace ztv
