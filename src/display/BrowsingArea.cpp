#include "display/BrowsingArea.h"

#include "display/BrowseRun.h"
#include "display/PictureDrag.h"
#include "display/texts.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/PathCodec.h"
#include "platform/Prompts.h"
#include "widgets/FolderTree.h"
#include "widgets/FormLayout.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QMimeData>
#include <QSet>
#include <QTimer>
#include <QUrl>

namespace ztv {

namespace {

void drawSelected(ThumbnailList* list, int item)
{
    list->SetAllSelected(false);
    if (item >= 0)
        list->SetItemSelected(item);
}

} // namespace

BrowsingArea::BrowsingArea(Area area, const QString& name, TabWindow& window, BrowseRun& run,
    const Services& services, const StoragePaths& paths, QWidget* parent)
    : QWidget(parent)
    , m_area(area)
    , m_window(window)
    , m_run(run)
    , m_services(services)
    , m_paths(paths)
{
    using layout::t;
    using layout::tw;
    namespace tx = texts::display;
    const int tab = tabIndex(area);
    auto named = [tab](QWidget* w, const char* name) {
        w->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(tab));
    };

    m_TreeView1 = new FolderTree(this);
    named(m_TreeView1, "m_TreeView1");
    m_TreeView1->setGeometry(tw(345, 885, 2970, 4890));
    m_TreeView1->setAccessibleName(t(tx::AccFolder).arg(name));
    m_TreeView1->setNodeCounter(&m_NodeCount);

    m_Shape1 = new QFrame(this);
    named(m_Shape1, "m_Shape1");
    m_Shape1->setGeometry(tw(345, 6000, 2970, 2700));
    m_Shape1->setFrameShape(QFrame::Box);

    m_Label2 = new QLabel(t(tx::SelectedPicture), this);
    named(m_Label2, "m_Label2");
    m_Label2->setGeometry(tw(915, 6195, 1890, 360));
    // The caption lies over the display: a click on it is a click on the display.
    m_Label2->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_LEAD1 = new PictureDisplay(this);
    named(m_LEAD1, "m_LEAD1");
    m_LEAD1->setGeometry(tw(375, 6015, 2835, 2655));
    m_LEAD1->setAccessibleName(t(tx::AccSelected).arg(name));
    // The caption names the empty display and would hide part of a picture, so it shows
    // only while the display is empty.
    m_LEAD1->installEventFilter(this);
    m_Label2->raise();

    m_LabelChosen = new QLabel(this);
    named(m_LabelChosen, "m_LabelChosen");
    m_LabelChosen->setGeometry(tw(6800, 555, 4100, 300));
    m_LabelChosen->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_LabelChosen->hide();

    m_LEADImgList1 = new ThumbnailList(this);
    named(m_LEADImgList1, "m_LEADImgList1");
    m_LEADImgList1->setGeometry(tw(3480, 870, 8640, 7845));
    m_LEADImgList1->setAccessibleName(t(tx::AccThumbnails).arg(name));
    // Other programs get the chosen files as they were chosen, or nothing.
    m_LEADImgList1->setDragFiles([this] {
        QList<QUrl> urls;
        for (const PictureChoice& c : std::as_const(m_Chosen)) {
            if (!c.isStillOnDisk())
                return QList<QUrl>();
            // The path's own bytes, so a name that is not UTF-8 reaches the other program whole.
            urls << fileUrl(c.path);
        }
        return urls;
    });
    // Called only once the files were found unchanged.
    m_LEADImgList1->setDragExtra([this](QMimeData& data) { PictureDrag { m_area, m_Chosen }.writeTo(data); });

    m_LEADThumb1 = new ThumbnailBrowser(this);
    m_LEADThumb1->setObjectName(QStringLiteral("LEADThumb1_%1").arg(tab));

