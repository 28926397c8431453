#pragma once

#include "display/PictureChoice.h"
#include "platform/FileOps.h"
#include "values/Area.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace ztv {

class OperationContext;

// Pictures to be filed into one box of the vault, however they were asked for.
struct FilingRequest {
    enum class Mode { Copy, Move };
    // Who asked: the destination chooser's button, a drop onto a vault tree, a box key, or an
    // import from a medium.
    enum class Who { Chooser, Drop, Key, Import };

    std::optional<Area> source; // the tab they were chosen on; none for another program's files
    QString sourceFolder; // tree path of the folder they were listed from
    QList<PictureChoice> files; // each as it was when asked
    QString destination; // the box as a vault tree path ("保管庫", "保管庫/旅行")
    Mode mode = Mode::Copy;
    Who who = Who::Chooser;
    QStringList refused; // "name（reason）" of files refused before the request was made

    // The tab's one chosen picture, through the chooser or a key: filed and told as a single
    // copy or move always was (its own messages rather than a batch's closing message).
    bool single() const
    {
        return files.size() == 1 && refused.isEmpty() && (who == Who::Chooser || who == Who::Key);
    }
};

// What a request did.
struct FilingOutcome {
    struct Filed {
        QString from;
        QString to;
    };
    enum class Why { Clash, Changed, Failed };
    struct NotFiled {
        QString path;
        Why why = Why::Failed;
        FileResult result; // of the failed copy or move
    };

    // Nothing was tried: the tab's choice was no longer the request's, or the user skipped
    // every file the vault already holds.
    bool refused = false;
    QList<Filed> filed {};
    QList<NotFiled> notFiled {}; // in file order
    int skipped = 0; // files the vault holds already, left at the user's word
    qint64 step = 0; // the journal's step of what was filed; 0 when none was written
    bool stopped = false; // Esc or closing the window ended it before the last file

    bool anyFiled() const { return !filed.isEmpty(); }
    // The files whose name the box already held.
    QStringList clashed() const;
};

namespace filing {

// Files a request: the tab's choice checked against it first, files the vault already holds
// asked about, then file by file as a run of the tab (each checked against the disk just
// before its turn, never onto a stored file), one journal step for the whole, the thumbnail
// cache following, each side listed once, and one closing message (a single request tells
// its one file as a single copy or move does).
FilingOutcome fileRequest(OperationContext& context, const FilingRequest& request);

} // namespace filing
} // namespace ztv
