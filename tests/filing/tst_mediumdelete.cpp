// A card (a folder given as a medium root, or a FAT card image mounted through FUSE on it) whose
// pictures the vault partly holds: the CD tab's "新しい画像だけ表示" and
// "保管済みの画像をメディアから削除…".
#include "CardImage.h"
#include "FileTestUtil.h"
#include "FilingTestUtil.h"
#include "GvfsSession.h"
#include "MainFormFixture.h"
#include "PictureBytes.h"
#include "filing/MediumDelete.h"
#include "mainwindow/FilingCommands.h"
#include "platform/ContentIndex.h"
#include "platform/FaultInjection.h"
#include "platform/LinuxMedia.h"
#include "widgets/FolderTree.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace ztv;
using namespace ztv::test;

namespace {

QString g_noNamespace; // why the process has no mount namespace of its own; "" when it has

// Larger than the two ends the index's fast hash reads: a byte changed in the middle is seen
// only by a full comparison.
QByteArray paddedJpeg(QColor colour, int width = 40)
{
    const QByteArray jpeg = pictures::jpeg({ width, 30 }, colour);
    return jpeg.left(2) + QByteArray("\xFF\xFE\xEA\x60", 4) + QByteArray(60000 - 2, 'p') + jpeg.mid(2);
}

QByteArray oneByteChanged(QByteArray bytes)
{
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
    return bytes;
}

// The card's DCIM folder: A and B (with its clip) in the vault, C's vault copy one byte off,
// D new, E in the vault without its sidecar; and `extra` more pictures the vault holds.
struct CardFixture : MainFormFixture {
    explicit CardFixture(int extra = 0, CardOn on = CardOn::Folder)
    {
        services.media = &media;
        home.fillSample();
        card = places.filePath(QStringLiteral("CARD"));
        dcim = card + QStringLiteral("/DCIM");
        QDir().mkpath(dcim);
        const QByteArray a = paddedJpeg(Qt::red), b = paddedJpeg(Qt::green), c = paddedJpeg(Qt::blue),
                         d = paddedJpeg(Qt::yellow), e = paddedJpeg(Qt::cyan);
        const QByteArray clip(5000, 'm');
        onCard({ { "A.JPG", a }, { "B.JPG", b }, { "B.MOV", clip }, { "C.JPG", c }, { "D.JPG", d },
            { "E.JPG", e }, { "E.AAE", QByteArray("<plist/>") } });
        inVault({ { "A.JPG", a }, { "b-renamed.jpg", b }, { "B.MOV", clip }, { "C.JPG", oneByteChanged(c) },
            { "E.JPG", e } });
        for (int i = 0; i < extra; ++i) {
            const QByteArray x = paddedJpeg(QColor::fromHsv(i * 12, 200, 200), 20 + i);
            const QByteArray name = "X" + QByteArray::number(100 + i) + ".JPG";
            onCard({ { name.constData(), x } });
            inVault({ { name.constData(), x } });
        }
        cardFailed = putOnCard(image, on, card, places.filePath(QStringLiteral("card.img")), 16);
        media.list = { { "mount:40", card, "CARD", "/dev/sdb1", "/d/reader", true, false } };
        load();
        form->show();
    }
    void onCard(std::initializer_list<std::pair<const char*, QByteArray>> files)
    {
        for (const auto& [name, bytes] : files)
            QVERIFY(writeRaw(dcim + u'/' + QLatin1String(name), bytes));
    }
    void inVault(std::initializer_list<std::pair<const char*, QByteArray>> files)
    {
        for (const auto& [name, bytes] : files)
            home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/") + QLatin1String(name), bytes);
    }
    BrowsingArea& cd() { return form->area(Area::Cd); }
    QTreeWidgetItem* cardRoot() { return cd().TreeView1()->topLevelItem(1); }
    bool settle()
    {
        if (!indexSettled(*form))
            return false;
        QTest::qWait(200); // the page laid out again after the answers
        return true;
    }
    QStringList names(const QStringList& paths) const
    {
        QStringList out;
        for (const QString& p : paths)
            out << p.mid(p.lastIndexOf(u'/') + 1);
        out.sort();
        return out;
    }
    QStringList onCardNow() const { return names(entries(dcim)); }
    QString trashFiles() const
    {
        return card + QStringLiteral("/.Trash-") + QString::number(::geteuid()) + "/files";
    }

