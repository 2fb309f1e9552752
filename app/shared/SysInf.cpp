// The device table, the cycle settings and the file sysinf001.csv that stores them.

#include "shared/SysInf.h"
#include "shared/Outcome.h"
#include "shared/SettingsFile.h"

#include "platform/Conversions.h"
#include "outside/DeviceLink.h"
#include "platform/MessageBox.h"
#include "platform/TextFile.h"
#include "shared/TableWords.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace {

const QString HeaderRow =
    QStringLiteral("名称,ＩＰ,LCDPort,I/Oport,RS232C,BPS,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,Control,Arm");
const QString CrLf = QStringLiteral("\r\n");

const std::array<QString, 20> ColumnKeys = {
    QStringLiteral("Name"), QStringLiteral("IP"),  QStringLiteral("LCD"),     QStringLiteral("IO"),
    QStringLiteral("RS"),   QStringLiteral("BPS"), QStringLiteral("RA0"),     QStringLiteral("RA1"),
    QStringLiteral("RA2"),  QStringLiteral("RA3"), QStringLiteral("RB0"),     QStringLiteral("RB1"),
    QStringLiteral("RB2"),  QStringLiteral("RB3"), QStringLiteral("RB4"),     QStringLiteral("RB5"),
    QStringLiteral("RB6"),  QStringLiteral("RB7"), QStringLiteral("Control"), QStringLiteral("Arm")};

// A missing line or a number beyond int16: the loader names the line it was reading.
struct SilentLoadError {
    bool missing = false;
};

// The text after key up to the next ",", starting the search for "," at from.
QString valueAfter(const QString& line, const QString& key)
{
    const qsizetype k = line.indexOf(key);
    if (k < 0)
        return QString();
    const qsizetype start = k + key.size();
    const qsizetype comma = line.indexOf(u',', start);
    return comma < 0 ? line.mid(start) : line.mid(start, comma - start);
}

int16_t toInt16OrThrow(double v)
{
    const auto r = Conv::CInt16(v);
    if (!r)
        throw SilentLoadError{};
    return *r;
}

// Field n of a record line: between the n-th and (n+1)-th comma; field 19 runs to the end.
QString recordField(const QString& line, int n)
{
    qsizetype start = 0;
    for (int i = 0; i < n; ++i) {
        const qsizetype comma = line.indexOf(u',', start);
        if (comma < 0)
            return QString(); // a short line has no such field
        start = comma + 1;
    }
    if (n == 19)
        return line.mid(start);
    const qsizetype end = line.indexOf(u',', start);
    return end < 0 ? line.mid(start) : line.mid(start, end - start);
}

} // namespace

SysInf::SysInf(QString workDir, MessageBoxService& messages) : m_workDir(std::move(workDir)), m_messages(messages) {}

QString SysInf::path(const QString& fileName) const
{
    return QDir(m_workDir).filePath(fileName);
}

int SysInf::unitCount() const
{
    return m_content.unitCount();
}

QString SysInf::AlarmCondition(int unit) const
{
    if (unit < 0 || unit >= unitCount())
        return QString();
    const QString& arm = cell(unit, ColArm);
    return arm == TableWord::Non ? QString() : arm;
}

QString SysInf::GetSysInfField(const QString& key, const QString& line)
{
    const auto it = std::find(ColumnKeys.begin(), ColumnKeys.end(), key);
    if (it == ColumnKeys.end())
        return QString();
    const int col = int(it - ColumnKeys.begin());
    const QString field = recordField(line, col);
    if (col == ColName || col == ColIP)
        return field;
    if (col >= ColLCD && col <= ColBPS)
        return Conv::PlainNumber(Conv::Val(field.trimmed()));
    return field.trimmed();
}

Outcome SysInf::LoadSysInf()
{
    const Outcome loaded = loadChecked();
    // A file that is there but did not load is the operator's work: a save asks before replacing it.
    const QString file = path(m_name);
    m_unreadable = !loaded && (QFileInfo(file).exists() || QFileInfo(file).isSymLink());
    m_valid = loaded.ok();
    return loaded;
}

