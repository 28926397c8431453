#include "imaging/ThumbnailList.h"
#include "imaging/ThumbnailModel.h"
#include "imaging/ThumbnailRestore.h"

#include <QAbstractItemModelTester>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QListView>
#include <QSignalSpy>
#include <QTest>

using namespace ztv;

namespace {

QImage thumb(QColor colour, QSize size = { 100, 75 })
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A browse's thumbnail of path: it carries the source to make it again.
QImage listed(const QString& path, QColor colour = Qt::red, qreal ratio = 1.0)
{
    QImage image = thumb(colour);
    markThumbnailSource(&image, { path, QSize(100, 100), QString() });
    image.setDevicePixelRatio(ratio);
    return image;
}

// What a row says: caption, tool tip, accessible text and description, counter.
QStringList rowTexts(const QAbstractItemModel& model, int row)
{
    const QModelIndex i = model.index(row, 0);
    return { i.data().toString(), i.data(Qt::ToolTipRole).toString(),
        i.data(Qt::AccessibleTextRole).toString(), i.data(Qt::AccessibleDescriptionRole).toString(),
        QString::number(i.data(ThumbnailModel::CounterRole).toInt()) };
}

// A list at the reference size of a browsing tab, shown, holding count thumbnails.
struct ShownList {
    explicit ShownList(int count)
    {
        list.resize(576, 523);
        for (int i = 0; i < count; ++i)
            list.AddThumbnail(
                thumb(QColor::fromHsv(i * 7 % 360, 200, 200)), QStringLiteral("写真%1.jpg").arg(i), i);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
    }
    // Centre of the cell in column c, row r of the visible grid, in the list's coordinates.
    QPoint cell(int c, int r) const
    {
        const QWidget* vp = list.view()->viewport();
        const QPoint local(vp->width() * (2 * c + 1) / 10, vp->height() * (2 * r + 1) / 10);
        return vp->mapTo(&list, local);
    }
    ThumbnailList list;
};

} // namespace