    QTemporaryDir places;
    FakeMedia media;
    QString card, dcim;
    CardImage image { g_noNamespace };
    QString cardFailed; // why the card image could not be had
};

QString deleteAsk(int going, int notInVault, int differs)
{
    return message(
        QStringLiteral("保管庫に同じ内容があることを確認した %1 個のファイルをメディアのごみ箱へ移動します\r"
                       "残すファイル：%2 個（保管庫にない %3 個、保管庫のファイルと内容が違う %4 個）\r"
                       "よろしいですか？")
            .arg(going)
            .arg(notInVault + differs)
            .arg(notInVault)
            .arg(differs),
        QStringLiteral("メディアから削除"), "question", "okcancel, cancel default");
}

} // namespace

class TstMediumDelete : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { faults::reset(); }
    void cleanup() { faults::reset(); }
    void onlyNewHidesWhatTheVaultHolds_data() { addCardRows(true, false); }
    void onlyNewHidesWhatTheVaultHolds();
    void deletesOnlyProvedFilesAndUndoBringsThemBack_data() { addCardRows(false, true); }
    void deletesOnlyProvedFilesAndUndoBringsThemBack();
    void readOnlyCardKeepsItsFiles();
    void gvfsMountThatRefusesDeletion();
};

void TstMediumDelete::onlyNewHidesWhatTheVaultHolds()
{
    QFETCH(const CardOn, on);
    if (const QString why = cardUnavailable(on, g_noNamespace); !why.isEmpty())
        QSKIP(qPrintable(why));
    CardFixture f(26, on);
    QVERIFY2(f.cardFailed.isEmpty(), qPrintable(f.cardFailed));
    BrowsingArea& cd = f.cd();
    QCheckBox* box = cd.onlyNewBox();
    // Never on the other tabs; on the CD tab only once a folder is listed, and off.
    QVERIFY(!f.form->area(Area::StockYard).onlyNewBox()->isVisibleTo(f.form.get()));
    QVERIFY(!f.form->area(Area::Vault).onlyNewBox()->isVisibleTo(f.form.get()));
    QVERIFY(!box->isVisibleTo(&cd));
    f.cd().TreeView1()->setCurrentItem(f.cardRoot());
    cd.TreeView1_NodeClick(f.cardRoot());
    QCOMPARE(cd.ListedFolder(), f.dcim);
    QVERIFY(box->isVisibleTo(&cd));
    QVERIFY(!box->isChecked());
    QVERIFY(f.settle());
    QCOMPARE(cd.HiddenList().size(), 31);
    QCOMPARE(cd.Label3()->text(), QStringLiteral("2"));

    // D (new) stays chosen across the filter; the tick on A stays while it is shown.
    const QString d = f.dcim + QStringLiteral("/D.JPG");
    const int rowA = int(cd.HiddenList().indexOf(f.dcim + QStringLiteral("/A.JPG")));
    QVERIFY(!cd.LEADImgList1()->mark(rowA).isEmpty());
    cd.LEADImgList1_Click(int(cd.HiddenList().indexOf(d)));
    QCOMPARE(cd.TabSelection()->path, d);
    box->setChecked(true);
    QTRY_COMPARE(f.names(cd.HiddenList()), (QStringList { "C.JPG", "D.JPG" }));
    QCOMPARE(cd.Label3()->text(), QStringLiteral("1"));
    QCOMPARE(cd.Combo1()->count(), 1);
    QCOMPARE(cd.TabSelection()->path, d);
    QCOMPARE(cd.invariantViolation(), QString());
    QCOMPARE(cd.LEADImgList1()->ThumbnailCount(), 2);
    QCOMPARE(cd.LEADImgList1()->markCount(), 0);

    // A re-listing is filtered again once the answers come; the choice of a hidden file ends.
    box->setChecked(false);
    QCOMPARE(cd.HiddenList().size(), 31);
    QVERIFY(!cd.LEADImgList1()->mark(rowA).isEmpty());
    cd.LEADImgList1_Click(rowA);
    box->setChecked(true);
    cd.list(f.dcim, BrowsingArea::ListHow::Show);
    QVERIFY(f.settle());
    QTRY_COMPARE(cd.HiddenList().size(), 2);
    QVERIFY(!cd.TabSelection());
    QCOMPARE(cd.invariantViolation(), QString());
    QCOMPARE(cd.listedPictures().size(), 31);

    // A picture the vault gains afterwards leaves the filtered page.
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/D.JPG"), readAll(d));
    f.form->contentIndex()->pathChanged(f.home.vault() + QStringLiteral("/旅行/D.JPG"));
    cd.list(f.dcim, BrowsingArea::ListHow::Show);
    QVERIFY(f.settle());
    QTRY_COMPARE(f.names(cd.HiddenList()), (QStringList { "C.JPG" }));
}

