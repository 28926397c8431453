#pragma once

#include <QWidget>
#include <functional>

namespace ztv {

class PictureDisplay;

// A separate window showing one picture larger than a tab's display. It loads its path once,
// when it is created; closing it deletes it, so the next opening loads afresh.
class PreviewForm : public QWidget {
    Q_OBJECT
public:
    // An empty path shows nothing; onLoadFailed runs when path names a file that cannot be shown.
    PreviewForm(const QString& path, std::function<void()> onLoadFailed, QWidget* parent = nullptr);

    PictureDisplay* LEAD1 = nullptr;

private:
    void Form_Load(const QString& path);
    std::function<void()> m_onLoadFailed;
};

} // namespace ztv
