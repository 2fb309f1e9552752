// The Internet settings file InetInf.ini, the communication mode and the password shift.

#include "MontComm1.h"
#include "Outcome.h"

#include "Conversions.h"
#include "MessageBox.h"
#include "TextFile.h"

namespace {

const QString IniName = QStringLiteral("InetInf.ini");
const QString CrLf = QStringLiteral("\r\n");

// The file has no escape for a line break, so one inside a value would shift every
// following line: each CR LF, CR or LF becomes one space.
QString oneLine(QString v)
{
    v.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    v.replace(u'\r', u' ');
    v.replace(u'\n', u' ');
    return v;
}

// Trims spaces only, as the stored values were typed (tabs and other blanks stay).
QString trimSpaces(const QString& v)
{
    qsizetype b = 0, e = v.size();
    while (b < e && v[b] == u' ')
        ++b;
    while (e > b && v[e - 1] == u' ')
        --e;
    return v.mid(b, e - b);
}

struct LoadError {};

} // namespace

QString MontComm1::ScramblePass(const QString& direction, const QString& text)
{
    const QString d = direction.toUpper();
    int shift;
    if (d == QStringLiteral("SET"))
        shift = -PassShift;
    else if (d == QStringLiteral("RESET"))
        shift = PassShift;
    else
        return QString();
    QString out = text;
    for (QChar& c : out) {
        const int code = c.unicode();
        if (code >= 32 && code <= 126)
            c = QChar(32 + ((code - 32 + shift) % 95 + 95) % 95);
    }
    return out;
}

bool MontComm1::IsRelayFileNameValid(const QString& name)
{
    if (name.isEmpty() || name.size() > 8)
        return false;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z')))
            return false;
    }
    return true;
}

QString MontComm1::RelayFileName(int unit) const
{
    if (unit < 0 || unit >= UnitSlots)
        return QString();
    const QString& name = InternetSettings.FileName[unit];
    return IsRelayFileNameValid(name) ? name : QString();
}

CommModeKind MontComm1::CommMode() const
{
    switch (InternetSettings.Mode) {
    case 0:
        return CommModeKind::InternetUpload;
    case 1:
        return CommModeKind::InternetDownload;
    case 3:
        return InternetSettings.SendFordername.isEmpty() ? CommModeKind::PlainLan : CommModeKind::LanUpload;
    default:
        return CommModeKind::LanDownload;
    }
}

bool MontComm1::LoadInetInf()
{
    TextFile::removeStaleTemporaries(path(IniName));
    if (loadInetInfLines())
        return true;
    auto& s = InternetSettings;
    s.Mode = 2;
    s.Mode2 = 1;
    s.FTP.clear();
    s.ID.clear();
    s.PassWord.clear();
    s.RemoteDir.clear();
    s.URL.clear();
    s.DialUpName.clear();
    s.DialUpUser.clear();
    s.DialUpPass.clear();
    for (int i = 0; i < unitCount(); ++i)
        s.FileName[i].clear();
    s.TimeOut = 3;
    s.NotReadSize = 5;
    for (int i = 0; i < 4; ++i)
        s.Camera[i].clear();
    return false;
}

bool MontComm1::loadInetInfLines()
{
    const auto lines = TextFile::readLines(path(IniName));
    if (!lines)
        return false;
    auto& s = InternetSettings;
    int next = 0;
    try {
        auto value = [&]() -> QString {
            if (next >= lines->size())
                throw LoadError{};
            const QString& line = (*lines)[next++];
            const qsizetype eq = line.indexOf(u'=');
            return eq < 0 ? line : line.mid(eq + 1);
        };
        auto number = [&]() -> int16_t {
            const auto n = Conv::StrictInt16(value());
            if (!n)
                throw LoadError{};
            return *n;
        };
        s.Mode = number();
        s.Mode2 = number();
        s.FTP = value();
        s.ID = value();
        s.PassWord = value();
        s.RemoteDir = value();
        s.URL = value();
        for (int i = 0; i < unitCount(); ++i)
            s.FileName[i] = value();
        s.TimeOut = number();
        s.NotReadSize = number();
        s.ProxyServerName = value();
        s.ProxyPortNo = value();
        s.SMTPServerName = value();
        s.SendMailName = value();
        s.MailHeader = value();
        s.MailBody = value();
        s.DialUpName = value();
        s.DialUpUser = value();
        s.DialUpPass = value();
        s.SendFordername = value();
        for (int i = 0; i < 4; ++i)
            s.Camera[i] = value();
    } catch (const LoadError&) {
        return false;
    }
    s.PassWord = ScramblePass(QStringLiteral("RESET"), s.PassWord);
    s.DialUpPass = ScramblePass(QStringLiteral("RESET"), s.DialUpPass);
    return true;
}

bool MontComm1::SaveInetInf()
{
    const auto& s = InternetSettings;
    QString text;
    auto put = [&](const QString& key, const QString& v) { text += key + u'=' + oneLine(v) + CrLf; };
    auto putTrimmed = [&](const QString& key, const QString& v) { put(key, trimSpaces(oneLine(v))); };
    put(QStringLiteral("Mode"), QString::number(s.Mode));
    put(QStringLiteral("Mode2"), QString::number(s.Mode2));
    put(QStringLiteral("FTP"), s.FTP);
    put(QStringLiteral("ID"), s.ID);
    put(QStringLiteral("PassWord"), ScramblePass(QStringLiteral("SET"), s.PassWord));
    put(QStringLiteral("RemoteDir"), s.RemoteDir);
    put(QStringLiteral("URL"), s.URL);
    for (int i = 0; i < unitCount(); ++i)
        put(QStringLiteral("FileName") + QString::number(i + 1), s.FileName[i]);
    put(QStringLiteral("TimeOut"), QString::number(s.TimeOut));
    put(QStringLiteral("NotReadSize"), QString::number(s.NotReadSize));
    putTrimmed(QStringLiteral("ProxyServerName"), s.ProxyServerName);
    putTrimmed(QStringLiteral("ProxyPortNo"), s.ProxyPortNo);
    putTrimmed(QStringLiteral("SMTPServerName"), s.SMTPServerName);
    putTrimmed(QStringLiteral("SendMailName"), s.SendMailName);
    putTrimmed(QStringLiteral("MailHeader"), s.MailHeader);
    putTrimmed(QStringLiteral("MailBody"), s.MailBody);
    putTrimmed(QStringLiteral("DialUpName"), s.DialUpName);
    putTrimmed(QStringLiteral("DialUpUser"), s.DialUpUser);
    put(QStringLiteral("DialUpPass"), ScramblePass(QStringLiteral("SET"), s.DialUpPass));
    putTrimmed(QStringLiteral("SendFordername"), s.SendFordername);
    for (int i = 0; i < 4; ++i)
        putTrimmed(QStringLiteral("Camera") + QString::number(i + 1), s.Camera[i]);
    text += CrLf;
    if (!TextFile::writeWhole(path(IniName), text, nullptr, TextFile::kPrivateMode)) {
        Notify(m_messages, Failed(Fault::SettingsFile, QStringLiteral("設定ファイル書き込みエラー")));
        return false;
    }
    return true;
}
