#pragma once
// The two relay files a unit has: the data file (parameter line and data line) that the
// upload station writes every cycle, and the output request file a download station posts
// to. Everything that builds or reads their lines lives here, so both sides agree.

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>

class MontComm1;

namespace Relay {

// A relay document longer than this is not one of ours (two short lines).
constexpr qsizetype MaxTextLength = 2048;

// "f.txt" and "f1.txt" for the unit's relay file name f; empty when the unit has none.
QString DataFileName(const MontComm1& comm, int unit);
QString RequestFileName(const MontComm1& comm, int unit);

// The unit's parameter line, "f.txt,RA0,...,RB7", from the loaded table; empty when the
// unit is not in the table or has no relay file name.
QString ParamLine(const MontComm1& comm, int unit);

// Values of one data line: RA0..RA3, the temperature in whole degrees, RB0..RB7.
using UploadValues = std::array<int16_t, 13>;
QString DataLine(const QDateTime& now, const UploadValues& values);
// The whole data file: both lines, each ended by CR LF.
QString DataFileText(const QString& paramLine, const QString& dataLine);

struct RelayData {
    std::array<QString, 15> fields; // as written; fields 2..14 are checked numbers
    UploadValues values{};
    QDateTime stamp;
};

enum class Check { Ok, NotDataFile, TypesDiffer, BadData };

// Reads a fetched data file. NotDataFile when it does not begin with dataName,
// TypesDiffer when its first line is not paramLine, BadData for anything else that is not
// exactly a data line of 15 fields with a readable stamp and numbers within int16.
Check ParseText(const QString& text, const QString& dataName, const QString& paramLine, RelayData& out);

// True when text begins with token. Takes the same time wherever the first difference is.
bool StartsWithToken(const QString& text, const QString& token);

// "token,f1.txt,PortB,3,High"
QString RequestLine(const QString& token, const QString& requestName, int port, int pin, bool high);

struct OutputRequest {
    int port = 6; // 5 PortA, 6 PortB
    int pin = 0;
    bool high = false;
    bool hasLevel = false; // the level was "High..." or "Low..."
};

enum class Request {
    None,      // the idle file, or a text that does not begin with the token: nothing to consume
    OtherFile, // the token fits but the line names another file: consumed, not carried out
    Bad,       // a port word other than PortA or PortB, or a pin that is not 0..7: consumed, an error
    Carry,     // a request for this file: carry it out
};
Request ParseRequest(const QString& text, const QString& token, const QString& requestName, OutputRequest& out);

} // namespace Relay
