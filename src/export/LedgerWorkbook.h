#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QSize>
#include <QString>

#include <atomic>
#include <memory>

class QThreadPool;
struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace ztv {

// One picture of a photo ledger as it is embedded: made on a worker thread from the file alone.
struct LedgerPicture {
    QByteArray data; // JPEG, or PNG where the picture has transparency; empty when unreadable
    bool png = false;
    QSize size; // the embedded picture's size, upright
};

// What the ledger says of a file before it is decoded, read from its first bytes and its
// attributes: the date taken (EXIF DateTimeOriginal, else the modification time).
struct LedgerFacts {
    QDateTime taken;
    bool fromExif = false;
    bool readable = false; // a regular file that could be opened
};

// The longer side of an embedded picture at most: a page prints it at about 10 cm, and a
// 100-picture ledger stays a few tens of megabytes.
inline constexpr int LedgerMaxSide = 1600;

// Reads the date taken; safe on any thread.
LedgerFacts readLedgerFacts(const QString& path);
// Decodes the file through the program's readers (JPEG, PNG, HEIF/AVIF, JPEG XL, RAW and
// Qt's formats), turned upright, fitted into LedgerMaxSide, and encodes it for the
// workbook. Safe on any thread; stop cuts a long decode short (the result is then empty).
LedgerPicture makeLedgerPicture(const QString& path, const std::atomic<bool>* stop = nullptr);

// Makes the ledger pictures of files, in that order, on a pool of their own (every core), a
// few ahead of the one asked for, so both cores decode while the pictures are written one by
// one and no more than a few encoded pictures wait. Stops (abandoning the decodes under way)
// when destroyed.
class LedgerDecoder {
public:
    static constexpr int Ahead = 6;
    explicit LedgerDecoder(QStringList files);
    ~LedgerDecoder();
    LedgerDecoder(const LedgerDecoder&) = delete;
    LedgerDecoder& operator=(const LedgerDecoder&) = delete;
    // File i's picture; asking for i also starts the next few.
    QFuture<LedgerPicture> picture(int i);

private:
    QStringList m_files;
    std::unique_ptr<QThreadPool> m_pool;
    std::shared_ptr<std::atomic<bool>> m_stop;
    QList<QFuture<LedgerPicture>> m_pictures;
    int m_submitted = 0;
};

// "yyyy/MM/dd HH:mm", as the caption shows a date.
QString ledgerDateText(const QDateTime& taken);

// One block of the sheet: the picture on the left, its caption cells on the right.
struct LedgerBlock {
    int number = 0;
    QString taken; // as ledgerDateText gives it
    QString fileName;
    QString box;
    LedgerPicture picture;
};

// The photo ledger workbook: one A4 portrait sheet, three blocks to a page with a page break
// after every third, the print area set, the title in the header and "page / pages" in the
// footer. Blocks are added one at a time (each picture goes to the library's temporary file at
// once, so a long ledger holds no more than one picture in memory); close() writes the file.
// A workbook destroyed unclosed writes nothing.
class LedgerWorkbook {
public:
    static constexpr int BlocksPerPage = 3;
    static constexpr int RowsPerBlock = 6; // No., 撮影日, ファイル名, 整理箱, 説明, a gap
    // A page break takes a row number each; the file format allows 1023 of them.
    static constexpr int MaxBlocks = 1023 * BlocksPerPage;

    LedgerWorkbook(const QString& path, const QString& title);
    ~LedgerWorkbook();
    LedgerWorkbook(const LedgerWorkbook&) = delete;
    LedgerWorkbook& operator=(const LedgerWorkbook&) = delete;

    bool isOpen() const { return m_workbook != nullptr; }
    // False when the library refused it (the block is then left out).
    bool add(const LedgerBlock& block);
    int blockCount() const { return m_blocks; }
    // Sets the page breaks and the print area and writes the file. False when it could not
    // be written; the workbook is gone either way.
    bool close();

    // The picture's place in its block and the scale that fits it there (tests, the layout).
    struct Placement {
        int xOffset = 0, yOffset = 0;
        double scale = 1.0;
    };
    static Placement placeInBlock(QSize picture);

private:
    lxw_workbook* m_workbook = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_format* m_label = nullptr;
    lxw_format* m_value = nullptr;
    lxw_format* m_note = nullptr;
    lxw_format* m_picture = nullptr;
    int m_blocks = 0;
    QByteArray m_title; // kept until the file is written: the library keeps the pointer
};

} // namespace ztv
