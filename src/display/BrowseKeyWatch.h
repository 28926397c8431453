#pragma once

#include <QObject>

namespace ztv {

// Watches the whole application for Esc while a browse run lasts. The main window is
// disabled then, so its own key handling never sees the key.
class BrowseKeyWatch : public QObject {
    Q_OBJECT
public:
    explicit BrowseKeyWatch(QObject* parent = nullptr);
    ~BrowseKeyWatch() override;
    // Esc sets *quitFlag until stop().
    void start(bool* quitFlag);
    void stop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool* m_flag = nullptr;
};

} // namespace ztv
