#pragma once

#include "ThumbnailRestore.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QList>

#include <deque>
#include <vector>

namespace ztv {

// The items of a thumbnail list: picture as given (never copied larger), caption and the
// browse counter. Display, tool tip and accessible text give the full caption; the view
// shortens it when painting.
// A picture that carries its source (a browse's thumbnail) may be dropped and set again
// later; one without a source is always kept.
class ThumbnailModel : public QAbstractListModel {
    Q_OBJECT
public:
    // MarkRole: the text of the row's mark ("" for none); the tool tip and the accessible
    // description carry it too.
    enum Role { CounterRole = Qt::UserRole + 1, MarkRole };

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
    // What a row holds that a list of the same files made again can take over: its source,
    // and its picture while one is held (without one, the row gets it again on demand).
    struct Kept {
        ThumbnailSource source;
        float ratio = 1.0f;
        QImage image;
    };
    Kept kept(int row) const;
    void appendLaterKept(const Kept& kept, const QString& caption, int counter);
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
    int imageCount() const { return int(m_images.size()); }
    int droppableImageCount() const { return int(m_droppable.size()); }
    // Marks a row (a picture whose content is already in the vault) with a text saying so.
    void setMark(int row, const QString& text);
    int markCount() const { return int(m_marks.size()); }
    // Changes whenever the rows start again from nothing.
    quint64 generation() const { return m_generation; }

private:
    // What the rows of one run share: their folder, box, cache and picture ratio.
    struct Run {
        QString folder; // ends with '/'
        QSize box;
        QString cacheRoot;
        float ratio = 1.0f;
    };
    static constexpr quint16 NoRun = 0xFFFF; // the picture is always kept
    // A folder of 100,000 files holds 100,000 rows: each keeps only what it cannot share. text
    // is the file's path (the very string the caller holds, not a copy) or, for a row without a
    // run, its caption; a caption other than the file's name stands in m_captions.
    struct Row {
        QString text;
        int counter = 0;
        quint16 run = NoRun;
        bool ownCaption = false;
    };
    Row makeRow(int row, const QImage& image, const QString& caption, int counter);
    Row makeRow(int row, ThumbnailSource source, float ratio, const QString& caption, int counter);
    quint16 runFor(const ThumbnailSource& source, qsizetype folderSize, float ratio);
    Row& rowAt(int row);
    const Row& rowAt(int row) const;
    QString captionOf(int row) const;
    void noteImage(int row, const QImage& image);

    // In blocks, not one array: a folder of 100,000 rows never holds a second copy of them
    // while growing.
    std::deque<Row> m_items;
    std::deque<Row> m_held;
    std::vector<Run> m_runs;
    // Few rows hold a picture (those of the pages around the one shown), a mark, or a
    // caption that is not their file's name.
    QHash<int, QImage> m_images;
    QHash<int, QString> m_marks;
    QHash<int, QString> m_captions;
    QList<int> m_droppable; // rows whose picture may be dropped, unordered
    quint64 m_generation = 1;
};

} // namespace ztv