Outcome SysInf::loadChecked()
{
    m_name = QStringLiteral("sysinf001.csv");
    TextFile::removeStaleTemporaries(path(m_name));
    const QString file = path(m_name);
    const QString unreadable = QStringLiteral("システムファイルが読めません\n") + m_name;
    auto fail = [&](const QString& message) { return Failed(Fault::SettingsFile, message); };
    const auto lines = TextFile::readLines(file);
    if (!lines) {
        if (QFileInfo(file).exists() || QFileInfo(file).isSymLink())
            return fail(unreadable +
                        QStringLiteral(" を読めません（通常のファイルでない、大きすぎる、または Shift-JIS でない）"));
        return Failed(Fault::NotLoaded); // a new station
    }
    int reading = 0; // the line a number beyond int16 came from
    auto line = [&](int i) -> const QString& {
        reading = i + 1;
        if (i >= lines->size())
            throw SilentLoadError{true};
        return (*lines)[i];
    };
    try {
        const QString& first = line(0);
        if (!first.startsWith(m_name))
            return fail(QStringLiteral("SysInfo File Type Error"));
        m_content.DeviceCount = toInt16OrThrow(Conv::Val(valueAfter(first, QStringLiteral("Rec=")).trimmed()));
        if (m_content.DeviceCount < 1 || m_content.DeviceCount > UnitSlots)
            return fail(QStringLiteral("レコードサイズ設定異常"));

        const QString& second = line(1);
        {
            // MoniterCycl ends at the first "," of the line, so its key must come first.
            const qsizetype k = second.indexOf(QStringLiteral("MoniterCycl="));
            const qsizetype comma = second.indexOf(u',');
            QString text;
            if (k >= 0) {
                const qsizetype start = k + 12;
                text = comma >= start ? second.mid(start, comma - start) : (comma < 0 ? second.mid(start) : QString());
            }
            m_content.MonitorSettings.MoniterCycl = toInt16OrThrow(Conv::Val(text.trimmed()));
        }
        auto letterAfter = [&](const QString& key) {
            const qsizetype k = second.indexOf(key);
            return k < 0 ? QString() : second.mid(k + key.size(), 1).trimmed();
        };
        auto numberAfter = [&](const QString& key) {
            return toInt16OrThrow(Conv::Val(valueAfter(second, key).trimmed()));
        };
        if (m_content.MonitorSettings.MoniterCycl < 1)
            return fail(QStringLiteral("モニタ周期設定異常"));
        m_content.MonitorSettings.MoniterCyclType = letterAfter(QStringLiteral("MoniterCyclType="));
        m_content.MonitorSettings.TimeOut = numberAfter(QStringLiteral("TimeOut="));
        if (m_content.MonitorSettings.TimeOut < 1)
            return fail(QStringLiteral("タイムアウト設定異常"));
        m_content.MonitorSettings.TimeOutCyclType = letterAfter(QStringLiteral("TimeOutCyclType="));
        m_content.MonitorSettings.ReloadCycl = numberAfter(QStringLiteral("ReloadCycl="));
        if (m_content.MonitorSettings.ReloadCycl < 1)
            return fail(QStringLiteral("リトライ周期設定異常"));
        m_content.MonitorSettings.ReloadSize = numberAfter(QStringLiteral("ReloadSize="));
        if (m_content.MonitorSettings.ReloadSize < 1)
            return fail(QStringLiteral("リトライ回数設定異常"));

        // Without its header row the first unit would be taken for it, and every unit's
        // values would go to the unit before it.
        if (line(2) != HeaderRow)
            return fail(unreadable + QStringLiteral(" 3 行目が見出しの行ではありません"));
        // Read every record before touching the table, so a missing line leaves it whole.
        std::vector<std::array<QString, 20>> rows(m_content.DeviceCount);
        for (int r = 0; r < m_content.DeviceCount; ++r) {
            const QString& record = line(3 + r);
            if (record.count(u',') < 19) // cut short: its missing fields are not empty ones
                return fail(unreadable + QStringLiteral(" %1 行目の項目が 20 に足りません").arg(4 + r));
            for (int c = 0; c < 20; ++c)
                rows[r][c] = GetSysInfField(ColumnKeys[c], record);
        }
        for (int r = 0; r < TableRows; ++r) {
            for (int c = 0; c < TableColumns; ++c)
                m_content.DeviceTable[r][c] = (r < m_content.DeviceCount && c < 20) ? rows[r][c] : QString();
        }
        return {};
    } catch (const SilentLoadError& e) {
        return fail(unreadable + QStringLiteral(" %1 行目").arg(reading) +
                    (e.missing ? QStringLiteral("がありません") : QStringLiteral("の数値が範囲外です")));
    }
}

