#pragma once

#include "ThumbnailRestore.h"

#include <QAbstractListModel>
#include <QImage>
#include <QList>

#include <deque>

#include <memory>

namespace ztv {

// The items of a thumbnail list: picture as given (never copied larger), caption and the
// browse counter. Display, tool tip and accessible text give the full caption; the view
// shortens it when painting.
// A picture that carries its source (a browse's thumbnail) may be dropped and set again
// later; one without a source is always kept.
class ThumbnailModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { CounterRole = Qt::UserRole + 1 };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Items can be dragged: the view starts a drag of the chosen files only from these.
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void clear();
    void append(const QImage& image, const QString& caption, int counter);
    // Holds an item back until commit(), which inserts everything held in one step: a view
    // lays out all its rows again after every insertion, so one at a time grows with the
    // square of a large folder's size. clear() drops what is held.
    void appendLater(const QImage& image, const QString& caption, int counter);
    int heldCount() const { return int(m_held.size()); }
    void commit();

    // Rows count the held items after the committed ones.
    int allCount() const { return int(m_items.size() + m_held.size()); }
    bool hasImage(int row) const;
    // The source to make the row's picture again; invalid for a row that cannot lose it.
    ThumbnailSource source(int row) const;
    // Drops the pictures (that carry a source) of every row outside [first, last].
    void keepOnly(int first, int last);
    // Sets a row's picture again; false (nothing set) unless the row still shows that file
    // of this generation and has no picture.
    bool restore(int row, quint64 generation, const QString& path, const QImage& image);
    // Pictures held now, of any kind, and those of them that could be dropped.
    int imageCount() const { return m_imageCount; }
    int droppableImageCount() const { return int(m_droppable.size()); }
    // Changes whenever the rows start again from nothing.
    quint64 generation() const { return m_generation; }

private:
    // What the items of one run share: their folder, box and cache (path left empty).
    using RunSource = std::shared_ptr<const ThumbnailSource>;
    struct Item {
        QImage image;
        QString caption;
        QString fileName; // within run's folder
        RunSource run; // null: the picture is always kept
        int counter;
        float ratio = 1.0f;
    };
    Item makeItem(const QImage& image, const QString& caption, int counter);
    Item& item(int row);
    const Item& item(int row) const;
    void noteImage(int row, const Item& it);

    // In blocks, not one array: a folder of 100,000 rows never holds a second copy of them
    // while growing.
    std::deque<Item> m_items;
    std::deque<Item> m_held;
    QList<int> m_droppable; // rows whose picture may be dropped, unordered
    int m_imageCount = 0;
    quint64 m_generation = 1;
};

} // namespace ztv
