#pragma once

#include "display/BrowsingArea.h"
#include "platform/Prompts.h"
#include "values/Area.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace ztv {

class FileOps;
class FolderFlushes;
class OperationContext;
struct FileResult;
struct PictureChoice;

// Steps the box, file and transfer operations share.
namespace filing {

// The message for a listing that did not finish: stopped, or failed with its code.
void reportBrowse(OperationContext& context, const BrowsingArea::Listing& listing);

// What a run over several chosen files did.
struct BatchOutcome {
    int total = 0;
    int done = 0; // files the operation succeeded on
    QStringList problems; // "name（reason）" for each file that clashed or failed
    QStringList doneFiles; // the source paths done
    bool stopped = false; // Esc ended it before the last file
};

// Runs act on each file, in turn, as a run of tab's (window disabled, a progress line of
// progressText, Esc between two files); each file is checked against the disk just before
// its turn, and one that changed since it was chosen is not touched. Clashes and failures
// are collected, never shown here.
BatchOutcome runBatch(BrowsingArea& tab, const QList<PictureChoice>& files, const char16_t* progressText,
    const std::function<FileResult(const QString& path)>& act);
// A file from this size on shows its copy's progress in the run's line.
inline constexpr qint64 LargeCopyBytes = 64LL * 1024 * 1024;

// Copies from to to (moves it, with later: a move that copies) as a step of a run of tab's:
// a large copy shows its progress in the run's line, and Esc stops it between two blocks (its
// partial file removed: Cancelled) besides stopping the run after it.
FileResult copyWatched(
    BrowsingArea& tab, FileOps& ops, const QString& from, const QString& to, FolderFlushes* later);

// The one closing message of a batch: nothing when every file was done; how many were done,
// the stop and every file that was not, otherwise (under title when any file was not).
void reportBatch(
    OperationContext& context, const BatchOutcome& outcome, const char16_t* doneText, const char16_t* title);

// A critical error box with OK.
void showError(OperationContext& context, const QString& text, const char16_t* title);
void showError(OperationContext& context, const char16_t* text, const char16_t* title);

// What a failed file operation tells the user: its own detail, or the fallback text.
QString failureText(const FileResult& result, const char16_t* fallback);

} // namespace filing
} // namespace ztv
