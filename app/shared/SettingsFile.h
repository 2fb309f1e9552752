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

// Replaces a settings file whole. One holding a password loses any access of group and others
// the operator had given (the notice says so); otherwise the file keeps its mode.
Outcome SaveSettingsText(const QString& file, const QString& name, const QString& text, bool holdsPassword,
                         const QString& writeError);
