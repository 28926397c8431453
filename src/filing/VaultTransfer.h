#pragma once

#include "filing/FilingRoad.h"

#include <QPointer>
#include <QString>
#include <optional>

class QMimeData;

namespace ztv {

class OperationContext;
class SetFolder;

// Copying a CD picture, or moving a stock-yard picture, into a box of the vault: the front end
// of the chooser, the drops onto the vault trees and the box keys, each making a FilingRequest
// that filing::fileRequest files. A chooser request records the tab's choice and opens the
// destination chooser; its action button files that request.
class VaultTransfer {
public:
    using Mode = FilingRequest::Mode;

    void RCD_Fav_Copy_Click(OperationContext& context);
    void R_Fav_Copy_Click(OperationContext& context);

    // The open chooser, if any.
    SetFolder* chooser() const;
    // What the chooser's action button files: the choice as the last request took it (its
    // destination is the chooser's); none before any request.
    const std::optional<FilingRequest>& chooserRequest() const { return m_request; }
    // The chooser tells it is closing (a button or its close box), so the next request loads
    // a new one.
    void chooserClosed(SetFolder* chooser);
    // Files the chooser's request into the vault folder with that tree path ("保管庫", "保管庫/旅行").
    FilingOutcome fileInto(OperationContext& context, const QString& destinationTreePath);
    // A box key: the current tab's chosen pictures into that box as the chooser would file them
    // (copied from the CD, moved from the stock yard or within the vault), with no chooser; the
    // chooser's own request stays as it was.
    FilingOutcome fileByKey(OperationContext& context, const QString& destinationTreePath);

    // Whether data dropped onto the vault folder with that tree path would file anything:
    // the program's own drag of chosen thumbnails from another folder, or files of another
    // program.
    bool canDropInto(OperationContext& context, const QString& treePath, const QMimeData& data) const;
    // Files a drop as the chooser would: a move from the stock yard and within the vault, a
    // copy from the CD, a copy with Ctrl held; another program's files are copied, and those
    // that are not pictures named in the closing message.
    FilingOutcome dropInto(OperationContext& context, const QString& treePath, const QMimeData& data,
        Qt::KeyboardModifiers keys);

private:
    void request(OperationContext& context, Mode mode);
    // The current tab's choice as a request; none when there is none to act on.
    std::optional<FilingRequest> take(OperationContext& context, Mode mode, FilingRequest::Who who);

    QPointer<SetFolder> m_chooser;
    std::optional<FilingRequest> m_request;
};

} // namespace ztv
