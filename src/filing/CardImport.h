#pragma once

#include "filing/FilingRoad.h"
#include "filing/SetFolder.h"

#include <QPointer>
#include <QString>
#include <QStringList>

namespace ztv {

class OperationContext;

// "新しい画像を保管庫へコピー…": every picture below a folder of a medium (a card, a stick, a
// phone, the disc) whose content the vault does not hold yet, copied into one box.
//
// Names are kept; a name the box holds with other content gets a number ("名前 (2).JPG"), a
// name it holds with the same content copies nothing. A picture's companions (its RAW, a
// phone's motion clip, .AAE and .xmp sidecars: filing/Companions.h) go with it and take the
// same number. Every copy is FileOps' proved copy (read back from the disk before it gets
// its name), never replacing. The run is one journal step (undone: exactly its copies to the
// trash); Esc stops it between two files, or inside a large one whose partial copy goes, so
// each file is whole under its name or absent.
//
// Which files are in the vault is the content index's answer; a medium file proved once (its
// device, inode, size and time, and the vault copy's size and time unchanged) is known from
// then on without reading it again, so a second run over the same card asks only that.
class CardImport {
public:
    struct Outcome {
        int copied = 0; // files copied, companions included
        int inVault = 0; // files whose content the vault held already
        int renamed = 0; // copies that took a numbered name
        QStringList problems; // "name（reason）" of each file not copied
        bool stopped = false; // Esc or closing the window ended it early
        qint64 step = 0; // the journal's step; 0 when nothing was copied
        QList<FilingOutcome::Filed> filed;
    };

    // The command on the CD tab's marked folder: opens the destination chooser, whose button
    // imports into the box chosen.
    void start(OperationContext& context);
    // The import itself: the pictures below folder (on disk) into destination (a vault tree
    // path, "保管庫/旅行"). Holds nothing itself: the caller holds the window's operation.
    Outcome importInto(OperationContext& context, const QString& folder, const QString& destination);

    SetFolder* chooser() const { return m_chooser.data(); }

private:
    QPointer<SetFolder> m_chooser;
    QString m_folder;
};

} // namespace ztv
