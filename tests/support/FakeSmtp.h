#pragma once
// A scripted SMTP control: every mail recorded, the chosen one refused.

#include "platform/SmtpControl.h"

#include <atomic>
#include <vector>

struct FakeSmtp : SmtpClient {
    struct Sent {
        QString server, sender, recipient, text;
    };
    QString SmtpSend(const QString& server, const QString& sender, const QString& recipient,
                     const QString& text) override
    {
        ++calls;
        if (int(sent.size()) == failAt)
            return QStringLiteral("550 refused");
        sent.push_back({server, sender, recipient, text});
        return {};
    }
    std::vector<Sent> sent;
    int failAt = -1;
    std::atomic<int> calls{0}; // every send asked for, refused ones too
};
