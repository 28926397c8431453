#include "export/LedgerWorkbook.h"

#include "imaging/ExifThumbnail.h"
#include "imaging/PictureEncoder.h"
#include "imaging/ThumbnailEngine.h"

#include <QThreadPool>
#include <QtConcurrent>

#include <xlsxwriter.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace ztv {

namespace {

// The sheet's layout in the units the library takes: column widths in pixels, row heights in
// points (96 pixels to the inch, 72 points). A block is 234 pt (82.6 mm) tall; three fill an
// A4 page between margins of 19 mm, and the columns (170 mm) fit between margins of 15 mm.
constexpr int PictureColumnPx = 300;
constexpr int LabelColumnPx = 60;
constexpr int ValueColumnPx = 150;
constexpr double RowPt[LedgerWorkbook::RowsPerBlock] = { 22, 22, 34, 34, 110, 12 };
constexpr int PictureRows = 5; // the picture spans the caption rows, not the gap
constexpr int PictureMarginPx = 4;
constexpr int ScreenDpi = 96;
constexpr int DotsPerMeter = 3780; // 96 dpi: the library sizes a picture by its resolution
constexpr int JpegQuality = 88;
constexpr uint8_t PaperA4 = 9;
constexpr char SheetFont[] = "IPAPGothic";

int pictureAreaHeightPx()
{
    double points = 0;
    for (int r = 0; r < PictureRows; ++r)
        points += RowPt[r];
    return int(points * ScreenDpi / 72);
}

// Header and footer codes start with "&": a title's own "&" is doubled.
QByteArray headerText(const QString& title)
{
    QString escaped = title;
    escaped.replace(u'&', QStringLiteral("&&"));
    // The library refuses a header of more than 255 characters.
    QByteArray text = "&C&14" + escaped.left(200).toUtf8();
    while (text.size() > 250) {
        escaped.chop(1);
        text = "&C&14" + escaped.left(200).toUtf8();
    }
    return text;
}

bool hasTransparency(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return false;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) != 255)
                return true;
        }
    }
    return false;
}

} // namespace

LedgerFacts readLedgerFacts(const QString& path)
{
    LedgerFacts facts;
    int status = 0;
    qint64 mtime = 0;
    const int fd = openRegularFile(path, &status, &mtime);
    if (fd < 0)
        return facts;
    facts.readable = true;
    facts.taken = readFileDateTaken(fd);
    ::close(fd);
    facts.fromExif = facts.taken.isValid();
    if (!facts.fromExif)
        facts.taken = QDateTime::fromSecsSinceEpoch(mtime);
    return facts;
}

LedgerPicture makeLedgerPicture(const QString& path, const std::atomic<bool>* stop)
{
    LedgerPicture picture;
    int status = 0;
    const int fd = openRegularFile(path, &status);
    if (fd < 0)
        return picture;
    QImage image = decodeThumbnail(fd, QSize(LedgerMaxSide, LedgerMaxSide), nullptr, stop);
    if (image.isNull() || (stop && stop->load()))
        return picture;
    SaveOptions options;
    picture.png = hasTransparency(image);
    if (picture.png) {
        options.format = formats::Png;
        options.keepTransparency = true;
    } else {
        image = flattenOnto(image, Qt::white);
        options.format = formats::Jpeg;
        options.quality = JpegQuality;
    }
    image.setDotsPerMeterX(DotsPerMeter);
    image.setDotsPerMeterY(DotsPerMeter);
    EncodeResult encoded = encodePicture(image, options);
    if (!encoded.ok())
        return picture;
    picture.data = std::move(encoded.bytes);
    picture.size = image.size();
    return picture;
}

