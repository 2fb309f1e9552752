#pragma once
// Message boxes for tests.

#include "platform/MessageBox.h"

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
        bool notice = false; // raised by work through notify
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

    // Notices are recorded at once; a test that leaves one "open" sees the same text dropped.
    void notify(const QString& text, const QString& title, Icon icon) override
    {
        for (const auto& s : open)
            if (s == text)
                return;
        shown.push_back({text, title, icon, Buttons::Ok, true});
        if (keepNoticesOpen)
            open.push_back(text);
    }

    std::vector<Shown> shown;
    bool keepNoticesOpen = false;
    std::vector<QString> open;
    std::deque<Answer> answers;
};
