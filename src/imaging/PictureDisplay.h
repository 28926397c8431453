#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace ztv {

class FileOps;

// A picture display: shows one picture and loads, copies, pastes and saves it.
// Operations that can fail give false and leave a reason in lastError(); callers treat a
// false as the "error trap" of their handler.
class PictureDisplay : public QWidget {
    Q_OBJECT
public:
    static constexpr int PasteTestOnly = 16384;
    // CopyPictureToClipboard flags. Every copy carries the picture (bit 1, set in both 11 and
    // 31). Bit 16 (31, the vault's copy) also offers the file the picture was loaded from, as a
    // file URI and its path as text, so a file manager can paste the file itself. Bits 2, 4
    // and 8 mean nothing here.
    static constexpr int CopyPicture = 1;
    static constexpr int CopyFileReference = 16;
    // Extended-save option bit: progressive JPEG, interlaced PNG and GIF.
    static constexpr int SaveInterlaced = 1;
    // Largest decoded picture LoadPicture accepts, in megabytes (QImageReader's allocation
    // limit): about 11500 x 11500 pixels. Larger JPEGs are decoded scaled down instead.
    static constexpr int LoadAllocationLimitMb = 512;

    explicit PictureDisplay(QWidget* parent = nullptr);

    // Reads any format Qt's image plugins read, and HEIF/AVIF, JPEG XL and camera RAW (the
    // largest embedded preview), recognised by content and upright by the orientation the file
    // gives. A JPEG larger than the display needs (4 times its longest side in device pixels, at least 2048) is
    // decoded scaled down. Gives false, and keeps the shown picture, for a missing,
    // unreadable, corrupt, oversized or non-picture file. The other arguments are unused.
    bool LoadPicture(const QString& path, int a = 0, int b = 0, int c = 1);
    void ClearPicture(int a = 0, int b = 1);
    void CopyPictureToClipboard(int flags);
    // PasteTestOnly: 1 when the clipboard holds a picture Qt can read, else 0.
    // 0: paste it; 1 when pasted, 0 (display unchanged, lastError set) otherwise.
    int PastePicture(int flags);

    // The colour option: the colour transparent parts of the picture become. ApplyColourOption
    // flattens the held picture onto it when the option is enabled (a GIF or BMP of a pasted
    // picture with transparency then shows that colour, not black); saves into formats or
    // depths without transparency flatten onto it as well. White by default, disabled.
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
    // kept (a value <= 0 leaves that side free; the same value twice sets the longer side),
    // and option SaveInterlaced writes a progressive JPEG or an interlaced PNG or GIF. Transparency
    // is flattened onto the colour option.
    bool SavePictureWithOptions(const QString& path, int format, int bits, int quality, float width,
                                float height, int option);

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
    void clicked();
    void mouseButton(int button, int shift, int x, int y); // button 1 left, 2 right, 4 middle

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

    QImage m_image;
    QString m_sourcePath;
    QPixmap m_scaled; // m_image at the size it was last painted in mode 3
    QColor m_colour = Qt::white;
    bool m_colourEnabled = false;
    int m_scaleMode = 0;
    QString m_lastError;
    FileOps* m_fileOps = nullptr;
};

} // namespace ztv
