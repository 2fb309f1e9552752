#pragma once
// How the data logs are kept, in LogInf.ini: whole, as they are written (the default), or in
// monthly archives kept for a number of months.

#include "shared/Outcome.h"

#include <QString>

struct LogSettings {
    int Archive = 0;    // 1: monthly archives
    int KeepMonths = 0; // archives kept this many months before the present one; 0 for ever
};

class MessageBoxService;

class LogInf {
public:
    explicit LogInf(QString workDir) : m_workDir(std::move(workDir)) {}

    LogSettings settings;

    // NotLoaded when there is no file (the defaults hold); Failed with what is wrong otherwise
    // (the defaults hold too: nothing is moved on a file that does not read).
    Outcome load();
    // A file that did not load is replaced only when the operator agrees.
    Outcome save(MessageBoxService& messages);
    // What is wrong with the settings, in the operator's words; empty when nothing is.
    static QString checkSettings(const LogSettings& s);

private:
    QString m_workDir;
    bool m_unreadable = false;
};
