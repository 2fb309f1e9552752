#pragma once
// Every message box goes through this service, so tests can answer them.

#include <QString>
#include <deque>
#include <vector>

class MessageBoxService {
public:
    enum class Icon { None, Information, Warning, Exclamation = Warning, Critical, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageBoxService() = default;
    virtual Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) = 0;

    // The title of boxes that the description leaves to the application.
    static QString applicationTitle() { return QStringLiteral("Talveron"); }
};

// Records every box and answers from a queue (OK or Yes when the queue is empty).
class ScriptedMessageBox : public MessageBoxService {
public:
    struct Shown {
        QString text;
        QString title;
        Icon icon;
        Buttons buttons;
    };

    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override
    {
        shown.push_back({text, title, icon, buttons});
        if (!answers.empty()) {
            Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }

    std::vector<Shown> shown;
    std::deque<Answer> answers;
};

// A question with OK and Cancel: true when the operator chose OK.
inline bool AskOkCancel(MessageBoxService& messages, const QString& text, const QString& title)
{
    return messages.show(text, title, MessageBoxService::Icon::Question, MessageBoxService::Buttons::OkCancel) ==
           MessageBoxService::Answer::Ok;
}
