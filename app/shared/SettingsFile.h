#pragma once
// What the two settings files share.

#include "shared/Outcome.h"

#include <QHash>
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

// The Key=value lines of a small settings file (keys in lower case, values trimmed unless told
// not to: a password may hold spaces): NotLoaded when there is no file, Failed naming the line
// (never its value, which may be a password) when one is not Key=value.
Outcome ReadKeyValues(const QString& file, const QString& name, QHash<QString, QString>& values,
                      bool trimValues = true);
// Replaces such a file with text; one that did not load (unreadable) only when the operator
// agrees, and then it loads again.
Outcome SaveKeyValues(MessageBoxService& messages, const QString& file, const QString& name, const QString& text,
                      bool& unreadable, bool holdsPassword = false);
// A whole number value (0 when absent); -1 when it is not one.
int KeyNumber(const QHash<QString, QString>& values, const QString& key);
