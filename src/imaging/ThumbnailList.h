#pragma once

#include "imaging/ThumbnailModel.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>

class QAbstractItemModel;
class QMimeData;
class QAbstractItemView;

namespace ztv {

class ThumbnailModel;
class ThumbnailRestorer;
class ThumbnailView;

// The thumbnail list: a grid of captioned thumbnails shown 25 to a page, built on a model
// and a view so every thumbnail is an accessible item. The grid always fits 5 columns and 5
// rows into the view, and the list scrolls in whole pages. Mouse coordinates (HitTest and
// ThumbnailMouseButton) are this widget's own. Added thumbnails reach the view in batches
// at the next event pass after a short while, or at once when anything asks about them,
// so a folder of tens of thousands of pictures lists in time linear in its size.
// Only the pictures of the page shown and of the pages around it are kept (KeptImages at
// most, counting only pictures a browse made); a page further away gets its pictures again
// from the thumbnail cache, or decoded again, in the background, each for its own file.
class ThumbnailList : public QWidget {
    Q_OBJECT
public:
    static constexpr int ItemsPerPage = 25;
    static constexpr int Columns = 5;
    static constexpr int Rows = 5;
    // Pages kept on either side of the page shown, and the pictures that makes.
    static constexpr int PagesAround = 2;
    static constexpr int KeptImages = (2 * PagesAround + 1) * ItemsPerPage;

    explicit ThumbnailList(QWidget* parent = nullptr);
    ~ThumbnailList() override;

    void ClearThumbnails();
    void AddThumbnail(const QImage& bitmap, const QString& caption, int counter);
    // An item's source and picture (null when not held now), to list it again after a clear.
    ThumbnailModel::Kept keptItem(int index) const;
    // Adds such an item; without its picture it gets one again when its page is kept.
    void AddKeptThumbnail(const ThumbnailModel::Kept& kept, const QString& caption, int counter);
    // Gives the view the thumbnails added since the last time, and the scroll asked for them;
    // done after each run, before any input reaches the view, and after a pause of 40 ms.
    void commitAdded() const;
    int ThumbnailCount() const;
    void ScrollToThumbnail(int index); // brings the item's row to the top of the view
    int PageCount() const; // pages of 25 items; 0 for an empty list
    int HitTest(int x, int y) const; // item under the point (this widget's coordinates), -1 for none
    void SetAllSelected(bool selected);
    void SetItemSelected(int index); // adds the item to the selection and makes it current
    // Draws exactly items (any order) as selected and makes current the current item.
    void SetItemsSelected(const QList<int>& items, int current);

    // Marks an item on its thumbnail (a small badge) with a text its tool tip and accessible
    // description give; "" takes the mark away. Marks go with ClearThumbnails.
    void setMark(int index, const QString& text);
    QString mark(int index) const;
    int markCount() const;

    QString caption(int index) const;
    int counter(int index) const;
    QList<int> selectedItems() const; // ascending
    int topItem() const; // first item of the row at the top of the view, -1 when empty

    // Pictures held now (each at most a thumbnail), and whether pictures are being made again.
    int keptImageCount() const;
    bool restoringImages() const;
    // The files a drag of the items drawn selected offers other programs (as text/uri-list,
    // only to be copied); an empty list starts no drag.
    void setDragFiles(std::function<QList<QUrl>()> files);
    // Adds the program's own formats to such a drag (for drops inside the program).
    void setDragExtra(std::function<void(QMimeData&)> extra);
    // The data such a drag carries; nullptr when there is nothing to offer.
    QMimeData* dragData() const;

    // Names the view for assistive technology (hides QWidget's, which would name only the frame).
    void setAccessibleName(const QString& name);

    QAbstractItemModel* model() const;
    QAbstractItemView* view() const;

Q_SIGNALS:
    // A left click or Enter on an item, or a drag started on an item not drawn selected (which
    // then drags what the click chose).
    void ThumbnailClicked(int index);
    // A left click with Ctrl or Shift held, or Shift with a key that moves the focus frame
    // (then index is the item the frame moved to).
    void ThumbnailClickedWith(int index, Qt::KeyboardModifiers modifiers);
    void ChooseAllAsked(); // Ctrl+A
    void EscapeAsked(); // Esc while the list has the focus
    void ThumbnailMouseButton(Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
        QPoint at); // every press; the menu key gives the right button

protected:
    void changeEvent(QEvent* event) override;

private:
    // Loads the captions' font (the font database, its face, the glyphs of file names) now, so
    // the first page's captions do not: that takes 10 to 20 ms on the window's thread.
    void warmCaptionFont() const;
    friend class ThumbnailView;

    // After a row is appended: trims the held pictures and starts the commit.
    void afterAppend();
    int focusItem() const; // the first item of the page shown, or of the one asked for
    std::pair<int, int> keptRange(int item) const; // first and last item whose pictures are kept
    void keepAround(int item);
    void onRestored(int row, quint64 generation, const QString& path, const QImage& image);

    ThumbnailModel* m_model;
    ThumbnailView* m_view = nullptr;
    ThumbnailRestorer* m_restorer = nullptr;
    QTimer m_commitTimer;
    mutable int m_heldScroll = -1; // a ScrollToThumbnail target not yet in the view
    std::function<QList<QUrl>()> m_dragFiles;
    std::function<void(QMimeData&)> m_dragExtra;
};

} // namespace ztv