void TstMediumDelete::deletesOnlyProvedFilesAndUndoBringsThemBack()
{
    QFETCH(const CardOn, on);
    if (const QString why = cardUnavailable(on, g_noNamespace); !why.isEmpty())
        QSKIP(qPrintable(why));
    CardFixture f(0, on);
    QVERIFY2(f.cardFailed.isEmpty(), qPrintable(f.cardFailed));
    // A folder is no mount: the trash is told where the card's top is. The image's top is found.
    if (on == CardOn::Folder)
        faults::forceTrashTop(QFile::encodeName(QFileInfo(f.card).canonicalFilePath()).toStdString());
    QVERIFY(f.settle());
    f.cd().TreeView1()->setCurrentItem(f.cardRoot());
    const QStringList all { "A.JPG", "B.JPG", "B.MOV", "C.JPG", "D.JPG", "E.AAE", "E.JPG" };
    QCOMPARE(f.onCardNow(), all);
    QHash<QString, QByteArray> bytes;
    for (const QString& n : all)
        bytes.insert(n, readAll(f.dcim + u'/' + n));
    QAction* command = f.form->action("Medium_DeleteFiled");
    QCOMPARE(command->text(), QStringLiteral("保管済みの画像をメディアから削除…"));
    // Offered for the card, greyed out for a disc.
    f.form->popupMenu(Area::Cd, TabWindow::Menu::Medium);
    QVERIFY(command->isEnabled());
    Medium disc = f.media.list.first();
    disc.device = QStringLiteral("/dev/sr1");
    QVERIFY(!MediumDelete::canDelete(disc));
    Medium refusing = f.media.list.first(); // GIO said no, whatever the FUSE view lets
    refusing.refusesDeletion = true;
    QVERIFY(!MediumDelete::canDelete(refusing));

    // Asked first, Cancel the default: a Cancel deletes nothing.
    f.prompts.answerMessage(PromptAnswer::Cancel);
    command->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(3, 4, 0) }));
    QCOMPARE(f.onCardNow(), all);

    // OK: A, B and B's clip go to the card's own trash; C (one byte off in the vault), D (new)
    // and E (its sidecar not in the vault) stay.
    f.prompts.clear();
    f.prompts.answerMessage(PromptAnswer::Ok);
    command->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(3, 4, 0) }));
    QCOMPARE(f.onCardNow(), (QStringList { "C.JPG", "D.JPG", "E.AAE", "E.JPG" }));
    QCOMPARE(f.names(entries(f.trashFiles())), (QStringList { "A.JPG", "B.JPG", "B.MOV" }));
    QCOMPARE(readAll(f.trashFiles() + QStringLiteral("/B.MOV")), bytes.value("B.MOV"));
    QVERIFY(QFileInfo::exists(f.home.vault() + QStringLiteral("/旅行/C.JPG")));

    // One step: undo brings all three back, byte for byte.
    f.form->filingCommands().Undo()->trigger();
    QCOMPARE(f.onCardNow(), all);
    for (const QString& n : all)
        QCOMPARE(readAll(f.dcim + u'/' + n), bytes.value(n));
    QCOMPARE(entries(f.trashFiles()), QStringList());

    // A vault copy that changes after the question is no proof: the picture stays, and so does
    // its clip, proved as it is, which would be nothing without it.
    f.prompts.clear();
    f.prompts.answerMessage(PromptAnswer::Ok);
    f.prompts.onMessage = [&](const QString&) {
        writeRaw(
            f.home.vault() + QStringLiteral("/旅行/b-renamed.jpg"), oneByteChanged(bytes.value("B.JPG")));
        f.prompts.onMessage = nullptr;
    };
    command->trigger();
    QCOMPARE(f.onCardNow(), (QStringList { "B.JPG", "B.MOV", "C.JPG", "D.JPG", "E.AAE", "E.JPG" }));
}

