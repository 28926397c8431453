#include "mainwindow/KeyboardNavigation.h"

#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/MainForm.h"
#include "widgets/FolderTree.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

namespace ztv {

namespace {

bool isMenuKey(const QKeyEvent& key)
{
    return key.key() == Qt::Key_Menu
        || (key.key() == Qt::Key_F10 && (key.modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier);
}

// The point a keyboard request stands for in a tree: the centre of its current node, in
// the viewport coordinates the mouse handlers take. False when no node is current.
bool currentNodeCentre(FolderTree* tree, QPoint* point)
{
    QTreeWidgetItem* item = tree->currentItem();
    if (!item)
        return false;
    tree->scrollToItem(item);
    *point = tree->visualItemRect(item).center();
    return true;
}

// Qt on Linux turns only the menu key into a context-menu request, and only on X11; this
// makes the menu key and Shift+F10 do it on every platform, once. Installed on the
// application, since dialogs share the trees.
class KeyboardActions : public QObject {
public:
    using QObject::QObject;

    static void installOnce()
    {
        static KeyboardActions* instance = nullptr;
        if (!instance) {
            instance = new KeyboardActions(qApp);
            qApp->installEventFilter(instance);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            return keyPress(watched, static_cast<QKeyEvent*>(event));
        case QEvent::ContextMenu:
            return contextMenu(watched, static_cast<QContextMenuEvent*>(event));
        default:
            return false;
        }
    }

private:
    static bool keyPress(QObject* watched, QKeyEvent* key)
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || QApplication::activePopupWidget())
            return false;
        while (widget->focusProxy())
            widget = widget->focusProxy();
        // While an operation or a run is under way the window takes no keyboard request but
        // Esc, handled elsewhere.
        if (auto* form = dynamic_cast<KeyboardWindow*>(widget->window()); form && form->busy())
            return false;
        if (isMenuKey(*key)) {
            const QPoint centre = widget->rect().center();
            QContextMenuEvent request(
                QContextMenuEvent::Keyboard, centre, widget->mapToGlobal(centre), key->modifiers());
            QCoreApplication::sendEvent(widget, &request);
            return true;
        }
        // A digit on a browsing tab files into the box given that key; the page selector and
        // the trees keep their own use of digits (choosing a page, finding a folder by name).
        if (auto* form = dynamic_cast<KeyboardWindow*>(widget->window()); form && !key->isAutoRepeat()
            && key->key() >= Qt::Key_1 && key->key() <= Qt::Key_9 && !(key->modifiers() & ~Qt::KeypadModifier)
            && !qobject_cast<QComboBox*>(widget) && !qobject_cast<FolderTree*>(widget)) {
            if (form->boxKeyPressed(key->key() - Qt::Key_0))
                return true;
        }
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        // Only the main window's trees: in a dialog Enter keeps pressing the default button.
        auto* tree = qobject_cast<FolderTree*>(widget);
        if (enter && tree && dynamic_cast<KeyboardWindow*>(tree->window())
            && !(key->modifiers() & ~Qt::KeypadModifier)) {
            QPoint p;
            if (currentNodeCentre(tree, &p)) {
                // As a left click: the press over the tree, then the click on the node.
                Q_EMIT tree->MouseButton(Qt::LeftButton, Qt::NoModifier, p);
                if (QTreeWidgetItem* item = tree->currentItem())
                    Q_EMIT tree->itemClicked(item, 0);
            }
            return true;
        }
        return false;
    }

    static bool contextMenu(QObject* watched, QContextMenuEvent* request)
    {
        if (request->reason() != QContextMenuEvent::Keyboard)
            return false;
        // The window system's own request for the menu key: the key press makes it again.
        if (request->spontaneous())
            return true;
        auto* tree = qobject_cast<FolderTree*>(watched);
        if (!tree)
            return false;
        QPoint p;
        if (currentNodeCentre(tree, &p))
            Q_EMIT tree->MouseButton(Qt::RightButton, Qt::NoModifier, p);
        return true;
    }
};

} // namespace

void setupKeyboard(MainForm& form)
{
    KeyboardActions::installOnce();

    // One chain through the whole window; the controls of hidden tabs are passed over.
    QList<QWidget*> chain;
    if (auto* bar = form.SSTab1()->findChild<QTabBar*>())
        chain << bar;
    for (Area area : kAreas) {
        const BrowsingArea& a = form.area(area);
        chain << a.TreeView1() << a.LEADImgList1() << a.Combo1() << a.LEAD1();
        for (QToolButton* b : form.buttonsIn(commands::Place(tabIndex(area))))
            chain << b;
    }
    for (QToolButton* b : form.buttonsIn(commands::Place::Paste))
        chain << b;
    chain << &form.LEAD2();
    for (QToolButton* b : form.buttonsIn(commands::Place::Top))
        chain << b;
    chain.removeAll(nullptr);
    for (int i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
}

} // namespace ztv
