#include "Fakes.h"

namespace ztv::test {

PromptAnswer RecordingPrompts::message(
    const QString& text, const QString& title, PromptIcon icon, PromptButtons buttons)
{
    calls.append({ Call::Message, text, effectiveTitle(title), icon, buttons, QString() });
    if (onMessage)
        onMessage(text);
    if (!m_messageAnswers.isEmpty())
        return m_messageAnswers.dequeue();
    return PromptAnswer::Ok;
}

QString RecordingPrompts::input(const QString& prompt, const QString& title, const QString& defaultText)
{
    calls.append({ Call::Input, prompt, effectiveTitle(title), PromptIcon::None, PromptButtons::OkCancel,
        defaultText });
    return m_inputAnswers.isEmpty() ? QString() : m_inputAnswers.dequeue();
}

QList<RecordingPrompts::Call> RecordingPrompts::messages() const
{
    QList<Call> out;
    for (const Call& c : calls)
        if (c.kind == Call::Message)
            out.append(c);
    return out;
}

} // namespace ztv::test
