#pragma once

#include <QString>

namespace ztv {

// Every message and input box of the program goes through this interface, so tests can
// answer from a script and check text, title, icon and buttons.
enum class PromptIcon { None, Critical, Question, Exclamation, Information };
// OkCancelDefaultCancel: as OkCancel, with Cancel the default button (a question whose Yes
// cannot be taken back lightly).
enum class PromptButtons { Ok, OkCancel, OkCancelDefaultCancel };
enum class PromptAnswer { Ok, Cancel };

// Title shown by message boxes that have no title of their own.
inline constexpr char16_t kApplicationTitle[] = u"ゼントヴィ";

class Prompts {
public:
    virtual ~Prompts() = default;

    // An empty title means the application title.
    virtual PromptAnswer message(const QString& text, const QString& title = QString(),
        PromptIcon icon = PromptIcon::None, PromptButtons buttons = PromptButtons::Ok)
        = 0;

    // Gives the typed text; Cancel gives the empty string, as an input box does.
    virtual QString input(const QString& prompt, const QString& title, const QString& defaultText = QString())
        = 0;

    static QString effectiveTitle(const QString& title)
    {
        return title.isEmpty() ? QString::fromUtf16(kApplicationTitle) : title;
    }
};

} // namespace ztv
