#pragma once

#include "display/PictureChoice.h"
#include "values/Area.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>

class QMimeData;

namespace ztv {

class OperationContext;
class SetFolder;

// Copying a CD picture, or moving a stock-yard picture, into a box of the vault. A request
// records the chosen picture and opens the destination chooser; the chooser's action
// button files it with fileInto.
class VaultTransfer {
public:
    enum class Mode { Copy, Move };

    void RCD_Fav_Copy_Click(OperationContext& context);
    void R_Fav_Copy_Click(OperationContext& context);

    // The request, as the last request left it.
    std::optional<PictureChoice> TransferFile; // the picture, as it was when asked
    // Every chosen picture of the request when there were several, as they were; else empty.
    QList<PictureChoice> TransferFiles;
    Area TransferSourceArea = Area::Cd; // the tab it was chosen on
    QString TransferSourceFolder; // tree path of the source tab's current folder
    Mode TransferMode = Mode::Copy;

    // The open chooser, if any.
    SetFolder* chooser() const;
    // The chooser tells it is closing (a button or its close box), so the next request loads
    // a new one.
    void chooserClosed(SetFolder* chooser);
    // Files TransferFile into the vault folder with that tree path ("保管庫", "保管庫/旅行").
    void fileInto(OperationContext& context, const QString& destinationTreePath);
    // A box key: the current tab's chosen pictures into that box as the chooser would file them
    // (copied from the CD, moved from the stock yard or within the vault), with no chooser.
    // Gives how many files it filed.
    int fileByKey(OperationContext& context, const QString& destinationTreePath);

    // Files checked against the disk, to be filed into one box.
    struct Batch {
        std::optional<Area> source; // the tab they were chosen on; none for another program's
        QString sourceFolder; // tree path of the folder they were listed from
        QList<PictureChoice> files;
        Mode mode = Mode::Copy;
        QStringList refused; // "name（reason）" of files refused before the run
    };
    // Every filing of several files into a box goes through here (the chooser's action
    // button and the drops): no replace, each file checked before its turn, then the source
    // page and the box listed once, and one closing message. Files the vault already holds
    // are asked about first.
    void fileBatchInto(OperationContext& context, Batch batch, const QString& destinationTreePath);

    // Whether data dropped onto the vault folder with that tree path would file anything:
    // the program's own drag of chosen thumbnails from another folder, or files of another
    // program.
    bool canDropInto(OperationContext& context, const QString& treePath, const QMimeData& data) const;
    // Files a drop as the chooser would: a move from the stock yard and within the vault, a
    // copy from the CD, a copy with Ctrl held; another program's files are copied, and those
    // that are not pictures named in the closing message.
    void dropInto(OperationContext& context, const QString& treePath, const QMimeData& data,
        Qt::KeyboardModifiers keys);

private:
    void request(OperationContext& context, Mode mode);
    // Records the current tab's choice as the request; false when there is none to act on.
    bool take(OperationContext& context, Mode mode);
    // treePath is the destination's vault tree path; file the full path filed to.
    void copyInto(
        OperationContext& context, const QString& treePath, const QString& source, const QString& file);
    void moveInto(
        OperationContext& context, const QString& treePath, const QString& source, const QString& file);
    void openVaultAt(OperationContext& context, const QString& treePath);
    // The several files of the request, each into the box, then each side listed once.
    void fileSeveralInto(OperationContext& context, const QString& destinationTreePath);

    QPointer<SetFolder> m_chooser;
    int m_filed = 0; // files copied or moved into the vault since fileByKey began
};

} // namespace ztv
