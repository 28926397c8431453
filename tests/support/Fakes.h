#pragma once

#include "platform/Drives.h"
#include "platform/Media.h"
#include "platform/Prompts.h"
#include "platform/Shell.h"
#include "platform/Spreadsheet.h"

#include <QFile>
#include <QList>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QThread>
#include <functional>
#include <optional>

namespace ztv::test {

// Records every message and input box and answers from a script. Unscripted messages
// are answered OK, unscripted inputs with the empty string (Cancel).
class RecordingPrompts : public Prompts {
public:
    struct Call {
        enum Kind { Message, Input } kind = Message;
        QString text; // message text or input prompt
        QString title; // effective title (the application title when none was given)
        PromptIcon icon = PromptIcon::None;
        PromptButtons buttons = PromptButtons::Ok;
        QString defaultText;
    };

    PromptAnswer message(
        const QString& text, const QString& title, PromptIcon icon, PromptButtons buttons) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText) override;

    void answerMessage(PromptAnswer answer) { m_messageAnswers.enqueue(answer); }
    void answerInput(const QString& text) { m_inputAnswers.enqueue(text); }

    QList<Call> calls;
    QList<Call> messages() const;
    // Called with each message's text as it is asked, before it is answered.
    std::function<void(const QString&)> onMessage;
    void clear() { calls.clear(); }

private:
    QQueue<PromptAnswer> m_messageAnswers;
    QQueue<QString> m_inputAnswers;
};

class FakeShell : public Shell {
public:
    bool openFolder(const QString& folder) override
    {
        folders << folder;
        return succeed;
    }
    bool openUrl(const QString& url) override
    {
        urls << url;
        return succeed;
    }
    QStringList folders;
    QStringList urls;
    bool succeed = true;
};

class FakeDrives : public Drives {
public:
    QString environmentHome() override { return envHome; }
    QString passwdHome() override { return pwHome; }
    QStringList opticalDevices() override { return devices; }
    QList<MountEntry> mounts() override { return mountTable; }
    bool mediumPresent(const QString& device) override { return media.contains(device); }
    // Mounts mountOnRequest when it is set (a desktop that agrees), else refuses.
    bool mountMedium(const QString& device) override
    {
        mountRequests << device;
        if (whileMounting)
            whileMounting();
        if (!mountOnRequest)
            return false;
        mountTable.append(*mountOnRequest);
        return true;
    }
    void watch(QObject* receiver, std::function<void()> onChange) override
    {
        watchers.append({ receiver, std::move(onChange) });
    }
    // What the kernel's signal of a changed mount table does.
    void notify()
    {
        for (const Watcher& w : std::as_const(watchers)) {
            if (w.receiver)
                w.onChange();
        }
    }

    QString envHome;
    QString pwHome;
    QStringList devices;
    QList<MountEntry> mountTable;
    QStringList media; // drives holding a medium
    std::optional<MountEntry> mountOnRequest;
    QStringList mountRequests;
    std::function<void()> whileMounting;
    struct Watcher {
        QPointer<QObject> receiver;
        std::function<void()> onChange;
    };
    QList<Watcher> watchers;
};

// Removable media from a list the test changes; notify() tells the watchers.
class FakeMedia : public Media {
public:
    QList<Medium> list;
    QList<Medium> removals; // the media remove() was asked for
    Removal answer; // what remove() answers; Done takes the medium off the list
    QList<Medium> media() override { return list; }
    void watch(QObject* receiver, std::function<void()> onChange) override
    {
        watchers.append({ receiver, std::move(onChange) });
    }
    Removal remove(const Medium& medium) override
    {
        removals << medium;
        if (answer.result == Removal::Result::Done)
            list.removeAll(medium);
        return answer;
    }
    void notify()
    {
        for (const Watcher& w : std::as_const(watchers)) {
            if (w.receiver)
                w.onChange();
        }
    }

private:
    struct Watcher {
        QPointer<QObject> receiver;
        std::function<void()> onChange;
    };
    QList<Watcher> watchers;
};

class FakeSpreadsheet : public Spreadsheet {
public:
    struct Export {
        QString workbook, cellText, macro;
    };
    std::optional<Info> applicationInfo() override
    {
        ++infoCalls;
        return info;
    }
    void exportToWorkbook(const QString& workbook, const QString& cellText, const QString& macro) override
    {
        exports.append({ workbook, cellText, macro });
    }
    bool openDocument(const QString& path) override
    {
        opened << path;
        return true;
    }
    // Records the request and writes a stand-in PDF, unless told to fail.
    bool convertToPdf(const QString& document, const QString& pdfPath, const std::atomic<bool>* stop) override
    {
        pdfs.append({ document, pdfPath });
        // Stands for a long conversion: runs until stopped (30 s at most), then fails;
        // whilePdf (on the conversion's thread) may ask for the stop.
        if (pdfUntilStopped) {
            if (whilePdf)
                whilePdf();
            for (int i = 0; i < 3000 && !(stop && stop->load()); ++i)
                QThread::msleep(10);
            return false;
        }
        if (!pdfSucceeds)
            return false;
        QFile out(pdfPath);
        return out.open(QIODevice::WriteOnly) && out.write("%PDF-1.4\n") > 0;
    }
    std::optional<Info> info;
    int infoCalls = 0;
    QList<Export> exports;
    QStringList opened;
    struct Pdf {
        QString document, pdf;
    };
    QList<Pdf> pdfs;
    bool pdfSucceeds = true;
    bool pdfUntilStopped = false;
    std::function<void()> whilePdf;
};

} // namespace ztv::test
