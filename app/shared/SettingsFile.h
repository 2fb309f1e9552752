#pragma once
// What the two settings files share.

#include "Outcome.h"

#include <QString>

class MessageBoxService;

// Before a save replaces a settings file that did not load: asks, and keeps name.bak. Cancelled
// when the operator declines.
Outcome ConfirmReplacing(MessageBoxService& messages, const QString& file, const QString& name,
                         const QString& writeError);
