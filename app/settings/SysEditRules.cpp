#include "settings/SysEditRules.h"

#include "platform/Conversions.h"
#include "shared/TableWords.h"

#include <cmath>

namespace SysEditRules {

namespace {

const std::array<QString, 5> BpsRates = {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                                         QStringLiteral("57600"), QStringLiteral("115200")};

// A number whose nearest whole value lies in lo..hi.
bool inRange(const QString& text, double lo, double hi)
{
    const auto v = Conv::StrictNumber(text);
    if (!v)
        return false;
    const double r = Conv::RoundHalfEven(*v);
    return r >= lo && r <= hi;
}

bool addressInRange(const UnitFields& f)
{
    for (const QString& part : f.ip)
        if (!inRange(part, 0, 255))
            return false;
    return true;
}

std::optional<QString> portsInRange(const UnitFields& f)
{
    if (!inRange(f.lcd, 0, 32767))
        return QStringLiteral("LCDﾎﾟｰﾄ番号が範囲外です");
    if (!inRange(f.io, 0, 32767))
        return QStringLiteral("ﾊﾟﾗﾚﾙﾎﾟｰﾄ番号が範囲外です");
    if (!inRange(f.rs, 0, 32767))
        return QStringLiteral("ｼﾘｱﾙﾎﾟｰﾄ番号が範囲外です");
    return std::nullopt;
}

bool nameTaken(const MontComm1& comm, const QString& name)
{
    for (int r = 0; r < comm.sys().unitCount(); ++r)
        if (comm.sys().cell(r, ColName) == name)
            return true;
    return false;
}

} // namespace

QString JoinAddress(const std::array<QString, 4>& parts)
{
    return parts[0].trimmed() + u'.' + parts[1].trimmed() + u'.' + parts[2].trimmed() + u'.' + parts[3].trimmed();
}

std::array<QString, 4> SplitAddress(const QString& ip)
{
    std::array<QString, 4> out;
    const QStringList parts = ip.split(u'.');
    for (int i = 0; i < 3 && i < parts.size(); ++i)
        out[i] = parts[i];
    if (parts.size() > 3)
        out[3] = parts.mid(3).join(u'.').trimmed();
    return out;
}

QString BpsText(int index)
{
    return index >= 1 && index <= 4 ? BpsRates[index] : BpsRates[0];
}

int BpsIndex(const QString& text)
{
    const double v = Conv::Val(text.trimmed());
    for (int i = 0; i < 5; ++i)
        if (v == BpsRates[i].toDouble())
            return i;
    return 0;
}

std::optional<QString> ValidateEntry(const MontComm1& comm, const UnitFields& f, EntryMode mode, int currentIndex,
                                     int selectedRow)
{
    const QString edited = QStringLiteral("編集されたデータの削除はできません");
    const QString outOfRange = QStringLiteral("IPAddressが範囲外です");
    if (mode == EntryMode::Del) {
        if (!addressInRange(f))
            return edited;
        if (selectedRow < 0 || selectedRow >= comm.sys().unitCount())
            return edited;
        if (JoinAddress(f.ip) != comm.sys().cell(selectedRow, ColIP) ||
            f.name != comm.sys().cell(selectedRow, ColName) ||
            f.lcd.trimmed() != comm.sys().cell(selectedRow, ColLCD) ||
            f.io.trimmed() != comm.sys().cell(selectedRow, ColIO) ||
            f.rs.trimmed() != comm.sys().cell(selectedRow, ColRS))
            return edited;
        return std::nullopt;
    }
    // A comma would split the record when the file is read back.
    if (f.name.contains(u','))
        return QStringLiteral("名称に「,」(カンマ)は使用できません");
    if (mode == EntryMode::Add) {
        if (nameTaken(comm, f.name))
            return QStringLiteral("装置名称が重複しています");
    } else {
        const bool sameName = currentIndex >= 0 && currentIndex < comm.sys().unitCount() &&
                              comm.sys().cell(currentIndex, ColName) == f.name;
        if (!sameName && nameTaken(comm, f.name))
            return QStringLiteral("装置名称が重複しています");
    }
    if (!addressInRange(f))
        return outOfRange;
    if (mode == EntryMode::Add) {
        const QString ip = JoinAddress(f.ip);
        for (int r = 0; r < comm.sys().unitCount(); ++r)
            if (comm.sys().cell(r, ColIP) == ip)
                return QStringLiteral("IPAddressが重複しています");
    }
    return portsInRange(f);
}

void StoreRow(MontComm1& comm, int row, const UnitFields& f)
{
    if (row < 0 || row >= SysInf::TableRows)
        return;
    comm.sys().cell(row, ColName) = f.name;
    comm.sys().cell(row, ColIP) = JoinAddress(f.ip);
    comm.sys().cell(row, ColLCD) = f.lcd.trimmed();
    comm.sys().cell(row, ColIO) = f.io.trimmed();
    comm.sys().cell(row, ColRS) = f.rs.trimmed();
    comm.sys().cell(row, ColBPS) = BpsText(f.bpsIndex);
    for (int k = 0; k < 4; ++k)
        comm.sys().cell(row, ColRA0 + k) = f.analogIn[k] ? TableWord::Ain : TableWord::Non;
    for (int k = 0; k < 8; ++k)
        comm.sys().cell(row, ColRB0 + k) = f.rbType[k] == 1   ? TableWord::Din
                                           : f.rbType[k] == 2 ? TableWord::Dout
                                                              : TableWord::Non;
    comm.sys().cell(row, ColControl) = f.controlOn ? TableWord::On : TableWord::Off;
    comm.sys().cell(row, ColArm) = TableWord::Non;
}

UnitFields ShowRow(const MontComm1& comm, int row)
{
    UnitFields f;
    if (row < 0 || row >= SysInf::TableRows)
        return f;
    f.name = comm.sys().cell(row, ColName);
    f.ip = SplitAddress(comm.sys().cell(row, ColIP));
    f.lcd = comm.sys().cell(row, ColLCD).trimmed();
    f.io = comm.sys().cell(row, ColIO).trimmed();
    f.rs = comm.sys().cell(row, ColRS).trimmed();
    f.bpsIndex = BpsIndex(comm.sys().cell(row, ColBPS));
    for (int k = 0; k < 4; ++k)
        f.analogIn[k] = comm.sys().cell(row, ColRA0 + k) == TableWord::Ain;
    for (int k = 0; k < 8; ++k) {
        const QString& v = comm.sys().cell(row, ColRB0 + k);
        f.rbType[k] = v == TableWord::Din ? 1 : v == TableWord::Dout ? 2 : 0;
    }
    f.controlOn = comm.sys().cell(row, ColControl) == TableWord::On;
    return f;
}

void DeleteUnit(MontComm1& comm, int d)
{
    const int count = comm.sys().unitCount();
    if (d < 0 || d >= count)
        return;
    for (int i = d; i < count - 1; ++i) {
        if (i + 1 < UnitSlots)
            comm.inet().InternetSettings.FileName[i] = comm.inet().InternetSettings.FileName[i + 1];
        comm.sys().DeviceTable[i] = comm.sys().DeviceTable[i + 1];
    }
    comm.sys().DeviceCount = int16_t(count - 1);
    // A channel's tag and scaling stay with their unit, not with its row.
    comm.channels().deleteUnit(d);
}

int16_t CycleValue(const QString& text)
{
    const double v = Conv::RoundHalfEven(Conv::Val(text.trimmed().left(2)));
    return std::isfinite(v) ? int16_t(v) : int16_t(0);
}

void FillUnsetRetry(MonitorSettings& settings)
{
    if (settings.ReloadCycl < 1)
        settings.ReloadCycl = 1;
    if (settings.ReloadSize < 1)
        settings.ReloadSize = 1;
}

QString CycleLetter(int option)
{
    switch (option) {
    case 0:
        return QStringLiteral("h");
    case 1:
        return QStringLiteral("n");
    case 2:
        return QStringLiteral("s");
    default:
        return QString();
    }
}

int CycleOption(const QString& letter)
{
    if (letter == QStringLiteral("h"))
        return 0;
    if (letter == QStringLiteral("n"))
        return 1;
    if (letter == QStringLiteral("s"))
        return 2;
    return -1;
}

} // namespace SysEditRules