    m_Combo1 = new QComboBox(this);
    named(m_Combo1, "m_Combo1");
    m_Combo1->setGeometry(tw(11040, 540, 615, 300));
    m_Combo1->setAccessibleName(t(tx::AccPage).arg(name));
    connect(m_Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    m_Label1 = new QLabel(t(tx::Slash), this);
    named(m_Label1, "m_Label1");
    m_Label1->move(tw(11670, 555, 0, 0).topLeft());
    m_Label3 = new QLabel(this);
    named(m_Label3, "m_Label3");
    m_Label3->setGeometry(tw(11880, 570, 600, 300));
    // The role; ComboSet names the label with the role and the count it shows.
    m_Label3->setAccessibleDescription(t(tx::AccPageCount).arg(name));
    m_Label3->setAccessibleName(m_Label3->accessibleDescription());

    m_OnlyNew = new QCheckBox(t(tx::OnlyNew), this);
    named(m_OnlyNew, "m_OnlyNew");
    // Between the tab's buttons and the count of chosen pictures, left of the page selector.
    m_OnlyNew->setGeometry(tw(6000, 540, 2600, 300));
    m_OnlyNew->setAccessibleName(t(tx::AccOnlyNew).arg(name));
    m_OnlyNew->hide();
    m_filterTimer = new QTimer(this);
    m_filterTimer->setSingleShot(true);
    // Answers come one file at a time: the page is laid out again once for a burst of them.
    m_filterTimer->setInterval(50);
    connect(m_filterTimer, &QTimer::timeout, this, &BrowsingArea::applyOnlyNew);
    connect(m_OnlyNew, &QCheckBox::toggled, this, &BrowsingArea::applyOnlyNew);

    m_LabelMedium = new QLabel(t(tx::PhoneLocked), this);
    named(m_LabelMedium, "m_LabelMedium");
    m_LabelMedium->setGeometry(tw(3700, 1300, 8200, 900));
    m_LabelMedium->setAlignment(Qt::AlignCenter);
    m_LabelMedium->setWordWrap(true);
    m_LabelMedium->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_LabelMedium->hide();
    m_LabelMedium->raise();
    if (area == Area::Cd) {
        // Folders that phones, cameras and desktops keep for themselves on a medium.
        m_TreeView1->setHiddenFolders([this](const QString& folder) {
            return mediumOf(folder)
                && isMediumHousekeeping(folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1));
        });
    }
    if (area != Area::Cd)
        m_CurrentNodePath = QString::fromUtf16(area == Area::StockYard ? kStockYardName : kVaultName);
    connectControls();
}

void BrowsingArea::connectControls()
{
    connect(m_TreeView1, &QTreeWidget::itemExpanded, this, &BrowsingArea::TreeView1_Expand);
    connect(m_TreeView1, &QTreeWidget::itemCollapsed, this, &BrowsingArea::TreeView1_Collapse);
    connect(m_TreeView1, &QTreeWidget::itemClicked, this, &BrowsingArea::TreeView1_NodeClick);
    connect(m_TreeView1, &FolderTree::MouseButton, this,
        [this](
            Qt::MouseButton button, Qt::KeyboardModifiers, QPoint at) { TreeView1_MouseButton(button, at); });
    connect(m_LEADThumb1, &ThumbnailBrowser::ThumbnailReady, this, &BrowsingArea::ThumbnailReady);
    connect(m_LEADThumb1, &ThumbnailBrowser::BrowseStarted, this, [this](int files) {
        // Room for every path at once: growing a list of 100,000 held it twice over a moment.
        m_HiddenList.reserve(m_HiddenList.size() + files);
        m_run.started(files);
    });
    connect(m_LEADImgList1, &ThumbnailList::ThumbnailClicked, this, &BrowsingArea::LEADImgList1_Click);
    connect(
        m_LEADImgList1, &ThumbnailList::ThumbnailClickedWith, this, &BrowsingArea::LEADImgList1_ClickWith);
    connect(m_LEADImgList1, &ThumbnailList::ChooseAllAsked, this, &BrowsingArea::chooseAll);
    connect(m_LEADImgList1, &ThumbnailList::EscapeAsked, this, &BrowsingArea::chooseShownOnly);
    connect(m_LEADImgList1, &ThumbnailList::ThumbnailMouseButton, this,
        [this](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint at) {
            LEADImgList1_MouseButton(button, at);
        });
    connect(m_LEAD1, &PictureDisplay::clicked, this, &BrowsingArea::LEAD1_Click);
}

