#pragma once
// What the two settings files share.

#include "Outcome.h"

#include <QString>

class MessageBoxService;

// Before a save replaces a settings file that did not load: asks, and keeps name.bak. Cancelled
// when the operator declines.
// A settings file has no escape for a line break, so one inside a value would end its line early
// and start a bogus one: each CR LF, CR or LF becomes one space.
QString OneLine(QString value);

Outcome ConfirmReplacing(MessageBoxService& messages, const QString& file, const QString& name,
                         const QString& writeError);
