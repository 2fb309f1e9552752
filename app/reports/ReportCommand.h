#pragma once
// talveron --report daily YYYY-MM-DD --out DIR, talveron --report monthly YYYY-MM --out DIR: the
// CSV files and the PDF of every unit of the station folder (the current directory), without a window and
// without the folder's lock, so a station running there is not disturbed.

#include <QStringList>

// args: the program's arguments after its name. 0 when written; 1 with the reason on standard
// error otherwise.
int RunReportCommand(const QStringList& args);