Outcome SysInf::SaveSysInf()
{
    const QString file = path(m_name);
    if (m_unreadable) {
        const Outcome confirmed =
            ConfirmReplacing(m_messages, file, m_name, QStringLiteral("システムファイル書き込みエラー"));
        if (!confirmed)
            return confirmed;
    }
    const int count = unitCount();
    QString text = m_name + QStringLiteral(",Rec=") + Conv::Str(count) + QStringLiteral(",,,,,,,,,,,,,,,,,,") + CrLf;
    text += QStringLiteral("MoniterCycl=") + Conv::Str(m_content.MonitorSettings.MoniterCycl) + u',' +
            QStringLiteral("MoniterCyclType=") + m_content.MonitorSettings.MoniterCyclType + u',' +
            QStringLiteral("TimeOut=") + Conv::Str(m_content.MonitorSettings.TimeOut) + u',' +
            QStringLiteral("TimeOutCyclType=") + m_content.MonitorSettings.TimeOutCyclType + u',' +
            QStringLiteral("ReloadCycl=") + Conv::Str(m_content.MonitorSettings.ReloadCycl) + u',' +
            QStringLiteral("ReloadSize=") + Conv::Str(m_content.MonitorSettings.ReloadSize) + u',' +
            QStringLiteral(",,,,,,,,,,,,,,") + CrLf;
    text += HeaderRow + CrLf;
    for (int r = 0; r < count; ++r) {
        QStringList fields;
        for (int c = 0; c < 20; ++c) {
            QString v = m_content.DeviceTable[r][c];
            if (c >= ColRA0 && c < ColRB0)
                v = v == TableWord::Ain ? v : TableWord::Non;
            else if (c >= ColRB0 && c < ColControl)
                v = (v == TableWord::Din || v == TableWord::Dout) ? v : TableWord::Non;
            fields.append(v);
        }
        text += fields.join(u',') + CrLf;
    }
    text += CrLf;
    if (!TextFile::writeWhole(file, text, nullptr, TextFile::kPrivateMode))
        return Failed(Fault::SettingsFile, QStringLiteral("システムファイル書き込みエラー"));
    m_unreadable = false;
    return {};
}

int16_t SysInf::GetPinType(int unit, int port, int pin) const
{
    if (!m_valid || unit < 0 || unit >= unitCount())
        return -1;
    if (port == 5 && pin >= 0 && pin <= 3)
        return m_content.DeviceTable[unit][ColRA0 + pin] == TableWord::Ain ? 2 : -1;
    if (port == 6 && pin >= 0 && pin <= 7) {
        const QString& v = m_content.DeviceTable[unit][ColRB0 + pin];
        return v == TableWord::Din ? 1 : v == TableWord::Dout ? 0 : -1;
    }
    return -1;
}

QString SysInf::GetArmField(int unit, int part) const
{
    if (unit < 0 || unit >= unitCount() || part < 0 || part > 2)
        return TableWord::Non;
    const QString& arm = m_content.DeviceTable[unit][ColArm];
    if (arm == TableWord::Non)
        return arm;
    const qsizetype first = arm.indexOf(u':');
    const qsizetype second = first < 0 ? -1 : arm.indexOf(u':', first + 1);
    switch (part) {
    case 0:
        return (first < 0 ? arm : arm.left(first)).trimmed();
    case 1:
        return first < 0 ? QString()
                         : (second < 0 ? arm.mid(first + 1) : arm.mid(first + 1, second - first - 1)).trimmed();
    default:
        return second < 0 ? QString() : arm.mid(second + 1).trimmed();
    }
}