// A locked card, mounted read-only: the command is greyed out, and nothing leaves the card even
// when it is triggered.
void TstMediumDelete::readOnlyCardKeepsItsFiles()
{
    if (const QString why = cardUnavailable(CardOn::ReadOnlyImage, g_noNamespace); !why.isEmpty())
        QSKIP(qPrintable(why));
    CardFixture f(0, CardOn::ReadOnlyImage);
    QVERIFY2(f.cardFailed.isEmpty(), qPrintable(f.cardFailed));
    QVERIFY(f.settle());
    const QMap<QString, QByteArray> before = snapshot(f.card);
    QCOMPARE(f.onCardNow(), (QStringList { "A.JPG", "B.JPG", "B.MOV", "C.JPG", "D.JPG", "E.AAE", "E.JPG" }));
    f.cd().TreeView1()->setCurrentItem(f.cardRoot());
    f.form->popupMenu(Area::Cd, TabWindow::Menu::Medium);
    QAction* command = f.form->action("Medium_DeleteFiled");
    QVERIFY(!command->isEnabled());
    QVERIFY(!MediumDelete::canDelete(f.media.list.first()));
    f.prompts.answerMessage(PromptAnswer::Ok);
    command->trigger();
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(snapshot(f.card), before);
    // Copying from it is still offered.
    QVERIFY(f.form->action("Medium_Import")->isEnabled());
}

// A GVfs mount whose backend refuses deletion, as a phone set to charge only does: an archive
// opened as a file manager does, read-only to GIO (its FUSE view refuses writing too: the
// medium's own answer is what shows GIO was asked). The delete is greyed out; copying its new
// pictures works.
void TstMediumDelete::gvfsMountThatRefusesDeletion()
{
    GvfsSession gvfs;
    if (!gvfs.unavailable().isEmpty())
        QSKIP(qPrintable(gvfs.unavailable()));
    QTemporaryDir dir;
    const QString camera = dir.filePath(QStringLiteral("pics/DCIM/Camera/"));
    QVERIFY(QDir().mkpath(camera));
    const QByteArray fresh = paddedJpeg(Qt::blue), other = paddedJpeg(Qt::green);
    QVERIFY(writeRaw(camera + "PXL_2.jpg", fresh) && writeRaw(camera + "PXL_3.jpg", other));
    const QString tar = gvfs.tarOf(dir.filePath(QStringLiteral("pics")), QStringLiteral("DCIM"));
    QVERIFY(!tar.isEmpty());
    const QByteArray tarBefore = readAll(tar);

    MainFormFixture f;
    FakeDrives noMounts;
    LinuxMedia media(noMounts, QDBusConnection(QStringLiteral("none")), QStringLiteral("x"));
    f.services.media = &media;
    f.home.fillSample();
    f.load();
    f.form->show();
    QVERIFY(gvfs.mountArchive(tar));
    FolderTree* tree = f.form->area(Area::Cd).TreeView1();
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 2, 30000);
    QTreeWidgetItem* root = tree->topLevelItem(1);
    // GIO answers later, and the tab's medium carries the answer.
    QTRY_VERIFY_WITH_TIMEOUT(media.media().value(0).refusesDeletion, 30000);
    tree->setCurrentItem(root);
    QAction* command = f.form->action("Medium_DeleteFiled");
    QTRY_VERIFY_WITH_TIMEOUT(
        (f.form->popupMenu(Area::Cd, TabWindow::Menu::Medium), !command->isEnabled()), 30000);
    QVERIFY(f.form->area(Area::Cd).markedMedium()->refusesDeletion);

    // The copy reads it: its pictures, byte for byte.
    QVERIFY(indexSettled(*f.form));
    QVERIFY(importFromMedium(f, root, QStringLiteral("保管庫/旅行")));
    const QString box = f.home.vault() + QStringLiteral("/旅行/");
    QCOMPARE(readAll(box + "PXL_2.jpg"), fresh);
    QCOMPARE(readAll(box + "PXL_3.jpg"), other);
    QCOMPARE(recorded(f.prompts), QStringList({ message(QStringLiteral("保管庫へコピーしました：2 個")) }));
    QCOMPARE(readAll(tar), tarBefore);

    // A phone's DCIM lies in its storage, one folder down: that one is asked.
    const QString storage = dir.filePath(QStringLiteral("phone"));
    QVERIFY(
        QDir().mkpath(storage + "/内部ストレージ/DCIM") && QDir().mkpath(storage + "/内部ストレージ/Music"));
    const QString phoneTar
        = gvfs.tarOf(storage, QStringLiteral("内部ストレージ"), QStringLiteral("phone.tar"));
    QVERIFY(!phoneTar.isEmpty() && gvfs.mountArchive(phoneTar));
    QTRY_COMPARE_WITH_TIMEOUT(media.media().size(), 2, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(
        media.media().value(0).refusesDeletion && media.media().value(1).refusesDeletion, 30000);
    f.form->close();
}

int main(int argc, char** argv)
{
    g_noNamespace = enterPrivateMountNamespace(false);
    QApplication app(argc, argv);
    TstMediumDelete t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_mediumdelete.moc"
