#pragma once
// Every message box goes through this service, so tests can answer them.

#include <QString>

class MessageBoxService {
public:
    enum class Icon { None, Information, Warning, Exclamation = Warning, Critical, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageBoxService() = default;
    virtual Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) = 0;

    // The title of boxes that have no title of their own.
    static QString applicationTitle() { return QStringLiteral("Talveron"); }
};
