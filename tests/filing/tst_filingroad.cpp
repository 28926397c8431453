// The one road every filing into the vault takes: what a request files, and what its outcome
// says of it, against the disk and the journal.
#include "FilingTestUtil.h"
#include "filing/FilingRoad.h"
#include "filing/Journal.h"
#include "mainwindow/FilingCommands.h"

#include <QTest>

using namespace ztv;
using namespace ztv::test;
using Mode = FilingRequest::Mode;
using Who = FilingRequest::Who;
using Why = FilingOutcome::Why;

namespace {

// The window's file operations, with a look at each copy or move before it runs.
class WatchedOps : public FileOps {
public:
    std::function<void(const QString& from)> before;
    FileOps& real = windowFileOps();
    FileResult makeDirectory(const QString& p) override { return real.makeDirectory(p); }
    FileResult removeEmptyDirectory(const QString& p) override { return real.removeEmptyDirectory(p); }
    FileResult removeFile(const QString& p) override { return real.removeFile(p); }
    FileResult moveNoReplace(const QString& from, const QString& to) override
    {
        return real.moveNoReplace(from, to);
    }
    FileResult moveNoReplace(
        const QString& from, const QString& to, FolderFlushes& later, const CopyProgress& progress) override
    {
        if (before)
            before(from);
        return real.moveNoReplace(from, to, later, progress);
    }
    FileResult copyNoReplace(const QString& from, const QString& to) override
    {
        return real.copyNoReplace(from, to);
    }
    FileResult copyNoReplace(const QString& from, const QString& to, const CopyProgress& progress) override
    {
        if (before)
            before(from);
        return real.copyNoReplace(from, to, progress);
    }
    FileResult writeFile(const QString& p, const QByteArray& b, bool replace) override
    {
        return real.writeFile(p, b, replace);
    }
};

struct Watched {
    WatchedOps ops;
};

// Six stock-yard pictures and an empty box, the stock yard listed.
struct Fixture : Watched, MainFormFixture {
    Fixture()
        : MainFormFixture(true, ops)
    {
        for (int i = 0; i < 6; ++i)
            home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/p%1.jpg").arg(i),
                pictures::jpeg({ 16, 16 }, QColor::fromHsv(i * 50, 200, 200)));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱"));
        load();
        form->show();
        clickNode(*form, 1, QStringLiteral("ストックヤード"));
    }
    BrowsingArea& stock() { return form->area(Area::StockYard); }
    QString stockFile(int i) const { return home.stockYard() + QStringLiteral("/p%1.jpg").arg(i); }
    QString box(int i) const { return home.vault() + QStringLiteral("/箱/p%1.jpg").arg(i); }
    void choose(std::initializer_list<int> items)
    {
        stock().LEADImgList1_Click(*items.begin());
        for (auto it = items.begin() + 1; it != items.end(); ++it)
            stock().LEADImgList1_ClickWith(*it, Qt::ControlModifier);
    }
    // The stock yard's choice as a request into the box.
    FilingRequest request(Mode mode, Who who)
    {
        return { Area::StockYard, QStringLiteral("ストックヤード"), stock().Chosen(),
            QStringLiteral("保管庫/箱"), mode, who, {} };
    }
    // Every file the outcome says was filed is where it says, and the journal's step lists
    // exactly those.
    void checkFiled(const FilingOutcome& outcome, Mode mode)
    {
        const JournalStep* s = stepWithId(*form->journal(), outcome.step);
        QVERIFY(s);
        QCOMPARE(s->kind, mode == Mode::Copy ? JournalStep::Kind::Copy : JournalStep::Kind::Move);
        QCOMPARE(s->entries.size(), outcome.filed.size());
        for (qsizetype i = 0; i < outcome.filed.size(); ++i) {
            QCOMPARE(s->entries[i].from, outcome.filed[i].from);
            QCOMPARE(s->entries[i].to, outcome.filed[i].to);
            QVERIFY(QFileInfo::exists(outcome.filed[i].to));
            QCOMPARE(QFileInfo::exists(outcome.filed[i].from), mode == Mode::Copy);
        }
    }
};

} // namespace

class TstFilingRoad : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneCopiedSeveralMoved();
    void clashAndChangedFileAreLeft();
    void singleAndDropTellTheirOwnWay();
    void keyChoosesNextOnlyWhenFiled();
};

