// The Internet settings file InetInf.ini, the communication mode and the password shift.

#include "shared/InetInf.h"
#include "shared/InetEditRules.h"
#include "shared/Outcome.h"
#include "shared/SysInf.h"
#include "shared/SettingsFile.h"

#include "platform/Conversions.h"
#include "platform/MessageBox.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString IniName = QStringLiteral("InetInf.ini");
const QString CrLf = QStringLiteral("\r\n");

struct LoadError {};

} // namespace

InetInf::InetInf(QString workDir, MessageBoxService& messages, const SysInf& sys)
    : m_workDir(std::move(workDir))
    , m_messages(messages)
    , m_sys(sys)
{
}

QString InetInf::path(const QString& fileName) const
{
    return QDir(m_workDir).filePath(fileName);
}

bool InetInf::HasCameraFolder() const
{
    for (int i = 0; i < 4; ++i)
        if (!m_settings.Camera[i].isEmpty())
            return true;
    return false;
}

QString InetInf::ScramblePass(const QString& direction, const QString& text)
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

bool InetInf::IsRelayFileNameValid(const QString& name)
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

QString InetInf::RelayFileName(int unit) const
{
    if (unit < 0 || unit >= UnitSlots)
        return QString();
    const QString& name = m_settings.FileName[unit];
    return IsRelayFileNameValid(name) ? name : QString();
}

CommModeKind InetInf::CommMode() const
{
    switch (m_settings.Mode) {
    case 0:
        return CommModeKind::InternetUpload;
    case 1:
        return CommModeKind::InternetDownload;
    case 3:
        return m_settings.SendFordername.isEmpty() ? CommModeKind::PlainLan : CommModeKind::LanUpload;
    default:
        return CommModeKind::LanDownload;
    }
}

Outcome InetInf::LoadInetInf()
{
    const QString file = path(IniName);
    TextFile::removeStaleTemporaries(file);
    QString problem;
    // The system file's fault was shown by its own load; this file is not to blame.
    m_heldBySysInf = m_sys.SysInfUnreadable();
    if (!m_heldBySysInf && loadLines(problem)) {
        m_unreadable = false;
        m_problem.clear();
        m_valid = true;
        return {};
    }
    m_valid = false;
    // A missing file is a new station; one that is there but unreadable is the operator's
    // work: say so once, and never let the defaults below replace it unasked.
    m_unreadable = !m_heldBySysInf && (QFileInfo(file).exists() || QFileInfo(file).isSymLink());
    if (!m_unreadable)
        problem.clear();
    const Outcome outcome =
        !problem.isEmpty() && problem != m_problem ? Failed(Fault::SettingsFile, problem) : Failed(Fault::NotLoaded);
    m_problem = problem;
    auto& s = m_settings;
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
    for (int i = 0; i < m_sys.unitCount(); ++i)
        s.FileName[i].clear();
    s.TimeOut = 3;
    s.NotReadSize = 5;
    for (int i = 0; i < 4; ++i)
        s.Camera[i].clear();
    return outcome;
}

namespace {
// A key of the file: only such a text is named in a load error, since in a line out of place
// the text before "=" may be part of a password.
bool isKey(const QString& text)
{
    static const QStringList keys = {"Mode",         "Mode2",           "FTP",           "ID",
                                     "PassWord",     "RemoteDir",       "URL",           "TimeOut",
                                     "NotReadSize",  "ProxyServerName", "ProxyPortNo",   "SMTPServerName",
                                     "SendMailName", "MailHeader",      "MailBody",      "DialUpName",
                                     "DialUpUser",   "DialUpPass",      "SendFordername"};
    static const QRegularExpression numbered(QStringLiteral("^(FileName[1-9][0-9]{0,2}|Camera[1-4])$"),
                                             QRegularExpression::CaseInsensitiveOption);
    return keys.contains(text, Qt::CaseInsensitive) || numbered.match(text).hasMatch();
}
} // namespace

