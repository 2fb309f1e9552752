#pragma once
// Every message box goes through this service, so tests can answer them.

#include <QString>

class MessageBoxService {
public:
    enum class Icon { None, Information, Warning, Exclamation = Warning, Critical, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageBoxService() = default;
    // A box the operator must answer before the caller goes on: only for answers to a click.
    virtual Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) = 0;
    // An OK box raised by work: shown once the current step has returned, never waited for,
    // and dropped while a box of the same text is still open (a fault repeating every second
    // must not stack boxes).
    virtual void notify(const QString& text, const QString& title, Icon icon) = 0;

    // The title of boxes that have no title of their own.
    static QString applicationTitle() { return QStringLiteral("Talveron"); }
};

// A question with OK and Cancel: true when the operator chose OK.
inline bool AskOkCancel(MessageBoxService& messages, const QString& text, const QString& title)
{
    return messages.show(text, title, MessageBoxService::Icon::Question, MessageBoxService::Buttons::OkCancel) ==
           MessageBoxService::Answer::Ok;
}
