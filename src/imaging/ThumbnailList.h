#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace ztv {

// The thumbnail list: a grid of captioned thumbnails shown 25 to a page, built on a model
// and a view so every thumbnail is an accessible item.
class ThumbnailList : public QWidget {
    Q_OBJECT
public:
    static constexpr int ItemsPerPage = 25;

    explicit ThumbnailList(QWidget* parent = nullptr);

    void setIntegerOption(int value);    // set to 1 at start
    void setHitTestOption(bool on);      // switched off around HitTest
    void ClearThumbnails();
    void AddThumbnail(const QImage& bitmap, const QString& caption, int counter);
    int ThumbnailCount() const;
    void ScrollToThumbnail(int index);   // brings the item's row to the top of the view
    int PageCount() const;               // pages of 25 items; 0 for an empty list
    int HitTest(int x, int y) const;     // item under the point (view coordinates), -1 for none
    void SetAllSelected(bool selected);
    void SetItemSelected(int index);

    QString caption(int index) const;
    int counter(int index) const;

Q_SIGNALS:
    void ThumbnailClicked(int index);
    void ThumbnailMouseButton(int button, int shift, int x, int y); // button 2 is the right one
};

} // namespace ztv