class TestThumbnailList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modelStaysConsistent()
    {
        ThumbnailList list;
        QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 30; ++i)
            list.AddThumbnail(thumb(Qt::red), QStringLiteral("f%1.png").arg(i), 100 + i);
        QCOMPARE(list.ThumbnailCount(), 30);
        QCOMPARE(list.caption(29), QStringLiteral("f29.png"));
        QCOMPARE(list.counter(29), 129);
        QCOMPARE(list.model()->index(3, 0).data(Qt::AccessibleTextRole).toString(), QStringLiteral("f3.png"));
        QCOMPARE(list.model()->index(3, 0).data(Qt::DecorationRole).value<QImage>().size(), QSize(100, 75));
        list.ClearThumbnails();
        QCOMPARE(list.ThumbnailCount(), 0);
        list.ClearThumbnails();
    }

    void pageCount()
    {
        ThumbnailList list;
        QCOMPARE(list.PageCount(), 0);
        for (int i = 0; i < 25; ++i)
            list.AddThumbnail(thumb(Qt::red), QStringLiteral("x"), i);
        QCOMPARE(list.PageCount(), 1);
        list.AddThumbnail(thumb(Qt::red), QStringLiteral("x"), 25);
        QCOMPARE(list.PageCount(), 2);
    }

    void fiveByFiveGridFitsTheReferenceArea()
    {
        ShownList s(60);
        QListView* view = qobject_cast<QListView*>(s.list.view());
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 5; ++c)
                QCOMPARE(s.list.HitTest(s.cell(c, r).x(), s.cell(c, r).y()), r * 5 + c);
        const QRect last = view->visualRect(view->model()->index(24, 0));
        const QRect next = view->visualRect(view->model()->index(25, 0));
        QVERIFY(view->viewport()->rect().contains(last));
        QVERIFY(!view->viewport()->rect().contains(next));
        QCOMPARE(next.top(), last.bottom() + 1);
    }

    void hitTestOnEmptySpace()
    {
        ShownList s(3);
        QCOMPARE(s.list.HitTest(s.cell(1, 0).x(), s.cell(1, 0).y()), 1);
        QCOMPARE(s.list.HitTest(s.cell(4, 0).x(), s.cell(4, 0).y()), -1);
        QCOMPARE(s.list.HitTest(s.cell(0, 3).x(), s.cell(0, 3).y()), -1);
        QCOMPARE(s.list.HitTest(-5, -5), -1);
    }

    void scrollBringsTheRowToTheTop()
    {
        ShownList s(26);
        s.list.ScrollToThumbnail(25); // the last page holds one item and still starts at the top
        QCOMPARE(s.list.topItem(), 25);
        QCOMPARE(s.list.HitTest(s.cell(0, 0).x(), s.cell(0, 0).y()), 25);
        s.list.ScrollToThumbnail(12);
        QCOMPARE(s.list.topItem(), 10);
        s.list.ScrollToThumbnail(0);
        QCOMPARE(s.list.HitTest(s.cell(2, 0).x(), s.cell(2, 0).y()), 2);
        s.list.ScrollToThumbnail(20);
        s.list.resize(600, 540); // a resize keeps the top row
        QCOMPARE(s.list.topItem(), 20);
        s.list.ClearThumbnails();
        QCOMPARE(s.list.topItem(), -1);
    }

    void scrollMadeBeforeTheFirstLayoutHoldsAfterShow()
    {
        // Start-up fills and scrolls the lists before the window is shown.
        ThumbnailList list;
        for (int i = 0; i < 8; ++i)
            list.AddThumbnail(thumb(Qt::gray), QStringLiteral("p%1.jpg").arg(i), i);
        list.ScrollToThumbnail(7);
        list.ScrollToThumbnail(1);
        list.resize(576, 523);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QCOMPARE(list.topItem(), 0);
    }

    void followsANewestItemDuringARun()
    {
        ShownList s(0);
        for (int i = 0; i < 60; ++i) {
            s.list.AddThumbnail(thumb(Qt::blue), QStringLiteral("n%1").arg(i), i);
            s.list.ScrollToThumbnail(s.list.ThumbnailCount() - 1);
            QCoreApplication::processEvents();
        }
        QCOMPARE(s.list.topItem(), 55);
        QCOMPARE(s.list.HitTest(s.cell(4, 0).x(), s.cell(4, 0).y()), 59);
    }

    void leftClickAndPresses()
    {
        ShownList s(10);
        QSignalSpy clicked(&s.list, &ThumbnailList::ThumbnailClicked);
        QSignalSpy pressed(&s.list, &ThumbnailList::ThumbnailMouseButton);
        QWidget* vp = s.list.view()->viewport();
        const QPoint item3 = s.cell(3, 0);
        QTest::mouseClick(vp, Qt::LeftButton, {}, vp->mapFrom(&s.list, item3));
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 3);
        QCOMPARE(pressed.size(), 1);
        const QVariantList left = pressed.at(0);
        QCOMPARE(left.at(0).value<Qt::MouseButton>(), Qt::LeftButton);
        QCOMPARE(s.list.HitTest(left.at(2).toPoint().x(), left.at(2).toPoint().y()), 3);
        // The click moves the focus frame only; the owner draws its choice as selected.
        QCOMPARE(s.list.view()->currentIndex().row(), 3);
        QCOMPARE(s.list.selectedItems(), QList<int>());
        s.list.SetItemSelected(3);

        // Right press: reported with the same coordinates HitTest takes; the selection stays.
        const QPoint item7 = s.cell(2, 1);
        QTest::mouseClick(vp, Qt::RightButton, Qt::ShiftModifier, vp->mapFrom(&s.list, item7));
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(pressed.size(), 2);
        QCOMPARE(pressed.at(1).at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(pressed.at(1).at(1).value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);
        QCOMPARE(s.list.HitTest(pressed.at(1).at(2).toPoint().x(), pressed.at(1).at(2).toPoint().y()), 7);
        QCOMPARE(s.list.selectedItems(), QList<int> { 3 });

        // Right press on empty space: no item, selection unchanged.
        QTest::mouseClick(vp, Qt::RightButton, {}, vp->mapFrom(&s.list, s.cell(1, 4)));
        QCOMPARE(s.list.HitTest(pressed.at(2).at(2).toPoint().x(), pressed.at(2).at(2).toPoint().y()), -1);
        QCOMPARE(s.list.selectedItems(), QList<int> { 3 });
    }

    // A page listed again while the button is held: the press was on a thumbnail that is gone,
    // so neither the release nor a drag chooses the one now in its place.
    void pressOutlivesNoListing()
    {
        ShownList s(10);
        QSignalSpy clicked(&s.list, &ThumbnailList::ThumbnailClicked);
        QWidget* vp = s.list.view()->viewport();
        const QPoint at = vp->mapFrom(&s.list, s.cell(3, 0));
        auto relist = [&] {
            s.list.ClearThumbnails();
            for (int i = 0; i < 10; ++i)
                s.list.AddThumbnail(thumb(Qt::green), QStringLiteral("別%1.jpg").arg(i), i);
            s.list.commitAdded();
        };
        QTest::mousePress(vp, Qt::LeftButton, {}, at);
        relist();
        QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
        QCOMPARE(clicked.size(), 0);

        QTest::mousePress(vp, Qt::LeftButton, {}, at);
        relist();
        const QPoint to = at + QPoint(QApplication::startDragDistance() + 4, 0);
        QMouseEvent move(QEvent::MouseMove, to, vp->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(vp, &move);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
        QCOMPARE(clicked.size(), 0);

        // A press after the listing clicks as before.
        QTest::mouseClick(vp, Qt::LeftButton, {}, at);
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 3);
    }

    void selectionCalls()
    {
        ShownList s(6);
        s.list.SetItemSelected(4);
        QCOMPARE(s.list.selectedItems(), QList<int> { 4 });
        s.list.SetAllSelected(true);
        QCOMPARE(s.list.selectedItems().size(), 6);
        s.list.SetAllSelected(false);
        QVERIFY(s.list.selectedItems().isEmpty());
        s.list.SetItemSelected(99); // out of range: ignored
        QVERIFY(s.list.selectedItems().isEmpty());
    }

    void keyboardReachesTheSameHandlers()
    {
        ShownList s(10);
        QSignalSpy clicked(&s.list, &ThumbnailList::ThumbnailClicked);
        QSignalSpy pressed(&s.list, &ThumbnailList::ThumbnailMouseButton);
        s.list.SetItemSelected(6);
        QTest::keyClick(s.list.view(), Qt::Key_Return);
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 6);
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), QPoint(), {});
        QCoreApplication::sendEvent(s.list.view(), &menuKey);
        QCOMPARE(pressed.size(), 1);
        QCOMPARE(pressed.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(s.list.HitTest(pressed.at(0).at(2).toPoint().x(), pressed.at(0).at(2).toPoint().y()), 6);
    }

    void accessibleNames()
    {
        ShownList s(0);
        const QString longName = QStringLiteral("とても長いファイルの名前の写真_2024_0001.jpg");
        s.list.AddThumbnail(thumb(Qt::red), longName, 0);
        s.list.setAccessibleName(QStringLiteral("サムネイル（保管庫）"));
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(s.list.view());
        QVERIFY(view);
        QCOMPARE(view->text(QAccessible::Name), QStringLiteral("サムネイル（保管庫）"));
        QAccessibleInterface* item = nullptr;
        for (int i = 0; i < view->childCount() && !item; ++i)
            if (view->child(i)->role() == QAccessible::ListItem)
                item = view->child(i);
        QVERIFY(item);
        QCOMPARE(item->text(QAccessible::Name), longName); // the full name, though the caption is shortened
    }

    // Rows keep their captions apart from the paths they share: names of two folders, a caption
    // other than the name, a row without a source, each right after a new listing too.
    void captionsOfRowsOfSeveralFolders()
    {
        ThumbnailModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.append(listed(QStringLiteral("/保管庫/旅行/写真1.jpg")), QStringLiteral("写真1.jpg"), 7);
        model.append(listed(QStringLiteral("/保管庫/旅行/bad\xff.jpg")), QStringLiteral("bad\uFFFD.jpg"), 8);
        model.appendLater(listed(QStringLiteral("/x/y.png")), QStringLiteral("y.png"), 9);
        model.appendLater(thumb(Qt::blue), QStringLiteral("貼り付け"), 10);
        model.appendLater(
            listed(QStringLiteral("/保管庫/旅行/写真22.jpg")), QStringLiteral("写真22.jpg"), 11);
        model.commit();
        const QString why = QStringLiteral("保管庫にあります");
        model.setMark(2, why);
        QCOMPARE(rowTexts(model, 0),
            (QStringList { u"写真1.jpg"_qs, u"写真1.jpg"_qs, u"写真1.jpg"_qs, QString(), u"7"_qs }));
        QCOMPARE(rowTexts(model, 1),
            (QStringList {
                u"bad\uFFFD.jpg"_qs, u"bad\uFFFD.jpg"_qs, u"bad\uFFFD.jpg"_qs, QString(), u"8"_qs }));
        QCOMPARE(rowTexts(model, 2),
            (QStringList { u"y.png"_qs, u"y.png\n"_qs + why, u"y.png"_qs, why, u"9"_qs }));
        QCOMPARE(rowTexts(model, 3),
            (QStringList { u"貼り付け"_qs, u"貼り付け"_qs, u"貼り付け"_qs, QString(), u"10"_qs }));
        QCOMPARE(rowTexts(model, 4).first(), u"写真22.jpg"_qs);
        QCOMPARE(model.source(1).path, u"/保管庫/旅行/bad\xff.jpg"_qs);
        QCOMPARE(model.source(4).path, u"/保管庫/旅行/写真22.jpg"_qs);
        QVERIFY(!model.source(3).isValid());

        // The next listing's rows at the same places say only their own.
        model.clear();
        model.append(listed(QStringLiteral("/b/one.jpg")), QStringLiteral("one.jpg"), 0);
        model.append(listed(QStringLiteral("/b/two.jpg")), QStringLiteral("two.jpg"), 1);
        model.append(listed(QStringLiteral("/b/three.jpg")), QStringLiteral("three.jpg"), 2);
        QCOMPARE(rowTexts(model, 1),
            (QStringList { u"two.jpg"_qs, u"two.jpg"_qs, u"two.jpg"_qs, QString(), u"1"_qs }));
        QCOMPARE(rowTexts(model, 2).mid(0, 4),
            (QStringList { u"three.jpg"_qs, u"three.jpg"_qs, u"three.jpg"_qs, QString() }));
    }

    // A dropped picture comes back only for the very file of its row, at the ratio it was
    // listed with, and never into a row of a newer listing.
    void aDroppedPictureComesBackOnlyForItsOwnFile()
    {
        ThumbnailModel model;
        for (int i = 0; i < 4; ++i)
            model.append(listed(QStringLiteral("/f/p%1.jpg").arg(i), Qt::red, 2.0),
                QStringLiteral("p%1.jpg").arg(i), i);
        model.append(thumb(Qt::blue), QStringLiteral("kept"), 4);
        QCOMPARE(model.imageCount(), 5);
        QCOMPARE(model.droppableImageCount(), 4);
        model.keepOnly(3, 3);
        QCOMPARE(model.imageCount(), 2); // row 3 and the one that cannot be made again
        QVERIFY(!model.hasImage(1));
        QVERIFY(model.hasImage(4));

        const quint64 generation = model.generation();
        const QImage again = thumb(Qt::green);
        QVERIFY(!model.restore(1, generation, QStringLiteral("/f/p2.jpg"), again)); // a neighbour's file
        QVERIFY(!model.restore(1, generation, QStringLiteral("/g/p1.jpg"), again)); // another folder's
        QVERIFY(!model.restore(3, generation, QStringLiteral("/f/p3.jpg"), again)); // it has its picture
        QVERIFY(!model.restore(4, generation, QStringLiteral("kept"), again));
        QVERIFY(model.restore(1, generation, QStringLiteral("/f/p1.jpg"), again));
        const QImage shown = model.index(1).data(Qt::DecorationRole).value<QImage>();
        QCOMPARE(shown.pixelColor(0, 0), QColor(Qt::green));
        QCOMPARE(shown.devicePixelRatio(), 2.0);
        QCOMPARE(model.droppableImageCount(), 2);

        model.clear();
        model.append(listed(QStringLiteral("/f/p0.jpg")), QStringLiteral("p0.jpg"), 0);
        model.keepOnly(1, 1);
        QVERIFY(!model.restore(0, generation, QStringLiteral("/f/p0.jpg"), again));
        QVERIFY(model.restore(0, model.generation(), QStringLiteral("/f/p0.jpg"), again));
    }

    // A marked item shows a badge on its own cell only, and says why to assistive technology.
    void markIsDrawnAndRead()
    {
        ShownList s(3);
        const QString why = QStringLiteral("保管庫に同じ内容のファイルがあります：保管庫/旅行/写真1.jpg");
        QListView* view = static_cast<QListView*>(s.list.view());
        auto cellImage = [&](int row) {
            return view->viewport()->grab(view->visualRect(s.list.model()->index(row, 0))).toImage();
        };
        const QImage before0 = cellImage(0), before1 = cellImage(1);
        s.list.setMark(1, why);
        QCOMPARE(s.list.markCount(), 1);
        QCOMPARE(s.list.mark(1), why);
        QCOMPARE(s.list.mark(0), QString());
        QCOMPARE(cellImage(0), before0);
        QVERIFY(cellImage(1) != before1);
        QAccessibleInterface* viewIface = QAccessible::queryAccessibleInterface(view);
        QStringList descriptions;
        for (int i = 0; i < viewIface->childCount(); ++i)
            if (viewIface->child(i)->role() == QAccessible::ListItem)
                descriptions << viewIface->child(i)->text(QAccessible::Description);
        QCOMPARE(descriptions, (QStringList { QString(), why, QString() }));

        // A row not yet handed to the view keeps its mark; a new listing starts without any.
        s.list.AddThumbnail(thumb(Qt::gray), QStringLiteral("後.jpg"), 3);
        s.list.setMark(3, why);
        QCOMPARE(s.list.mark(3), why);
        s.list.ClearThumbnails();
        QCOMPARE(s.list.markCount(), 0);
        s.list.AddThumbnail(thumb(Qt::gray), QStringLiteral("新.jpg"), 0);
        s.list.AddThumbnail(thumb(Qt::gray), QStringLiteral("新2.jpg"), 1);
        QCOMPARE(s.list.mark(1), QString());
    }
};

QTEST_MAIN(TestThumbnailList)
#include "tst_thumbnaillist.moc"
