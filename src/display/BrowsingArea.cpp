#include "display/BrowsingArea.h"

#include "display/texts.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/Prompts.h"
#include "widgets/CommandButton.h"
#include "widgets/FolderTree.h"
#include "widgets/FormLayout.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>

namespace ztv {

namespace {

void drawSelected(ThumbnailList* list, int item)
{
    list->SetAllSelected(false);
    if (item >= 0)
        list->SetItemSelected(item);
}

} // namespace

BrowsingArea::BrowsingArea(Area area, const QString& name, QWidget* parent)
    : QWidget(parent)
    , area(area)
{
    using layout::t;
    using layout::tw;
    namespace tx = texts::display;
    const int tab = tabIndex(area);
    auto named = [tab](QWidget* w, const char* name) {
        w->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(tab));
    };

    TreeView1 = new FolderTree(this);
    named(TreeView1, "TreeView1");
    TreeView1->setGeometry(tw(345, 885, 2970, 4890));
    TreeView1->setAccessibleName(t(tx::AccFolder).arg(name));
    TreeView1->setNodeCounter(&NodeCount);

    Shape1 = new QFrame(this);
    named(Shape1, "Shape1");
    Shape1->setGeometry(tw(345, 6000, 2970, 2700));
    Shape1->setFrameShape(QFrame::Box);

    Label2 = new QLabel(t(tx::SelectedPicture), this);
    named(Label2, "Label2");
    Label2->setGeometry(tw(915, 6195, 1890, 360));
    // The caption lies over the display: a click on it is a click on the display.
    Label2->setAttribute(Qt::WA_TransparentForMouseEvents);

    LEAD1 = new PictureDisplay(this);
    named(LEAD1, "LEAD1");
    LEAD1->setGeometry(tw(375, 6015, 2835, 2655));
    LEAD1->setAccessibleName(t(tx::AccSelected).arg(name));
    // The caption names the empty display and would hide part of a picture, so it shows
    // only while the display is empty.
    LEAD1->installEventFilter(this);
    Label2->raise();

    LEADImgList1 = new ThumbnailList(this);
    named(LEADImgList1, "LEADImgList1");
    LEADImgList1->setGeometry(tw(3480, 870, 8640, 7845));
    LEADImgList1->setAccessibleName(t(tx::AccThumbnails).arg(name));

    LEADThumb1 = new ThumbnailBrowser(this);
    LEADThumb1->setObjectName(QStringLiteral("LEADThumb1_%1").arg(tab));

    Combo1 = new QComboBox(this);
    named(Combo1, "Combo1");
    Combo1->setGeometry(tw(11040, 540, 615, 300));
    Combo1->setAccessibleName(t(tx::AccPage).arg(name));
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    Label1 = new QLabel(t(tx::Slash), this);
    named(Label1, "Label1");
    Label1->move(tw(11670, 555, 0, 0).topLeft());
    Label3 = new QLabel(this);
    named(Label3, "Label3");
    Label3->setGeometry(tw(11880, 570, 600, 300));
    // The role; ComboSet names the label with the role and the count it shows.
    Label3->setAccessibleDescription(t(tx::AccPageCount).arg(name));
    Label3->setAccessibleName(Label3->accessibleDescription());
}

QList<QToolButton*> BrowsingArea::addCommands(
    const char* arrayName, std::initializer_list<QAction*> actions, int firstSlot)
{
    static const int lefts[] = { 360, 1162, 1965, 3510, 4320, 5130, 5940 };
    QList<QToolButton*> buttons;
    int slot = firstSlot;
    for (QAction* action : actions) {
        auto* b = new CommandButton(action, this);
        b->setGeometry(layout::tw(lefts[slot++], 120, 750, 705));
        b->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(arrayName)).arg(buttons.size()));
        buttons << b;
    }
    return buttons;
}

void BrowsingArea::TreeEnum(const QStringList& parentKeys)
{
    TreeView1->TreeEnum(parentKeys);
}

void BrowsingArea::Node_Exp(const QString& treePath)
{
    TreeView1->Node_Exp(treePath);
    CurrentNodePath = TreeView1->markedPath();
}

void BrowsingArea::ReopenTreePath(const QString& treePath)
{
    const QStringList parts = treePath.split(QLatin1Char('/'));
    QString path;
    for (const QString& part : parts) {
        path = path.isEmpty() ? part : path + QLatin1Char('/') + part;
        Node_Exp(path);
    }
}

bool BrowsingArea::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && watched == LEAD1)
        Label2->setVisible(!LEAD1->hasPicture());
    return QWidget::eventFilter(watched, event);
}

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
