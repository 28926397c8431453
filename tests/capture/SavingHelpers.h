#pragma once

#include "CaptureFixture.h"
#include "capture/PictureSaving.h"
#include "capture/SaveSelect.h"
#include "platform/FileOps.h"
#include "widgets/FolderTree.h"

#include <QFile>
#include <QImageReader>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <functional>

namespace ztv::test {

inline SaveRequest answerFor(const QString& path, int bits = 0, int quality = 0, bool saveFlag = false)
{
    SaveRequest r;
    r.path = path;
    r.bits = bits;
    r.quality = quality;
    r.saveFlag = saveFlag;
    return r;
}

// The format of a file as its bytes tell, whatever its name says.
inline QByteArray formatOf(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.canRead() ? reader.format() : QByteArray();
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The save button path: open the chooser, pick option (-1 none), answer the dialog, save.
inline void saveThroughChooser(CaptureFixture& f, int option, const SaveRequest& answer)
{
    f.form->Command1(3)->click();
    SaveSelect* select = f.form->pictureSaving().saveSelect();
    QVERIFY(select);
    if (option >= 0)
        select->Option1[option]->setChecked(true);
    f.dialog->answer(answer);
    select->Command1[0]->click();
}

// Which nodes of a tree were expanded, by tree path, and how often its current node changed.
struct TreeWatch {
    explicit TreeWatch(FolderTree& tree)
    {
        m_expanded = QObject::connect(&tree, &QTreeWidget::itemExpanded, &tree,
            [this, &tree](QTreeWidgetItem* item) { expanded << tree.treePath(item); });
        m_current
            = QObject::connect(&tree, &QTreeWidget::currentItemChanged, &tree, [this] { ++currentChanges; });
    }
    ~TreeWatch()
    {
        QObject::disconnect(m_expanded);
        QObject::disconnect(m_current);
    }
    TreeWatch(const TreeWatch&) = delete;
    TreeWatch& operator=(const TreeWatch&) = delete;

    QStringList expanded;
    int currentChanges = 0;

private:
    QMetaObject::Connection m_expanded, m_current;
};

// The real file operations, with each write logged under a name and an optional step after it.
class LoggingFileOps : public FileOps {
public:
    LoggingFileOps(QStringList& log, QString name)
        : m_log(log)
        , m_name(std::move(name))
    {
    }
    FileResult makeDirectory(const QString& p) override { return realFileOps().makeDirectory(p); }
    FileResult removeEmptyDirectory(const QString& p) override
    {
        return realFileOps().removeEmptyDirectory(p);
    }
    FileResult removeFile(const QString& p) override { return realFileOps().removeFile(p); }
    FileResult moveNoReplace(const QString& a, const QString& b) override
    {
        return realFileOps().moveNoReplace(a, b);
    }
    FileResult copyNoReplace(const QString& a, const QString& b) override
    {
        return realFileOps().copyNoReplace(a, b);
    }
    FileResult writeFile(const QString& path, const QByteArray& bytes, bool replace) override
    {
        m_log << m_name;
        const FileResult r = realFileOps().writeFile(path, bytes, replace);
        if (afterWrite)
            afterWrite(path);
        return r;
    }
    std::function<void(const QString&)> afterWrite;

private:
    QStringList& m_log;
    QString m_name;
};

} // namespace ztv::test