QString SysInf::PinTypesText(int unit) const
{
    QStringList types;
    for (int c = ColRA0; c < ColRB0 + UnitMap::PortBPins; ++c)
        types << m_content.DeviceTable[unit][c];
    return types.join(u',');
}

AlarmRule SysInf::ArmRule(int unit) const
{
    AlarmRule rule;
    const QString kind = GetArmField(unit, 0);
    if (kind == TableWord::Ain)
        rule.kind = AlarmRule::Kind::Analog;
    else if (kind == TableWord::Din)
        rule.kind = AlarmRule::Kind::Digital;
    else
        return rule;
    const auto pin = Conv::StrictInt16(GetArmField(unit, 1));
    const int pins = rule.kind == AlarmRule::Kind::Analog ? UnitMap::AnalogChannels : UnitMap::PortBPins;
    if (pin && *pin >= 0 && *pin < pins)
        rule.pin = *pin;
    rule.high = GetArmField(unit, 2) == TableWord::High;
    return rule;
}

bool SysInf::AimUnitLink(DeviceLink& link, int unit, int32_t timeOut) const
{
    if (unit < 0 || unit >= unitCount())
        return false;
    return AimUnitLink(link, m_content.DeviceTable[unit], timeOut);
}

bool SysInf::AimUnitLink(DeviceLink& link, const DeviceRecord& row, int32_t timeOut)
{
    const auto lcd = Conv::CInt16(Conv::Val(row[ColLCD]));
    const auto io = Conv::CInt16(Conv::Val(row[ColIO]));
    const auto rs = Conv::CInt16(Conv::Val(row[ColRS]));
    if (!lcd || !io || !rs)
        return false;
    link.setIP(row[ColIP]);
    link.setLcdPort(*lcd);
    link.setParallelPort(*io);
    link.setSerialPort(*rs);
    link.setBaudRate(row[ColBPS]);
    link.setTimeOut(timeOut);
    return true;
}

bool SysInf::HoldsUnit(int row) const
{
    return row >= 0 && row < unitCount() && !m_content.DeviceTable[row][ColIP].trimmed().isEmpty();
}

QString SysInf::UnitKey(const DeviceRecord& row)
{
    return row[ColIP] + u':' + row[ColIO];
}

bool SysInf::OpenUnitLink(DeviceLink& link, int unit)
{
    if (unit < 0 || unit >= unitCount() || !m_valid)
        return true;
    return OpenUnitLink(link, m_content.DeviceTable[unit], m_content.MonitorSettings.TimeOut);
}

bool SysInf::OpenUnitLink(DeviceLink& link, const DeviceRecord& row, int32_t timeOut)
{
    try {
        if (!AimUnitLink(link, row, timeOut))
            return false;
        for (int pin = 0; pin < UnitMap::AnalogChannels; ++pin) {
            if (row[ColRA0 + pin] != TableWord::Ain)
                continue;
            link.SetDirp(UnitMap::PortA, int16_t(pin), 1);
            if (link.GetDirp(UnitMap::PortA, int16_t(pin)) != 2)
                return false;
        }
        link.SetDirp(UnitMap::PortA, UnitMap::TemperatureChannel, 1);
        for (int pin = 0; pin < UnitMap::PortBPins; ++pin) {
            const QString& type = row[ColRB0 + pin];
            int32_t dir = -1;
            if (type == TableWord::Din)
                dir = 1;
            else if (type == TableWord::Dout)
                dir = 0;
            else
                continue;
            link.SetDirp(UnitMap::PortB, int16_t(pin), dir);
            if (link.GetDirp(UnitMap::PortB, int16_t(pin)) != dir)
                return false;
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool SysInf::ProbeUnitLink(DeviceLink& link, int unit)
{
    if (unit < 0 || unit >= unitCount())
        return false;
    try {
        if (!AimUnitLink(link, unit, 0))
            return false;
        link.GetDirp(UnitMap::PortA, UnitMap::TemperatureChannel);
        return true;
    } catch (const DeviceLinkError&) {
        return false;
    }
}
