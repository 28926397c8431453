#include "display/BrowsingArea.h"

#include "display/texts.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailList.h"
#include "platform/Prompts.h"

namespace ztv {

namespace {

void drawSelected(ThumbnailList* list, int item)
{
    list->SetAllSelected(false);
    if (item >= 0)
        list->SetItemSelected(item);
}

} // namespace

void reportChoiceGone(Prompts& prompts, const char16_t* text, const char16_t* errorTitle)
{
    // As the operation's own errors read; the operations without error messages inform.
    if (errorTitle)
        prompts.message(QString::fromUtf16(text), QString::fromUtf16(errorTitle), PromptIcon::Critical);
    else
        prompts.message(QString::fromUtf16(text));
}

bool BrowsingArea::choose(int item)
{
    const QString path = HiddenList.value(item);
    std::optional<PictureChoice> choice = PictureChoice::of(path);
    if (item >= 0 && item < HiddenList.size() && choice && LEAD1->LoadPicture(path)) {
        TabSelection = std::move(choice);
        drawSelected(LEADImgList1, item);
        return true;
    }
    // The listing no longer describes the folder.
    ClearTabPictures();
    return false;
}

void BrowsingArea::clearSelection()
{
    TabSelection.reset();
    LEAD1->ClearPicture();
    LEADImgList1->SetAllSelected(false);
}

void BrowsingArea::afterListing()
{
    const qsizetype at = TabSelection ? HiddenList.indexOf(TabSelection->path) : -1;
    if (at < 0 || !TabSelection->isStillOnDisk() || LEAD1->sourcePath() != TabSelection->path) {
        clearSelection();
        return;
    }
    drawSelected(LEADImgList1, int(at));
}

void BrowsingArea::clearPage()
{
    LEADImgList1->ClearThumbnails();
    HiddenList.clear();
}

void BrowsingArea::ClearTabPictures()
{
    clearPage();
    clearSelection();
}

std::optional<QString> BrowsingArea::fileToActOn(Prompts& prompts, const char16_t* errorTitle)
{
    if (!TabSelection)
        return std::nullopt;
    if (TabSelection->isStillOnDisk())
        return TabSelection->path;
    reportChoiceGone(prompts, texts::display::ChosenFileChanged, errorTitle);
    clearSelection();
    return std::nullopt;
}

std::optional<QString> BrowsingArea::fileOrNothingToActOn(Prompts& prompts)
{
    if (!TabSelection)
        return QString();
    return fileToActOn(prompts);
}

QString BrowsingArea::invariantViolation() const
{
    const QList<int> drawn = LEADImgList1->selectedItems();
    if (!TabSelection) {
        if (LEAD1->hasPicture())
            return QStringLiteral("the display shows %1 while nothing is chosen").arg(LEAD1->sourcePath());
        if (!drawn.isEmpty())
            return QStringLiteral("thumbnail %1 is drawn selected while nothing is chosen")
                .arg(drawn.first());
        return QString();
    }
    const QString& path = TabSelection->path;
    if (!LEAD1->hasPicture() || LEAD1->sourcePath() != path)
        return QStringLiteral("the display shows '%1' but '%2' is chosen").arg(LEAD1->sourcePath(), path);
    const qsizetype at = HiddenList.indexOf(path);
    if (at < 0)
        return QStringLiteral("the chosen '%1' is not on the page").arg(path);
    if (drawn != QList<int> { int(at) })
        return QStringLiteral("the chosen '%1' is item %2 but the drawn selection is other")
            .arg(path)
            .arg(at);
    return QString();
}

} // namespace ztv