bool InetInf::loadLines(QString& problem)
{
    const QString unreadable = QStringLiteral("ｲﾝﾀｰﾈｯﾄ設定ﾌｧｲﾙが読めません！\n") + IniName;
    const auto lines = TextFile::readLines(path(IniName));
    if (!lines) {
        problem =
            unreadable + QStringLiteral(" を読めません（通常のファイルでない、大きすぎる、または Shift-JIS でない）");
        return false;
    }
    // Read into a copy: a file that stops half way leaves nothing of it in the settings.
    auto s = m_settings;
    int next = 0;
    try {
        auto lineProblem = [&](const QString& what) {
            problem = unreadable + QStringLiteral(" %1 行目: ").arg(next) + what;
            return LoadError{};
        };
        // Every line must carry the key of its place, so a missing or extra line fails
        // here instead of moving every value after it into the wrong field.
        auto value = [&](const QString& key) -> QString {
            if (next >= lines->size()) {
                ++next;
                throw lineProblem(QStringLiteral("%1= の行がありません").arg(key));
            }
            const QString& line = (*lines)[next++];
            const qsizetype eq = line.indexOf(u'=');
            // Only the key is shown: the value in a shifted place may be a password.
            if (eq < 0)
                throw lineProblem(QStringLiteral("%1= のはずが「=」のない行です").arg(key));
            if (line.left(eq).compare(key, Qt::CaseInsensitive) != 0)
                throw lineProblem(isKey(line.left(eq)) ? QStringLiteral("%1= のはずが %2= です").arg(key, line.left(eq))
                                                       : QStringLiteral("%1= のはずが別の行です").arg(key));
            return line.mid(eq + 1);
        };
        auto number = [&](const QString& key) -> int16_t {
            const QString text = value(key);
            const auto n = Conv::StrictInt16(text);
            if (!n)
                throw lineProblem(QStringLiteral("%1 の値が数値ではありません").arg(key));
            return *n;
        };
        // The modes choose what the station does with the units: only 0..3 written as digits.
        auto mode = [&](const QString& key) -> int16_t {
            const QString text = value(key);
            const QString digits = text.trimmed();
            if (digits.size() != 1 || digits[0] < u'0' || digits[0] > u'3')
                throw lineProblem(QStringLiteral("%1 の値が 0～3 ではありません").arg(key));
            return int16_t(digits[0].unicode() - u'0');
        };
        s.Mode = mode(QStringLiteral("Mode"));
        s.Mode2 = mode(QStringLiteral("Mode2"));
        s.FTP = value(QStringLiteral("FTP"));
        s.ID = value(QStringLiteral("ID"));
        s.PassWord = value(QStringLiteral("PassWord"));
        s.RemoteDir = value(QStringLiteral("RemoteDir"));
        s.URL = value(QStringLiteral("URL"));
        for (int i = 0; i < m_sys.unitCount(); ++i)
            s.FileName[i] = value(QStringLiteral("FileName") + QString::number(i + 1));
        s.TimeOut = number(QStringLiteral("TimeOut"));
        s.NotReadSize = number(QStringLiteral("NotReadSize"));
        s.ProxyServerName = value(QStringLiteral("ProxyServerName"));
        s.ProxyPortNo = value(QStringLiteral("ProxyPortNo"));
        s.SMTPServerName = value(QStringLiteral("SMTPServerName"));
        s.SendMailName = value(QStringLiteral("SendMailName"));
        s.MailHeader = value(QStringLiteral("MailHeader"));
        s.MailBody = value(QStringLiteral("MailBody"));
        s.DialUpName = value(QStringLiteral("DialUpName"));
        s.DialUpUser = value(QStringLiteral("DialUpUser"));
        s.DialUpPass = value(QStringLiteral("DialUpPass"));
        s.SendFordername = value(QStringLiteral("SendFordername"));
        for (int i = 0; i < 4; ++i)
            s.Camera[i] = value(QStringLiteral("Camera") + QString::number(i + 1));
    } catch (const LoadError&) {
        return false;
    }
    s.PassWord = ScramblePass(QStringLiteral("RESET"), s.PassWord);
    s.DialUpPass = ScramblePass(QStringLiteral("RESET"), s.DialUpPass);
    m_settings = s;
    return true;
}

Outcome InetInf::SaveInetInf()
{
    const QString file = path(IniName);
    if (m_sys.SysInfUnreadable())
        return Failed(Fault::SettingsFile,
                      QStringLiteral("システムファイル sysinf001.csv が読めないため、") + IniName +
                          QStringLiteral(" は保存しませんでした。先にシステムファイルを直して下さい"));
    if (m_heldBySysInf) // mended since: the file is loaded with the units at the next activation
        return Failed(Fault::NotLoaded);
    if (m_unreadable) {
        const Outcome confirmed =
            ConfirmReplacing(m_messages, file, IniName, QStringLiteral("設定ファイル書き込みエラー"));
        if (!confirmed)
            return confirmed;
    }
    const auto& s = m_settings;
    QString text;
    auto put = [&](const QString& key, const QString& v) { text += key + u'=' + OneLine(v) + CrLf; };
    auto putTrimmed = [&](const QString& key, const QString& v) { put(key, InetEditRules::TrimSpaces(OneLine(v))); };
    put(QStringLiteral("Mode"), QString::number(s.Mode));
    put(QStringLiteral("Mode2"), QString::number(s.Mode2));
    put(QStringLiteral("FTP"), s.FTP);
    put(QStringLiteral("ID"), s.ID);
    put(QStringLiteral("PassWord"), ScramblePass(QStringLiteral("SET"), s.PassWord));
    put(QStringLiteral("RemoteDir"), s.RemoteDir);
    put(QStringLiteral("URL"), s.URL);
    for (int i = 0; i < m_sys.unitCount(); ++i)
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
    const Outcome saved = SaveSettingsText(file, IniName, text, !s.PassWord.isEmpty() || !s.DialUpPass.isEmpty(),
                                           QStringLiteral("設定ファイル書き込みエラー"));
    if (!saved)
        return saved;
    m_unreadable = false;
    m_problem.clear();
    return saved;
}
