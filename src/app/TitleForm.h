#pragma once

#include <QWidget>

class QLabel;

namespace ztv {

// The splash window shown while the main window loads. It has no handlers of its own:
// the start-up sequence shows it and takes it away.
class title : public QWidget {
    Q_OBJECT
public:
    explicit title(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;

    static QPixmap drawPicture(QSize size);
};

} // namespace ztv