void TstFilingRoad::oneCopiedSeveralMoved()
{
    Fixture f;
    f.choose({ 0 });
    const FilingOutcome one = filing::fileRequest(*f.form, f.request(Mode::Copy, Who::Chooser));
    QCOMPARE(one.filed.size(), 1);
    QCOMPARE(one.filed[0].from, f.stockFile(0));
    QCOMPARE(one.filed[0].to, f.box(0));
    QCOMPARE(contents(f.box(0)), contents(f.stockFile(0)));
    f.checkFiled(one, Mode::Copy);
    QVERIFY(!one.stopped && one.notFiled.isEmpty());

    const qsizetype steps = f.form->journal()->steps().size();
    f.choose({ 1, 3, 2 });
    const FilingOutcome several = filing::fileRequest(*f.form, f.request(Mode::Move, Who::Chooser));
    QCOMPARE(several.filed.size(), 3);
    f.checkFiled(several, Mode::Move);
    QCOMPARE(f.form->journal()->steps().size(), steps + 1); // one step for the whole
    QVERIFY(several.step > one.step);
    // Each side listed once more: the stock yard without them, the vault at the box with them.
    QCOMPARE(f.stock().HiddenList(), (QStringList { f.stockFile(0), f.stockFile(4), f.stockFile(5) }));
    QCOMPARE(f.form->area(Area::Vault).HiddenList().size(), 4);
    QVERIFY(!f.form->pictureSelected());
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstFilingRoad::clashAndChangedFileAreLeft()
{
    Fixture f;
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/p2.jpg"), "kept");
    f.choose({ 1, 2, 3, 4 });
    // p3 is rewritten while p1 moves: its turn comes after it changed.
    f.ops.before = [&](const QString& from) {
        if (from == f.stockFile(1))
            f.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/p3.jpg"), "rewritten");
    };
    const FilingOutcome outcome = filing::fileRequest(*f.form, f.request(Mode::Move, Who::Chooser));
    QCOMPARE(outcome.filed.size(), 2);
    QCOMPARE(outcome.filed[0].from, f.stockFile(1));
    QCOMPARE(outcome.filed[1].from, f.stockFile(4));
    f.checkFiled(outcome, Mode::Move);
    QCOMPARE(outcome.notFiled.size(), 2);
    QCOMPARE(outcome.notFiled[0].why, Why::Clash);
    QCOMPARE(outcome.notFiled[1].why, Why::Changed);
    QCOMPARE(outcome.clashed(), QStringList { f.stockFile(2) });
    QCOMPARE(contents(f.box(2)), QByteArray("kept"));
    QVERIFY(QFileInfo::exists(f.stockFile(2)) && QFileInfo::exists(f.stockFile(3)));
    QVERIFY(!QFileInfo::exists(f.box(3)));
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls[0].text,
        QStringLiteral("2 / 4 個のファイルを保管しました\r次のファイルは処理できませんでした：\r"
                       "p2.jpg（すでに同名のファイルが保管されています）\r"
                       "p3.jpg（選択後に移動、削除または変更されています）"));
}

void TstFilingRoad::singleAndDropTellTheirOwnWay()
{
    Fixture f;
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/p0.jpg"), "kept");
    const qsizetype steps = f.form->journal()->steps().size();
    f.choose({ 0 });
    // One picture through the chooser: its own error, no step written, the choice kept.
    FilingOutcome outcome = filing::fileRequest(*f.form, f.request(Mode::Move, Who::Chooser));
    QVERIFY(!outcome.anyFiled() && outcome.step == 0);
    QCOMPARE(outcome.clashed(), QStringList { f.stockFile(0) });
    QCOMPARE(f.form->journal()->steps().size(), steps);
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(
            QStringLiteral("すでに同名のファイルが保管されています"), QStringLiteral("保管エラー")) });
    QCOMPARE(f.stock().TabSelection()->path, f.stockFile(0));

    // The same file dropped: the batch's closing message.
    f.prompts.clear();
    outcome = filing::fileRequest(*f.form, f.request(Mode::Move, Who::Drop));
    QCOMPARE(outcome.clashed(), QStringList { f.stockFile(0) });
    QCOMPARE(f.prompts.calls.size(), 1);
    QVERIFY(f.prompts.calls[0].text.startsWith(QStringLiteral("0 / 1 個のファイルを保管しました")));

    // The choice moved on since the request: nothing tried.
    f.prompts.clear();
    const FilingRequest asked = f.request(Mode::Move, Who::Chooser);
    f.choose({ 1 });
    outcome = filing::fileRequest(*f.form, asked);
    QVERIFY(outcome.refused && !outcome.anyFiled() && outcome.notFiled.isEmpty());
    QCOMPARE(f.prompts.calls.size(), 1);
    QVERIFY(f.prompts.calls[0].text.startsWith(QStringLiteral("選択中の画像が変わったか")));
    QVERIFY(QFileInfo::exists(f.stockFile(0)) && QFileInfo::exists(f.stockFile(1)));
    QCOMPARE(f.form->journal()->steps().size(), steps);
}

void TstFilingRoad::keyChoosesNextOnlyWhenFiled()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱")));
    f.form->filingCommands().BoxKey(1)->trigger();
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/p0.jpg"), "kept");
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(0)));
    QAbstractItemView* view = f.stock().LEADImgList1()->view();
    view->setFocus();

    // Nothing filed (the name is taken): the choice stays where it was.
    QTest::keyClick(view, Qt::Key_1);
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.stock().TabSelection()->path, f.stockFile(0));

    // Two filed: the next is the first unchosen picture after the last chosen one.
    f.choose({ 3, 1 });
    QCOMPARE(f.stock().pictureAfterChoice(), f.stockFile(4));
    QTest::keyClick(view, Qt::Key_1);
    QVERIFY(QFileInfo::exists(f.box(1)) && QFileInfo::exists(f.box(3)));
    QCOMPARE(f.stock().chosenCount(), 1);
    QCOMPARE(f.stock().TabSelection()->path, f.stockFile(4));
    QVERIFY(f.form->pictureSelected());
    QCOMPARE(f.stock().invariantViolation(), QString());
}

QTEST_MAIN(TstFilingRoad)
#include "tst_filingroad.moc"
