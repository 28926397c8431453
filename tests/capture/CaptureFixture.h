#pragma once

#include "MainFormFixture.h"
#include "ScriptedSaveDialog.h"
#include "imaging/PictureDisplay.h"
#include "mainwindow/MainForm.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QToolButton>

namespace ztv::test {

// A picture with smooth gradients, hard edges and a half-transparent corner, the kind of
// thing a screenshot or a photo put on the clipboard holds.
inline QImage samplePicture(QSize size = QSize(160, 100), bool transparentCorner = false)
{
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y,
                qRgb(255 * x / size.width(), 255 * y / size.height(), 128 + 100 * ((x / 20 + y / 20) % 2)));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(250, 220, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRect(size.width() / 4, size.height() / 4, size.width() / 2, size.height() / 2));
    if (transparentCorner) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(QRect(0, 0, size.width() / 4, size.height() / 4), Qt::transparent);
    }
    p.end();
    return transparentCorner ? image : image.convertToFormat(QImage::Format_RGB32);
}

inline void putOnClipboard(const QImage& image)
{
    QGuiApplication::clipboard()->setImage(image);
}

// A main window after start-up whose save dialog answers from a script.
struct CaptureFixture : MainFormFixture {
    CaptureFixture()
    {
        load();
        auto owned = std::make_unique<ScriptedSaveDialog>();
        dialog = owned.get();
        form->setSaveDialog(std::move(owned));
        prompts.clear();
    }

    void paste(const QImage& image)
    {
        putOnClipboard(image);
        form->Command1(1)->click();
    }

    ScriptedSaveDialog* dialog = nullptr;
};

} // namespace ztv::test
