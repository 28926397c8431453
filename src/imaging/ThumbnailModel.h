#pragma once

#include <QAbstractListModel>
#include <QImage>
#include <QList>

namespace ztv {

// The items of a thumbnail list: picture as given (never copied larger), caption and the
// browse counter. Display, tool tip and accessible text give the full caption; the view
// shortens it when painting.
class ThumbnailModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { CounterRole = Qt::UserRole + 1 };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void clear();
    void append(const QImage& image, const QString& caption, int counter);
    // Holds an item back until commit(), which inserts everything held in one step: a view
    // lays out all its rows again after every insertion, so one at a time grows with the
    // square of a large folder's size. clear() drops what is held.
    void appendLater(const QImage& image, const QString& caption, int counter);
    int heldCount() const { return int(m_held.size()); }
    void commit();

private:
    struct Item {
        QImage image;
        QString caption;
        int counter;
    };
    QList<Item> m_items;
    QList<Item> m_held;
};

} // namespace ztv
