#pragma once

// The desktop services a benchmark's window gets where none may show or start anything.

#include "platform/Prompts.h"
#include "platform/Spreadsheet.h"

namespace ztv::bench {

// Every message answered OK and counted; every input cancelled.
class SilentPrompts : public Prompts {
public:
    int messages = 0;
    QString last;
    PromptAnswer message(const QString& text, const QString&, PromptIcon, PromptButtons) override
    {
        ++messages;
        last = text;
        return PromptAnswer::Ok;
    }
    QString input(const QString&, const QString&, const QString&) override { return QString(); }
};

class NoSpreadsheet : public Spreadsheet {
public:
    std::optional<Info> applicationInfo() override { return std::nullopt; }
    void exportToWorkbook(const QString&, const QString&, const QString&) override { }
};

} // namespace ztv::bench
