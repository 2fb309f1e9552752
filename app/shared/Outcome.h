#pragma once
// What a piece of station work ended with. Work never shows a box: it returns an Outcome, and
// the window that started it words it with FaultText and shows it through the message-box
// service once the step has ended (as libmodbus keeps its texts in modbus_strerror).

#include "platform/MessageBox.h"

#include <QString>
#include <cstdint>

enum class Fault {
    None,
    AddressBook,   // mail.xls missing or unreadable; detail: the reader's text
    MailSend,      // mail that did not go out; detail: a line per address, naming it and why
    NoSmtpControl, // no SMTP control hosted
    DialUp,        // the dial-up failed; code: the dial-up error code
    RelayDialUp,   // the relay's dial-up failed
    FileOpen,      // the settings list could not be built
    LinkError,     // a unit did not answer a dialog's exchange
    Upload,        // a relay file could not be sent; code: the upload's result code; detail: its text
    LocalFile,     // a relay file could not be written in the working directory
    OutputPending, // an output request is still waiting for the upload side
    Cancelled,     // the station is closing
    PortSetting,   // a unit did not take its port setting in the bulk pass; detail: the unit's name
    SettingsFile,  // a settings file could not be read or written; detail: what went wrong
    NotLoaded,     // a settings file not there yet (a new station), or its fault was shown already
};

struct Outcome {
    Fault fault = Fault::None;
    QString detail;
    int32_t code = 0;
    QString notice; // said after work that went well (the window shows it once)
    bool ok() const { return fault == Fault::None; }
    explicit operator bool() const { return ok(); }
};

inline Outcome Failed(Fault fault, QString detail = QString(), int32_t code = 0)
{
    return Outcome{fault, std::move(detail), code, QString()};
}

// The operator's words for an outcome, its box title and icon.
QString FaultText(const Outcome& outcome);
QString FaultTitle(const Outcome& outcome);
MessageBoxService::Icon FaultIcon(const Outcome& outcome);
// Shows a failed outcome after the current step (a good one only its notice, if it has one).
void Notify(MessageBoxService& messages, const Outcome& outcome);
