#pragma once

#include "FileTestUtil.h"
#include "MainFormFixture.h"
#include "widgets/FolderTree.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTreeWidgetItem>

namespace ztv::test {

// A window whose CD tab sees removable media: folders of a temporary directory that a faked
// list of media names. The test adds its media in the order the list holds them, then opens
// the window.
struct MediaWindowFixture : MainFormFixture {
    MediaWindowFixture() { services.media = &media; }

    void open()
    {
        home.fillSample();
        load();
        form->show();
    }
    QString addFolder(const QString& name)
    {
        const QString path = places.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    // A camera card in a reader: DCIM/100CANON holding IMG_0001.JPG onwards, and the (empty)
    // folders given. Its folder.
    QString addCard(int pictures, const QStringList& folders)
    {
        const QString card = addFolder(QStringLiteral("CANON_SD"));
        QDir(card).mkpath(QStringLiteral("DCIM/100CANON"));
        for (const QString& folder : folders)
            QDir(card).mkpath(folder);
        for (int i = 1; i <= pictures; ++i)
            writeRaw(card + QStringLiteral("/DCIM/100CANON/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')),
                pictures::jpeg({ 40, 30 }, Qt::darkGreen));
        media.list.append({ "mount:40", card, "CANON_SD", "/dev/sdb1", "/d/reader", false, false });
        return card;
    }
    // A stick that may be removed safely, holding the (empty) folders given. Its folder.
    QString addStick(const QStringList& folders)
    {
        const QString stick = addFolder(QStringLiteral("stick"));
        for (const QString& folder : folders)
            QDir(stick).mkpath(folder);
        media.list.append({ "mount:41", stick, "PHOTOS", "/dev/sdc1", "/d/stick", true, false });
        return stick;
    }
    // A phone (an MTP mount that GIO tells of), holding the folder inside; a window already
    // open is told. Its folder.
    QString addPhone(const QString& inside = {})
    {
        const QString phone = addFolder(QStringLiteral("phone"));
        if (!inside.isEmpty())
            QDir(phone).mkpath(inside);
        media.list.append({ "mtp://Pixel/", phone, "Pixel 8", "", "", false, true });
        media.notify();
        return phone;
    }

    FolderTree* tree() const { return form->area(Area::Cd).TreeView1(); }
    QTreeWidgetItem* root(int i) const { return tree()->topLevelItem(i); }
    QStringList roots() const
    {
        QStringList out;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            out << tree()->topLevelItem(i)->text(0);
        return out;
    }
    void clickRoot(int i)
    {
        tree()->setCurrentItem(root(i));
        form->area(Area::Cd).TreeView1_NodeClick(root(i));
    }

    QTemporaryDir places;
    FakeMedia media;
};

} // namespace ztv::test