LedgerDecoder::LedgerDecoder(QStringList files)
    : m_files(std::move(files))
    , m_pool(std::make_unique<QThreadPool>())
    , m_stop(std::make_shared<std::atomic<bool>>(false))
    , m_pictures(m_files.size())
{
    m_pool->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

LedgerDecoder::~LedgerDecoder()
{
    m_stop->store(true);
    m_pool->clear();
}

QFuture<LedgerPicture> LedgerDecoder::picture(int i)
{
    const int end = std::min(int(m_files.size()), i + 1 + Ahead);
    for (; m_submitted < end; ++m_submitted) {
        const QString file = m_files[m_submitted];
        m_pictures[m_submitted] = QtConcurrent::run(
            m_pool.get(), [file, stop = m_stop] { return makeLedgerPicture(file, stop.get()); });
    }
    // Handed out once: the picture is not kept here.
    return std::exchange(m_pictures[i], QFuture<LedgerPicture>());
}

QString ledgerDateText(const QDateTime& taken)
{
    return taken.isValid() ? taken.toString(QStringLiteral("yyyy/MM/dd HH:mm")) : QString();
}

LedgerWorkbook::Placement LedgerWorkbook::placeInBlock(QSize picture)
{
    Placement p;
    if (picture.isEmpty())
        return p;
    const int boxW = PictureColumnPx - 2 * PictureMarginPx;
    const int boxH = pictureAreaHeightPx() - 2 * PictureMarginPx;
    p.scale = std::min(double(boxW) / picture.width(), double(boxH) / picture.height());
    const int shownW = int(picture.width() * p.scale);
    const int shownH = int(picture.height() * p.scale);
    p.xOffset = (PictureColumnPx - shownW) / 2;
    p.yOffset = (pictureAreaHeightPx() - shownH) / 2;
    return p;
}

LedgerWorkbook::LedgerWorkbook(const QString& path, const QString& title)
    : m_title(headerText(title))
{
    const QByteArray file = QFile::encodeName(path);
    m_workbook = workbook_new(file.constData());
    if (!m_workbook)
        return;
    m_sheet = workbook_add_worksheet(m_workbook, nullptr);
    if (!m_sheet) {
        lxw_workbook_free(m_workbook);
        m_workbook = nullptr;
        return;
    }
    // The first format is the sheet's default (its Normal style).
    if (lxw_format* normal = STAILQ_FIRST(m_workbook->formats))
        format_set_font_name(normal, SheetFont);
    worksheet_set_paper(m_sheet, PaperA4);
    worksheet_set_portrait(m_sheet);
    // Margins in inches: 13 mm at the sides, 19 mm top and bottom, header and footer 8 mm from
    // the edge; every ordinary printer prints that far out.
    worksheet_set_margins(m_sheet, 0.5, 0.5, 0.75, 0.75);
    worksheet_center_horizontally(m_sheet);
    lxw_header_footer_options edges {};
    edges.margin = 0.3;
    worksheet_set_header_opt(m_sheet, m_title.constData(), &edges);
    worksheet_set_footer_opt(m_sheet, "&C&P / &N", &edges);
    worksheet_set_column_pixels(m_sheet, 0, 0, PictureColumnPx, nullptr);
    worksheet_set_column_pixels(m_sheet, 1, 1, LabelColumnPx, nullptr);
    worksheet_set_column_pixels(m_sheet, 2, 2, ValueColumnPx, nullptr);

    m_label = workbook_add_format(m_workbook);
    format_set_font_name(m_label, SheetFont);
    format_set_bold(m_label);
    format_set_bg_color(m_label, 0xEDEDED);
    format_set_border(m_label, LXW_BORDER_THIN);
    format_set_align(m_label, LXW_ALIGN_VERTICAL_CENTER);
    m_value = workbook_add_format(m_workbook);
    format_set_font_name(m_value, SheetFont);
    format_set_border(m_value, LXW_BORDER_THIN);
    format_set_text_wrap(m_value);
    format_set_align(m_value, LXW_ALIGN_LEFT);
    format_set_align(m_value, LXW_ALIGN_VERTICAL_CENTER);
    m_note = workbook_add_format(m_workbook);
    format_set_font_name(m_note, SheetFont);
    format_set_border(m_note, LXW_BORDER_THIN);
    format_set_text_wrap(m_note);
    format_set_align(m_note, LXW_ALIGN_VERTICAL_TOP);
    m_picture = workbook_add_format(m_workbook);
    format_set_font_name(m_picture, SheetFont);
    format_set_border(m_picture, LXW_BORDER_THIN);
}

LedgerWorkbook::~LedgerWorkbook()
{
    if (m_workbook)
        lxw_workbook_free(m_workbook);
}

bool LedgerWorkbook::add(const LedgerBlock& block)
{
    if (!m_workbook || m_blocks >= MaxBlocks || block.picture.data.isEmpty())
        return false;
    const lxw_row_t top = lxw_row_t(m_blocks * RowsPerBlock);
    lxw_image_options options {};
    const Placement place = placeInBlock(block.picture.size);
    options.x_offset = place.xOffset;
    options.y_offset = place.yOffset;
    options.x_scale = place.scale;
    options.y_scale = place.scale;
    options.object_position = LXW_OBJECT_MOVE_DONT_SIZE;
    const QByteArray description = block.fileName.toUtf8();
    options.description = const_cast<char*>(description.constData());
    if (worksheet_insert_image_buffer_opt(m_sheet, top, 0,
            reinterpret_cast<const unsigned char*>(block.picture.data.constData()),
            size_t(block.picture.data.size()), &options)
        != LXW_NO_ERROR)
        return false;

    for (int r = 0; r < RowsPerBlock; ++r)
        worksheet_set_row(m_sheet, top + lxw_row_t(r), RowPt[r], nullptr);
    // The picture's cell framed as one with the caption beside it.
    worksheet_merge_range(m_sheet, top, 0, top + PictureRows - 1, 0, "", m_picture);
    auto label = [&](int row, const char16_t* text) {
        worksheet_write_string(
            m_sheet, top + lxw_row_t(row), 1, QString::fromUtf16(text).toUtf8().constData(), m_label);
    };
    auto value = [&](int row, const QString& text) {
        worksheet_write_string(m_sheet, top + lxw_row_t(row), 2, text.toUtf8().constData(), m_value);
    };
    label(0, u"No.");
    worksheet_write_number(m_sheet, top, 2, block.number, m_value);
    label(1, u"撮影日");
    value(1, block.taken);
    label(2, u"ファイル名");
    value(2, block.fileName);
    label(3, u"整理箱");
    value(3, block.box);
    label(4, u"説明");
    worksheet_write_blank(m_sheet, top + 4, 2, m_note);
    ++m_blocks;
    return true;
}

bool LedgerWorkbook::close()
{
    if (!m_workbook)
        return false;
    const int rows = std::max(1, m_blocks) * RowsPerBlock;
    // A break before the first row of every fourth block; the list ends with 0.
    std::vector<lxw_row_t> breaks;
    for (int b = BlocksPerPage; b < m_blocks; b += BlocksPerPage)
        breaks.push_back(lxw_row_t(b * RowsPerBlock));
    breaks.push_back(0);
    if (breaks.size() > 1)
        worksheet_set_h_pagebreaks(m_sheet, breaks.data());
    // The gap after the last block is not printed.
    worksheet_print_area(m_sheet, 0, 0, lxw_row_t(rows - 2), 2);
    lxw_workbook* workbook = m_workbook;
    m_workbook = nullptr;
    return workbook_close(workbook) == LXW_NO_ERROR;
}

} // namespace ztv
