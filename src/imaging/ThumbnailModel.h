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

private:
    struct Item {
        QImage image;
        QString caption;
        int counter;
    };
    QList<Item> m_items;
};

} // namespace ztv
