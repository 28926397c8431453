#pragma once

#include "imaging/SaveDialog.h"

#include <QList>
#include <QQueue>

namespace ztv::test {

// A save dialog that answers from a script instead of asking, and records what it was set
// up with each time it was shown. The answer still goes through the dialog's own rules
// (offered format, extension appended). No answer left: the user cancels.
class ScriptedSaveDialog : public SaveDialog {
public:
    struct Shown {
        QWidget* owner = nullptr;
        QString fileName, initialFolder, filter, title;
        int flags = 0, formatOptions = 0, extendedOptions = 0;
        QList<int> formatList;
    };

    void answer(const SaveRequest& request) { answers.enqueue(request); }
    void answerCancel() { answers.enqueue(SaveRequest {}); }

    QQueue<SaveRequest> answers;
    QList<Shown> shown;

protected:
    SaveRequest askUser(QWidget* owner) override
    {
        Shown s { owner, fileName(), initialFolder(), filter(), title(), flags(), formatOptions(),
            extendedOptions(), {} };
        for (int i = 0; i < formatListSize(); ++i)
            s.formatList << formatListEntry(i);
        shown << s;
        return answers.isEmpty() ? SaveRequest {} : answers.dequeue();
    }
};

} // namespace ztv::test
