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

bool nameTaken(const SysInf::Content& table, const QString& name)
{
    for (int r = 0; r < table.unitCount(); ++r)
        if (table.cell(r, ColName) == name)
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

std::optional<QString> ValidateEntry(const SysInf::Content& table, const UnitFields& f, EntryMode mode,
                                     int currentIndex, int selectedRow)
{
    const QString edited = QStringLiteral("編集されたデータの削除はできません");
    const QString outOfRange = QStringLiteral("IPAddressが範囲外です");
    if (mode == EntryMode::Del) {
        if (!addressInRange(f))
            return edited;
        if (selectedRow < 0 || selectedRow >= table.unitCount())
            return edited;
        if (JoinAddress(f.ip) != table.cell(selectedRow, ColIP) || f.name != table.cell(selectedRow, ColName) ||
            f.lcd.trimmed() != table.cell(selectedRow, ColLCD) || f.io.trimmed() != table.cell(selectedRow, ColIO) ||
            f.rs.trimmed() != table.cell(selectedRow, ColRS))
            return edited;
        return std::nullopt;
    }
    // A comma would split the record when the file is read back.
    if (f.name.contains(u','))
        return QStringLiteral("名称に「,」(カンマ)は使用できません");
    if (mode == EntryMode::Add) {
        if (nameTaken(table, f.name))
            return QStringLiteral("装置名称が重複しています");
    } else {
        const bool sameName =
            currentIndex >= 0 && currentIndex < table.unitCount() && table.cell(currentIndex, ColName) == f.name;
        if (!sameName && nameTaken(table, f.name))
            return QStringLiteral("装置名称が重複しています");
    }
    if (!addressInRange(f))
        return outOfRange;
    if (mode == EntryMode::Add) {
        const QString ip = JoinAddress(f.ip);
        for (int r = 0; r < table.unitCount(); ++r)
            if (table.cell(r, ColIP) == ip)
                return QStringLiteral("IPAddressが重複しています");
    }
    return portsInRange(f);
}

void StoreRow(SysInf::Content& table, int row, const UnitFields& f)
{
    if (row < 0 || row >= SysInf::TableRows)
        return;
    table.cell(row, ColName) = f.name;
    table.cell(row, ColIP) = JoinAddress(f.ip);
    table.cell(row, ColLCD) = f.lcd.trimmed();
    table.cell(row, ColIO) = f.io.trimmed();
    table.cell(row, ColRS) = f.rs.trimmed();
    table.cell(row, ColBPS) = BpsText(f.bpsIndex);
    for (int k = 0; k < 4; ++k)
        table.cell(row, ColRA0 + k) = f.analogIn[k] ? TableWord::Ain : TableWord::Non;
    for (int k = 0; k < 8; ++k)
        table.cell(row, ColRB0 + k) = f.rbType[k] == 1   ? TableWord::Din
                                      : f.rbType[k] == 2 ? TableWord::Dout
                                                         : TableWord::Non;
    table.cell(row, ColControl) = f.controlOn ? TableWord::On : TableWord::Off;
    table.cell(row, ColArm) = TableWord::Non;
}

UnitFields ShowRow(const SysInf::Content& table, int row)
{
    UnitFields f;
    if (row < 0 || row >= SysInf::TableRows)
        return f;
    f.name = table.cell(row, ColName);
    f.ip = SplitAddress(table.cell(row, ColIP));
    f.lcd = table.cell(row, ColLCD).trimmed();
    f.io = table.cell(row, ColIO).trimmed();
    f.rs = table.cell(row, ColRS).trimmed();
    f.bpsIndex = BpsIndex(table.cell(row, ColBPS));
    for (int k = 0; k < 4; ++k)
        f.analogIn[k] = table.cell(row, ColRA0 + k) == TableWord::Ain;
    for (int k = 0; k < 8; ++k) {
        const QString& v = table.cell(row, ColRB0 + k);
        f.rbType[k] = v == TableWord::Din ? 1 : v == TableWord::Dout ? 2 : 0;
    }
    f.controlOn = table.cell(row, ColControl) == TableWord::On;
    return f;
}

void DeleteUnit(SysInf::Content& table, std::array<QString, UnitSlots>& fileNames, int d)
{
    const int count = table.unitCount();
    if (d < 0 || d >= count)
        return;
    for (int i = d; i < count - 1; ++i) {
        if (i + 1 < UnitSlots)
            fileNames[i] = fileNames[i + 1];
        table.DeviceTable[i] = table.DeviceTable[i + 1];
    }
    table.DeviceCount = int16_t(count - 1);
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