FolderList& BrowsingArea::Dir1() const
{
    return m_TreeView1->Dir1();
}

bool BrowsingArea::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && watched == m_LEAD1)
        m_Label2->setVisible(!m_LEAD1->hasPicture());
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
    const QString path = m_HiddenList.value(item);
    std::optional<PictureChoice> choice = PictureChoice::of(path);
    if (item >= 0 && item < m_HiddenList.size() && choice && m_LEAD1->LoadPicture(path)) {
        m_Chosen = { *std::move(choice) };
        m_AnchorPath = path;
        m_RangePaths.clear();
        drawChosen();
        return true;
    }
    // The listing no longer describes the folder.
    ClearTabPictures();
    return false;
}

bool BrowsingArea::chooseWith(int item, Qt::KeyboardModifiers modifiers)
{
    if (item < 0 || item >= m_HiddenList.size())
        return !m_Chosen.isEmpty();
    const QString path = m_HiddenList.at(item);
    const qsizetype anchor = m_HiddenList.indexOf(m_AnchorPath);
    if (m_Chosen.isEmpty() || ((modifiers & Qt::ShiftModifier) && anchor < 0))
        return choose(item);
    auto chosenAt = [this](const QString& p) {
        return std::find_if(
            m_Chosen.begin(), m_Chosen.end(), [&](const PictureChoice& c) { return c.path == p; });
    };
    if (modifiers & Qt::ShiftModifier) {
        // A further Shift replaces the range the last one added, from the same start.
        const QSet<QString> earlier(m_RangePaths.cbegin(), m_RangePaths.cend());
        m_Chosen.removeIf(
            [&](const PictureChoice& c) { return c.path != m_AnchorPath && earlier.contains(c.path); });
        m_RangePaths.clear();
        const qsizetype from = std::min<qsizetype>(anchor, item);
        const qsizetype to = std::max<qsizetype>(anchor, item);
        for (qsizetype i = from; i <= to; ++i) {
            if (i == item || chosenAt(m_HiddenList.at(i)) != m_Chosen.end())
                continue;
            // A file gone since the listing is not chosen, so it is not drawn either.
            if (std::optional<PictureChoice> c = PictureChoice::of(m_HiddenList.at(i))) {
                m_RangePaths << c->path;
                m_Chosen.append(*std::move(c));
            }
        }
        if (chosenAt(path) == m_Chosen.end())
            m_RangePaths << path;
    } else {
        m_RangePaths.clear();
        m_AnchorPath = path;
        const auto at = chosenAt(path);
        if (at != m_Chosen.end()) {
            m_Chosen.erase(at);
            if (m_Chosen.isEmpty()) {
                clearSelection();
                return false;
            }
            m_AnchorPath = m_Chosen.last().path;
            return showChosen();
        }
    }
    const auto at = chosenAt(path);
    if (at != m_Chosen.end())
        m_Chosen.erase(at);
    std::optional<PictureChoice> choice = PictureChoice::of(path);
    if (!choice) {
        ClearTabPictures();
        return false;
    }
    m_Chosen.append(*std::move(choice));
    return showChosen();
}

void BrowsingArea::chooseAll()
{
    if (m_HiddenList.isEmpty())
        return;
    const QString shown = m_Chosen.isEmpty() ? m_HiddenList.first() : m_Chosen.last().path;
    QList<PictureChoice> all;
    all.reserve(m_HiddenList.size());
    std::optional<PictureChoice> last;
    for (const QString& path : std::as_const(m_HiddenList)) {
        std::optional<PictureChoice> c = PictureChoice::of(path);
        if (!c)
            continue;
        if (path == shown)
            last = std::move(c);
        else
            all.append(*std::move(c));
    }
    if (last)
        all.append(*std::move(last));
    if (all.isEmpty()) {
        ClearTabPictures();
        return;
    }
    if (m_AnchorPath.isEmpty())
        m_AnchorPath = all.last().path;
    m_Chosen = std::move(all);
    if (showChosen())
        m_window.setPictureSelected(true);
}

