// Building and reading the relay files' lines.

#include "shared/RelayText.h"

#include "platform/Conversions.h"
#include "platform/DateText.h"
#include "shared/MontComm1.h"
#include "shared/TableWords.h"

#include <QStringList>

namespace Relay {

QString DataFileName(const MontComm1& comm, int unit)
{
    const QString f = comm.inet().RelayFileName(unit);
    return f.isEmpty() ? f : f + QStringLiteral(".txt");
}

QString RequestFileName(const MontComm1& comm, int unit)
{
    const QString f = comm.inet().RelayFileName(unit);
    return f.isEmpty() ? f : f + QStringLiteral("1.txt");
}

QString ParamLine(const MontComm1& comm, int unit)
{
    // From the table as loaded (cells trimmed), so the line the upload side writes and the
    // one the download side expects are built from the same text.
    if (unit < 0 || unit >= comm.sys().unitCount() || !comm.sys().SysInfValid())
        return QString();
    const QString name = DataFileName(comm, unit);
    return name.isEmpty() ? name : name + u',' + comm.sys().PinTypesText(unit);
}

QString DataLine(const QDateTime& now, const UploadValues& values)
{
    QStringList fields{DateText::date(now), DateText::time(now)};
    for (int16_t v : values)
        fields << QString::number(v);
    return fields.join(u',');
}

QString DataFileText(const QString& paramLine, const QString& dataLine)
{
    return paramLine + QStringLiteral("\r\n") + dataLine + QStringLiteral("\r\n");
}

Check ParseText(const QString& text, const QString& dataName, const QString& paramLine, RelayData& out)
{
    if (dataName.isEmpty() || !text.startsWith(dataName))
        return Check::NotDataFile;
    const qsizetype lf = text.indexOf(u'\n');
    QString first = lf < 0 ? text : text.left(lf);
    if (first.endsWith(u'\r'))
        first.chop(1);
    if (first != paramLine)
        return Check::TypesDiffer;
    if (lf < 0 || text.size() > MaxTextLength)
        return Check::BadData;
    // The last field runs to the end of the text; one line end after it is allowed.
    QString data = text.mid(lf + 1);
    if (data.endsWith(QStringLiteral("\r\n")))
        data.chop(2);
    else if (data.endsWith(u'\n'))
        data.chop(1);
    const QStringList fields = data.split(u',');
    if (fields.size() != int(out.fields.size()))
        return Check::BadData;
    RelayData parsed;
    for (int f = 0; f < fields.size(); ++f)
        parsed.fields[f] = fields[f];
    for (int v = 0; v < int(parsed.values.size()); ++v) {
        const auto n = Conv::StrictInt16(fields[2 + v]);
        if (!n)
            return Check::BadData;
        parsed.values[v] = *n;
    }
    const auto stamp = DateText::parseDateAndTime(fields[0], fields[1]);
    if (!stamp)
        return Check::BadData;
    parsed.stamp = *stamp;
    out = parsed;
    return Check::Ok;
}

bool StartsWithToken(const QString& text, const QString& token)
{
    if (text.size() < token.size())
        return false;
    char16_t diff = 0;
    for (qsizetype i = 0; i < token.size(); ++i)
        diff |= char16_t(text[i].unicode() ^ token[i].unicode());
    return diff == 0;
}

QString RequestLine(const QString& token, const QString& requestName, int port, int pin, bool high)
{
    return token + u',' + requestName + u',' + (port == 5 ? TableWord::PortA : TableWord::PortB) + u',' +
           QString::number(pin) + u',' + (high ? TableWord::High : TableWord::Low);
}

Request ParseRequest(const QString& text, const QString& token, const QString& requestName, OutputRequest& out)
{
    // The idle file (one empty line) is no request even for an empty token, which every text
    // begins with: consuming it would send it again and read it back every cycle.
    if (text.trimmed().isEmpty() || !StartsWithToken(text, token))
        return Request::None;
    if (!text.startsWith(token + u',' + requestName + u',') || requestName.isEmpty())
        return Request::OtherFile;
    QString rest = text.mid(token.size() + requestName.size() + 2);
    while (rest.endsWith(u'\n') || rest.endsWith(u'\r'))
        rest.chop(1);
    const QStringList fields = rest.split(u',');
    if (fields.size() < 3)
        return Request::Bad;
    OutputRequest r;
    if (fields[0] == TableWord::PortA)
        r.port = 5;
    else if (fields[0] == TableWord::PortB)
        r.port = 6;
    else
        return Request::Bad; // a port word we do not know is not taken for either port
    const auto pin = Conv::StrictInt16(fields[1]);
    if (!pin || *pin < 0 || *pin > 7)
        return Request::Bad;
    r.pin = *pin;
    const QString level = rest.section(u',', 2); // the text after the fourth comma of the line
    r.high = level.startsWith(TableWord::High);
    r.hasLevel = r.high || level.startsWith(TableWord::Low);
    out = r;
    return Request::Carry;
}

} // namespace Relay
