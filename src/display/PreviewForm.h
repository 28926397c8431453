#pragma once

#include <QWidget>
#include <functional>

namespace ztv {

class PictureDisplay;

// A separate window showing one picture larger than a tab's display. It loads PreviewPath
// once, when it is created; closing it deletes it, so the next opening loads afresh.
class PreviewForm : public QWidget {
    Q_OBJECT
public:
    // onLoadFailed runs when PreviewPath names a file that cannot be shown.
    explicit PreviewForm(std::function<void()> onLoadFailed, QWidget* parent = nullptr);

    PictureDisplay* LEAD1 = nullptr;

private:
    void Form_Load();
    std::function<void()> m_onLoadFailed;
};

} // namespace ztv