void BrowsingArea::chooseShownOnly()
{
    if (m_Chosen.size() < 2)
        return;
    m_Chosen = { m_Chosen.last() };
    m_AnchorPath = m_Chosen.last().path;
    m_RangePaths.clear();
    drawChosen();
}

bool BrowsingArea::showChosen()
{
    const PictureChoice& last = m_Chosen.last();
    if (m_LEAD1->sourcePath() != last.path || !m_LEAD1->hasPicture()) {
        if (!m_LEAD1->LoadPicture(last.path)) {
            ClearTabPictures();
            return false;
        }
    }
    drawChosen();
    return true;
}

void BrowsingArea::drawChosen()
{
    QList<int> items;
    items.reserve(m_Chosen.size());
    int current = -1;
    if (m_Chosen.size() == 1) {
        // One choice is drawn exactly as it always was.
        current = int(m_HiddenList.indexOf(m_Chosen.first().path));
        drawSelected(m_LEADImgList1, current);
    } else {
        // Paths to positions at once: choosing a whole folder stays linear.
        QHash<QString, int> position;
        position.reserve(m_HiddenList.size());
        for (int i = 0; i < m_HiddenList.size(); ++i)
            position.insert(m_HiddenList.at(i), i);
        for (const PictureChoice& c : std::as_const(m_Chosen))
            items << position.value(c.path, -1);
        current = items.isEmpty() ? -1 : items.last();
        m_LEADImgList1->SetItemsSelected(items, current);
    }
    const int n = int(m_Chosen.size());
    const QString count = n > 1 ? QString::fromUtf16(texts::display::ChosenCount).arg(n) : QString();
    m_LabelChosen->setText(count);
    m_LabelChosen->setAccessibleName(count);
    m_LabelChosen->setVisible(n > 1);
    // The screen reader hears the count with the list it belongs to.
    m_LEADImgList1->view()->setAccessibleDescription(count);
}

void BrowsingArea::clearSelection()
{
    m_Chosen.clear();
    m_LEAD1->ClearPicture();
    m_LEADImgList1->SetAllSelected(false);
    drawChosen();
}

void BrowsingArea::afterListing()
{
    // The picture shown decides: it must still be listed, unchanged and in the display.
    const std::optional<PictureChoice> shown = TabSelection();
    if (!shown || !m_HiddenList.contains(shown->path) || !shown->isStillOnDisk()
        || m_LEAD1->sourcePath() != shown->path) {
        clearSelection();
        return;
    }
    if (m_Chosen.size() > 1) {
        const QSet<QString> listed(m_HiddenList.cbegin(), m_HiddenList.cend());
        m_Chosen.removeIf(
            [&](const PictureChoice& c) { return !listed.contains(c.path) || !c.isStillOnDisk(); });
        // The shown file changing between the two looks keeps it alone, as the display has it.
        if (m_Chosen.isEmpty() || m_Chosen.last().path != shown->path)
            m_Chosen = { *shown };
    }
    drawChosen();
}

void BrowsingArea::clearPage()
{
    m_LEADImgList1->ClearThumbnails();
    m_named.clear();
    // The index's answers about the rows gone mean nothing now.
    m_lookedUp = QStringList();
    m_markCopies.clear();
    m_markFound.clear();
    m_rowOf.clear();
    m_hiddenRows.clear();
    // Its room goes too (clear() keeps it, and allocates it again while a look-up shares the list).
    m_HiddenList = QStringList();
}

void BrowsingArea::ClearTabPictures()
{
    clearPage();
    clearSelection();
}

