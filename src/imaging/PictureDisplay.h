#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

namespace ztv {

// A picture display: shows one picture and loads, copies, pastes and saves it.
// Operations that can fail give false and leave a reason in lastError(); callers treat a
// false as the "error trap" of their handler.
class PictureDisplay : public QWidget {
    Q_OBJECT
public:
    static constexpr int PasteTestOnly = 16384;

    explicit PictureDisplay(QWidget* parent = nullptr);

    bool LoadPicture(const QString& path, int a = 0, int b = 0, int c = 1);
    void ClearPicture(int a = 0, int b = 1);
    void CopyPictureToClipboard(int flags);
    // PasteTestOnly: non-zero when the clipboard holds a picture. 0: paste it.
    int PastePicture(int flags);

    void setColourOption(const QColor& colour);
    QColor colourOption() const;
    void setColourOptionEnabled(bool on);
    bool colourOptionEnabled() const;
    void ApplyColourOption();

    bool SavePicture(const QString& path, int format, int bits, int quality, bool flag);
    bool SavePictureWithOptions(const QString& path, int format, int bits, int quality, float width,
                                float height, int option);

    void setDisplayScaleMode(int mode); // 3: the whole picture fitted, aspect kept
    int displayScaleMode() const;

    bool hasPicture() const;
    QImage picture() const;
    void setPicture(const QImage& image);
    QString lastError() const;

Q_SIGNALS:
    void clicked();
    void mouseButton(int button, int shift, int x, int y); // button 1 left, 2 right, 4 middle
};

} // namespace ztv
