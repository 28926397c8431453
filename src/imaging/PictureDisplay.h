#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <optional>

class QMimeData;

namespace ztv {

class FileOps;
struct Decoded;

// A picture display: shows one picture and loads, copies, pastes and saves it.
// Operations that can fail give false and leave a reason in lastError(); callers treat a
// false as the "error trap" of their handler.
class PictureDisplay : public QWidget {
    Q_OBJECT
public:
    // What a clipboard copy carries: the picture, and for the vault's copy also the file it was
    // loaded from, as a file URI and its path as text, so a file manager can paste the file.
    enum class ClipboardCopy { Picture, PictureAndFile };
    enum class Paste { TestOnly, Picture };
    // What a clipboard copy did: the picture went; the display was empty; or the file's own
    // picture could not be had whole (over the decode limits, or no longer readable), and then
    // nothing was put on the clipboard.
    enum class CopyResult { Copied, Nothing, TooLarge, Unreadable };
    // Extended-save option bits: progressive JPEG, interlaced PNG and GIF; transparency kept
    // where the format can hold it (the save dialog's "透明部分を保持").
    static constexpr int SaveInterlaced = 1;
    static constexpr int SaveKeepTransparency = 2;
    // Largest decoded picture LoadPicture accepts, in megabytes (QImageReader's allocation
    // limit): about 11500 x 11500 pixels. Larger JPEGs are decoded scaled down instead.
    static constexpr int LoadAllocationLimitMb = 512;

    explicit PictureDisplay(QWidget* parent = nullptr);

    // Reads any format Qt's image plugins read, and HEIF/AVIF, JPEG XL and camera RAW (the
    // largest embedded preview), recognised by content and upright by the orientation the file
    // gives. A JPEG larger than the display needs (4 times its longest side in device pixels, at least 2048)
    // is decoded scaled down. Gives false, and keeps the shown picture, for a missing, unreadable, corrupt,
    // oversized or non-picture file.
    bool LoadPicture(const QString& path);
    void ClearPicture();
    // Copies the held picture at its own size: a picture loaded from a file that the display
    // holds reduced is read again whole (upright, within the load's limits), never copied
    // shrunk. Nothing is copied while the display is empty.
    CopyResult CopyPictureToClipboard(ClipboardCopy what);
    // TestOnly: whether the clipboard holds a picture Qt can read. Picture: pastes it; false
    // (display unchanged, lastError set) when it cannot.
    bool PastePicture(Paste what);
    // A drop pasted as if from the clipboard: the picture the data carries, or the first
    // local picture file it names (read whole, within the load's limits; the files looked at
    // and read aside). pastable says whether it carries a picture or names local files, from
    // the data alone.
    static bool pastable(const QMimeData& data);
    bool PasteDropped(const QMimeData& data);

    // The colour option: the colour transparent parts of the picture become in every save that
    // does not keep transparency (a GIF or BMP of a pasted picture then shows that colour, not
    // black). ApplyColourOption, when the option is enabled, also shows the held picture on
    // that colour; the picture keeps its alpha, so a save that keeps transparency still has
    // it. White by default, disabled.
    void setColourOption(const QColor& colour);
    QColor colourOption() const;
    void setColourOptionEnabled(bool on);
    bool colourOptionEnabled() const;
    void ApplyColourOption();

    // Encodes the held picture (format codes in imaging/PictureFormats.h; bits 0 and quality
    // outside 1..100 give the defaults) and writes it through a temporary file in the target
    // folder, replacing an existing file; callers ask about overwriting first. keepTransparency
    // keeps transparent parts where the format can hold them (PNG 32 and 8, GIF); otherwise
    // they are flattened onto the colour option. Nothing held: nothing written, false.
    bool SavePicture(const QString& path, int format, int bits, int quality, bool keepTransparency);
    // The extended save: the picture is scaled to fit width x height pixels with its aspect
    // kept (a value <= 0 leaves that side free; the same value twice sets the longer side);
    // a picture that already fits keeps its size. Option SaveInterlaced writes a progressive
    // JPEG or an interlaced PNG or GIF; SaveKeepTransparency keeps transparency as SavePicture
    // does, else it is flattened onto the colour option.
    bool SavePictureWithOptions(
        const QString& path, int format, int bits, int quality, float width, float height, int option);

    void setDisplayScaleMode(int mode); // 3: the whole picture fitted, aspect kept, centred; else 1:1
    int displayScaleMode() const;

    bool hasPicture() const;
    QImage picture() const;
    void setPicture(const QImage& image);
    QString sourcePath() const; // the file of the held picture; empty when pasted, set or cleared
    QString lastError() const;

    void setFileOps(FileOps* ops); // nullptr: the real file system
    // The rectangle the picture is painted into, in widget coordinates (empty when none).
    QRect pictureRect() const;

Q_SIGNALS:
    void pictureChanged(); // pasted, loaded, set or cleared
    void clicked();
    void mouseButton(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool save(const QString& path, int format, int bits, int quality, bool keep, QSizeF box, bool interlaced);
    void replacePicture(const QImage& image, const QString& source);
    int decodeBound() const;
    // The file's picture, upright, decoded on a worker while the window keeps painting; bound
    // as decodeForDisplay takes it. None when the file is not a regular file that opens.
    static std::optional<Decoded> decodeFile(const QString& path, int bound);
    // The same on the calling thread, the open included (a drop's file, read aside).
    static std::optional<Decoded> openAndDecode(const QString& path, int bound);

    QImage m_image;
    QString m_sourcePath;
    bool m_reduced = false; // m_image is the file's picture decoded smaller than it is
    QPixmap m_scaled; // m_image at the size it was last painted in mode 3
    QColor m_colour = Qt::white;
    bool m_colourEnabled = false;
    bool m_colourShown = false; // ApplyColourOption ran on the held picture
    int m_scaleMode = 0;
    QString m_lastError;
    FileOps* m_fileOps = nullptr;
};

} // namespace ztv
