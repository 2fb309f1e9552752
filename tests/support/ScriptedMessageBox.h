#pragma once
// Message boxes for tests.

#include "MessageBox.h"

#include <deque>
#include <vector>

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