std::optional<QList<PictureChoice>> BrowsingArea::chosenToActOn(Prompts& prompts, const char16_t* errorTitle)
{
    if (m_Chosen.isEmpty())
        return std::nullopt;
    for (const PictureChoice& c : std::as_const(m_Chosen)) {
        if (!c.isStillOnDisk()) {
            reportChoiceGone(prompts, texts::display::ChosenFileChanged, errorTitle);
            clearSelection();
            return std::nullopt;
        }
    }
    return m_Chosen;
}

int BrowsingArea::runSteps(int count, const QString& progressText, const std::function<void(int)>& step)
{
    int done = 0;
    m_run.run(m_area, true, [&] {
        for (; done < count; ++done) {
            m_run.showLine(progressText.arg(done).arg(count));
            // Esc pressed during the last file stops the run before the next one.
            QCoreApplication::processEvents();
            if (m_run.gBrowseQuit())
                break;
            step(done);
        }
        return 0;
    });
    return done;
}

void BrowsingArea::showStepLine(const QString& text)
{
    m_run.showLine(text);
}

std::optional<QString> BrowsingArea::fileToActOn(Prompts& prompts, const char16_t* errorTitle)
{
    if (m_Chosen.isEmpty())
        return std::nullopt;
    if (m_Chosen.last().isStillOnDisk())
        return m_Chosen.last().path;
    reportChoiceGone(prompts, texts::display::ChosenFileChanged, errorTitle);
    clearSelection();
    return std::nullopt;
}

PictureDisplay::CopyResult BrowsingArea::copyToClipboard(bool withFile)
{
    return m_LEAD1->CopyPictureToClipboard(
        withFile ? PictureDisplay::ClipboardCopy::PictureAndFile : PictureDisplay::ClipboardCopy::Picture);
}

std::optional<QString> BrowsingArea::fileOrNothingToActOn(Prompts& prompts)
{
    if (m_Chosen.isEmpty())
        return QString();
    return fileToActOn(prompts);
}

QString BrowsingArea::invariantViolation() const
{
    const QList<int> drawn = m_LEADImgList1->selectedItems();
    if (m_Chosen.isEmpty()) {
        if (m_LEAD1->hasPicture())
            return QStringLiteral("the display shows %1 while nothing is chosen").arg(m_LEAD1->sourcePath());
        if (!drawn.isEmpty())
            return QStringLiteral("thumbnail %1 is drawn selected while nothing is chosen")
                .arg(drawn.first());
        return QString();
    }
    const QString& path = m_Chosen.last().path;
    if (!m_LEAD1->hasPicture() || m_LEAD1->sourcePath() != path)
        return QStringLiteral("the display shows '%1' but '%2' is chosen").arg(m_LEAD1->sourcePath(), path);
    QList<int> chosen;
    QSet<QString> seen;
    for (const PictureChoice& c : m_Chosen) {
        const qsizetype at = m_HiddenList.indexOf(c.path);
        if (at < 0)
            return QStringLiteral("the chosen '%1' is not on the page").arg(c.path);
        if (seen.contains(c.path))
            return QStringLiteral("'%1' is chosen twice").arg(c.path);
        seen.insert(c.path);
        chosen << int(at);
    }
    std::sort(chosen.begin(), chosen.end());
    if (drawn != chosen)
        return QStringLiteral("%1 files are chosen but %2 thumbnails are drawn selected, or others")
            .arg(chosen.size())
            .arg(drawn.size());
    const QString count
        = m_LabelChosen->isVisibleTo(const_cast<BrowsingArea*>(this)) ? m_LabelChosen->text() : QString();
    if ((m_Chosen.size() > 1) != !count.isEmpty()
        || (m_Chosen.size() > 1 && !count.contains(QString::number(m_Chosen.size()))))
        return QStringLiteral("%1 files are chosen but the count reads '%2'").arg(m_Chosen.size()).arg(count);
    return QString();
}

} // namespace ztv
