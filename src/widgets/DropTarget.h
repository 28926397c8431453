#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QMimeData;
class QWidget;

namespace ztv {

// A copy of every format of data: a drop's data lives only as long as its event.
std::shared_ptr<QMimeData> copyMimeData(const QMimeData& data);

// Whether the window has an operation under way (a command, a drop, a listing); widgets are
// handed it by their window.
using Busy = std::function<bool()>;

// Runs a drop's handler on the window's thread once the drop has ended and busy (if given) is
// false: a drop taken just before an operation began runs after it, never inside it.
void whenFree(QObject* context, const Busy& busy, std::function<void()> run);

// Makes a widget take drops: canDrop tells whether data would do anything there (else the
// drag is refused, the pointer says so), asked once as the drag enters and given the data
// alone (it must read no file: a share that stopped answering would hold the window);
// dropped gets a copy of it after the drag has ended, so what it does never keeps the other
// program waiting on the drop's answer. While busy says an operation is under way, every drag
// is refused (the pointer says so).
class DropTarget : public QObject {
public:
    using CanDrop = std::function<bool(const QMimeData& data)>;
    using Dropped = std::function<void(const QMimeData& data)>;
    DropTarget(QWidget* widget, CanDrop canDrop, Dropped dropped, Busy busy = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CanDrop m_canDrop;
    Dropped m_dropped;
    Busy m_busy;
    bool m_accepting = false; // what canDrop said when the drag entered; its data stays the same
};

} // namespace ztv
