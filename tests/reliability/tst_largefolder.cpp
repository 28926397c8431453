// A folder of 33,000 pictures: more pages than 16-bit positions reach (page 1311 is the last
// whose positions fit), listed to the end, paged, scrolled and chosen from beyond 32767.
#include "MainFormFixture.h"
#include "display/PreviewForm.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "widgets/FolderTree.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace ztv;
using ztv::test::MainFormFixture;

namespace {

constexpr int kFiles = 33000;
constexpr int kPages = (kFiles + 24) / 25; // 1320

QString fileName(int i)
{
    return QStringLiteral("p%1.gif").arg(i, 5, 10, QLatin1Char('0'));
}

// A point of the list that hits the item, or (-1, -1).
QPoint pointFor(ThumbnailList* list, int item)
{
    for (int y = 2; y < list->height(); y += 8) {
        for (int x = 2; x < list->width(); x += 8) {
            if (list->HitTest(x, y) == item)
                return QPoint(x, y);
        }
    }
    return QPoint(-1, -1);
}

} // namespace

class TstLargeFolder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void listsEveryFileToTheEnd();
    void pagesBeyondTheDesignedRange();
    void choiceBeyond32767ActsOnItsFile();
    void nodeCountGoesPast32767();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainFormFixture> m_f;
    MainForm* m_form = nullptr;
};

void TstLargeFolder::initTestCase()
{
    // Tiny files written directly, on memory-backed storage where there is some.
    const QString shm = QStringLiteral("/dev/shm");
    m_dir = QDir(shm).exists() && QFileInfo(shm).isWritable()
        ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/ztv-large-XXXXXX"))
        : std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QElapsedTimer clock;
    clock.start();
    const QByteArray gif = test::pictures::gif();
    const QByteArray folder = QFile::encodeName(m_dir->path());
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray path = folder + '/' + fileName(i).toLatin1();
        const int fd = ::open(path.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, gif.constData(), size_t(gif.size())), ssize_t(gif.size()));
        ::close(fd);
    }
    qInfo("writing %d files: %lld ms", kFiles, clock.restart());

    m_f = std::make_unique<MainFormFixture>();
    m_form = &m_f->load();
    m_form->resize(1000, 700);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    m_form->SSTab1()->setCurrentIndex(1);
    // No shared cache entries: they would add 33,000 files to the temporary home.
    m_form->area(Area::StockYard).LEADThumb1()->setCacheFolder(QString());
    clock.restart();
    QCOMPARE(m_form->area(Area::StockYard).list(m_dir->path(), BrowsingArea::ListHow::Show).code(), 0);
    qInfo("browsing %d files: %lld ms", kFiles, clock.restart());
    m_form->area(Area::StockYard).ComboSet();
    qInfo("page selector: %lld ms", clock.elapsed());
}

void TstLargeFolder::cleanupTestCase()
{
    m_f.reset();
    m_dir.reset();
}

void TstLargeFolder::listsEveryFileToTheEnd()
{
    ThumbnailList* list = m_form->area(Area::StockYard).LEADImgList1();
    QCOMPARE(m_form->browseRun().gBrowseIndex(), kFiles);
    QCOMPARE(list->ThumbnailCount(), kFiles);
    QCOMPARE(m_form->area(Area::StockYard).HiddenList().size(), kFiles);
    for (int i : { 0, 32767, 32768, kFiles - 1 }) {
        QCOMPARE(
            m_form->area(Area::StockYard).HiddenList().at(i), m_dir->path() + QLatin1Char('/') + fileName(i));
        QCOMPARE(list->caption(i), fileName(i));
        QCOMPARE(list->counter(i), i);
    }
}

void TstLargeFolder::pagesBeyondTheDesignedRange()
{
    ThumbnailList* list = m_form->area(Area::StockYard).LEADImgList1();
    QComboBox* combo = m_form->area(Area::StockYard).Combo1();
    QCOMPARE(m_form->area(Area::StockYard).Label3()->text(), QString::number(kPages));
    QCOMPARE(combo->count(), kPages);
    QCOMPARE(combo->itemText(kPages - 1), QString::number(kPages));
    QCOMPARE(combo->currentText(), QStringLiteral("1"));
    // Four-digit page numbers show whole, the selector still left of its "/".
    QStyleOptionComboBox option;
    option.initFrom(combo);
    const QRect field
        = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    QVERIFY(field.width() >= combo->fontMetrics().horizontalAdvance(QString::number(kPages)));
    QVERIFY(combo->geometry().right() < m_form->area(Area::StockYard).Label1()->geometry().left());
    QCOMPARE(list->topItem(), 0);
    // 1311 is the last page whose scroll position fits 16 bits; the next ones scroll alike,
    // each to the row of its own second thumbnail.
    for (int page : { 1311, 1312, 1318, kPages, 2 }) {
        combo->setCurrentIndex(page - 1);
        m_form->area(Area::StockYard).Combo1_Click();
        QCOMPARE(list->topItem(), (page - 1) * 25);
    }
    // The last page shows the last thumbnail.
    combo->setCurrentIndex(kPages - 1);
    m_form->area(Area::StockYard).Combo1_Click();
    QAbstractItemView* view = list->view();
    const QRect last = view->visualRect(list->model()->index(kFiles - 1, 0));
    QVERIFY(view->viewport()->rect().contains(last));
}

void TstLargeFolder::choiceBeyond32767ActsOnItsFile()
{
    ThumbnailList* list = m_form->area(Area::StockYard).LEADImgList1();
    m_form->area(Area::StockYard).Combo1()->setCurrentIndex(kPages - 1);
    m_form->area(Area::StockYard).Combo1_Click();
    const int item = kFiles - 7; // 32993, on the last page
    const QPoint p = pointFor(list, item);
    QVERIFY(p.x() >= 0);
    m_form->area(Area::StockYard).LEADImgList1_MouseButton(Qt::RightButton, p);
    QCOMPARE(list->selectedItems(), QList<int> { item });
    QCOMPARE(chosenIndex(*m_form, Area(1)), item);
    QVERIFY(isChosen(*m_form, Area::StockYard));
    const QString file = m_dir->path() + QLatin1Char('/') + fileName(item);
    QCOMPARE(m_form->area(Area::StockYard).LEAD1()->sourcePath(), file);
    // What the file operations and the preview act on is that same file.
    QCOMPARE(m_form->area(Area::StockYard).HiddenList().value(chosenIndex(*m_form, Area(1))), file);
    m_form->area(Area::StockYard).LEAD1_Click();
    QCOMPARE(m_form->area(Area::StockYard).PreviewPath(), file);
    if (QWidget* preview = m_form->previewForm())
        preview->close();
}

void TstLargeFolder::nodeCountGoesPast32767()
{
    // Every child addition of a tree counts, failed ones included, and is never reset: a
    // long session passes 32767.
    FolderTree* tree = m_form->area(Area::StockYard).TreeView1();
    int count = 32767;
    tree->setNodeCounter(&count);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    QVERIFY(root);
    QVERIFY(QDir().mkpath(m_f->home.stockYard() + QStringLiteral("/box")));
    m_form->area(Area::StockYard).TreeEnum({ FolderTree::nodeKey(root), FolderTree::nodeKey(root) });
    QCOMPARE(count, 32769);
}

QTEST_MAIN(TstLargeFolder)
#include "tst_largefolder.moc"
