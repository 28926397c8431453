#include "app/TitleForm.h"

#include "app/texts.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace ztv {

title::title(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("title"));
    setWindowTitle(QString::fromUtf16(texts::SplashName));
    setFixedSize(514, 242); // 7710 x 3630 twips
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(rect());
    Image1->setPixmap(drawPicture(size()));

    Label1 = new QLabel(QString::fromUtf16(texts::SplashNotice), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(237, 211, 263, 23); // 3555, 3165, 3945 x 345 twips
    QFont serif(QStringLiteral("Serif"));
    serif.setStyleHint(QFont::Serif);
    serif.setPixelSize(13);
    Label1->setFont(serif);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1->setStyleSheet(QStringLiteral("color: #26324a; background: transparent;"));

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

QPixmap title::drawPicture(QSize size)
{
    QPixmap pm(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(120, 170, 225));
    sky.setColorAt(0.65, QColor(215, 232, 248));
    sky.setColorAt(1, QColor(245, 240, 228));
    p.fillRect(pm.rect(), sky);

    // A few stacked photographs, the program's subject.
    const QPointF centre(120, 118);
    const QColor tints[] = { QColor(240, 196, 120), QColor(150, 200, 150), QColor(120, 160, 220) };
    for (int i = 0; i < 3; ++i) {
        p.save();
        p.translate(centre);
        p.rotate(-14 + i * 12);
        const QRectF card(-62, -46, 124, 92);
        p.setPen(QPen(QColor(90, 90, 100, 120), 1));
        p.setBrush(Qt::white);
        p.drawRect(card);
        const QRectF photo = card.adjusted(7, 7, -7, -19);
        p.fillRect(photo, tints[i]);
        QPainterPath hill;
        hill.moveTo(photo.bottomLeft());
        hill.cubicTo(photo.left() + 30, photo.top() + 20, photo.left() + 60, photo.bottom() - 10,
            photo.right(), photo.top() + 30);
        hill.lineTo(photo.bottomRight());
        hill.closeSubpath();
        p.fillPath(hill, tints[i].darker(140));
        p.restore();
    }

    QFont big(QStringLiteral("Sans Serif"));
    big.setPixelSize(44);
    big.setBold(true);
    p.setFont(big);
    p.setPen(QColor(30, 50, 90));
    p.drawText(
        QRect(225, 60, 280, 60), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf16(texts::SplashName));
    QFont small = big;
    small.setPixelSize(20);
    small.setBold(false);
    p.setFont(small);
    p.drawText(
        QRect(230, 118, 270, 30), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf16(texts::SplashVersion));
    p.setPen(QPen(QColor(30, 50, 90, 90), 2));
    p.drawLine(QPointF(228, 152), QPointF(496, 152));
    p.end();
    return pm;
}

} // namespace ztv
