#pragma once

#include "imaging/ThumbnailBrowser.h"
#include "mainwindow/MainForm.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <functional>

namespace ztv::test {

// What the main window's progress line said during each browse run of any tab, read after
// the window's own handler of each event has updated it. Optionally presses Esc once, at
// the given file of the given run (counted from 1), as a real key press reaches the
// application.
struct BrowseProgressLog {
    struct Run {
        Area area;
        int files = 0; // what BrowseStarted announced
        QStringList lines; // the line after each file, in order
    };

    explicit BrowseProgressLog(MainForm& form)
        : m_form(form)
    {
        for (Area area : { Area::Cd, Area::StockYard, Area::Vault }) {
            ThumbnailBrowser* browser = form.area(area).LEADThumb1();
            m_connections << QObject::connect(
                browser, &ThumbnailBrowser::BrowseStarted, &form, [this, area](int files) {
                    runs.append({ area, files, {} });
                });
            m_connections << QObject::connect(
                browser, &ThumbnailBrowser::ThumbnailReady, &form, [this, area] { fileDone(area); });
        }
    }
    ~BrowseProgressLog()
    {
        for (const QMetaObject::Connection& c : std::as_const(m_connections))
            QObject::disconnect(c);
    }
    BrowseProgressLog(const BrowseProgressLog&) = delete;
    BrowseProgressLog& operator=(const BrowseProgressLog&) = delete;

    void escAt(int run, int file)
    {
        m_escRun = run;
        m_escFile = file;
    }

    // The line the window shows after file k of n.
    static QString line(int k, int n)
    {
        return QStringLiteral("サムネイル作成中：%1 / %2 ファイル（Escキーで中止）").arg(k).arg(n);
    }
    // The lines a run of n files shows when it runs to the end.
    static QStringList whole(int n)
    {
        QStringList out;
        for (int k = 1; k <= n; ++k)
            out << line(k, n);
        return out;
    }

    // Whether lines are those of a run of n files stopped by Esc at file k: the run ends at
    // that file, or at the next when its decode had already begun, as the workers' timing
    // decides.
    static bool stoppedAt(const QStringList& lines, int k, int n)
    {
        return (lines.size() == k || lines.size() == k + 1) && lines == whole(n).mid(0, lines.size());
    }

    QList<Run> runs;
    bool lineHiddenDuringRun = false;

private:
    void fileDone(Area area)
    {
        // The latest run of that tab: a run started inside another belongs to another tab.
        qsizetype at = runs.size() - 1;
        while (at >= 0 && runs[at].area != area)
            --at;
        if (at < 0)
            return;
        Run& run = runs[at];
        run.lines << m_form.BrowseStatus()->text();
        lineHiddenDuringRun = lineHiddenDuringRun || m_form.BrowseStatus()->isHidden();
        if (at + 1 == m_escRun && run.lines.size() == m_escFile) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &m_form;
            QCoreApplication::sendEvent(target, &esc);
        }
    }

    MainForm& m_form;
    QList<QMetaObject::Connection> m_connections;
    int m_escRun = -1;
    int m_escFile = -1;
};

} // namespace ztv::test
