#include "SysEditRules.h"

#include "Conversions.h"
#include "TableWords.h"

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
    for (int r = 0; r < comm.unitCount(); ++r)
        if (comm.cell(r, ColName) == name)
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
        if (selectedRow < 0 || selectedRow >= comm.unitCount())
            return edited;
        if (JoinAddress(f.ip) != comm.cell(selectedRow, ColIP) || f.name != comm.cell(selectedRow, ColName) ||
            f.lcd.trimmed() != comm.cell(selectedRow, ColLCD) || f.io.trimmed() != comm.cell(selectedRow, ColIO) ||
            f.rs.trimmed() != comm.cell(selectedRow, ColRS))
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
        const bool sameName =
            currentIndex >= 0 && currentIndex < comm.unitCount() && comm.cell(currentIndex, ColName) == f.name;
        if (!sameName && nameTaken(comm, f.name))
            return QStringLiteral("装置名称が重複しています");
    }
    if (!addressInRange(f))
        return outOfRange;
    if (mode == EntryMode::Add) {
        const QString ip = JoinAddress(f.ip);
        for (int r = 0; r < comm.unitCount(); ++r)
            if (comm.cell(r, ColIP) == ip)
                return QStringLiteral("IPAddressが重複しています");
    }
    return portsInRange(f);
}

void StoreRow(MontComm1& comm, int row, const UnitFields& f)
{
    if (row < 0 || row >= MontComm1::TableRows)
        return;
    comm.cell(row, ColName) = f.name;
    comm.cell(row, ColIP) = JoinAddress(f.ip);
    comm.cell(row, ColLCD) = f.lcd.trimmed();
    comm.cell(row, ColIO) = f.io.trimmed();
    comm.cell(row, ColRS) = f.rs.trimmed();
    comm.cell(row, ColBPS) = BpsText(f.bpsIndex);
    for (int k = 0; k < 4; ++k)
        comm.cell(row, ColRA0 + k) = f.analogIn[k] ? TableWord::Ain : TableWord::Non;
    for (int k = 0; k < 8; ++k)
        comm.cell(row, ColRB0 + k) = f.rbType[k] == 1   ? TableWord::Din
                                     : f.rbType[k] == 2 ? TableWord::Dout
                                                        : TableWord::Non;
    comm.cell(row, ColControl) = f.controlOn ? TableWord::On : TableWord::Off;
    comm.cell(row, ColArm) = TableWord::Non;
}

UnitFields ShowRow(const MontComm1& comm, int row)
{
    UnitFields f;
    if (row < 0 || row >= MontComm1::TableRows)
        return f;
    f.name = comm.cell(row, ColName);
    f.ip = SplitAddress(comm.cell(row, ColIP));
    f.lcd = comm.cell(row, ColLCD).trimmed();
    f.io = comm.cell(row, ColIO).trimmed();
    f.rs = comm.cell(row, ColRS).trimmed();
    f.bpsIndex = BpsIndex(comm.cell(row, ColBPS));
    for (int k = 0; k < 4; ++k)
        f.analogIn[k] = comm.cell(row, ColRA0 + k) == TableWord::Ain;
    for (int k = 0; k < 8; ++k) {
        const QString& v = comm.cell(row, ColRB0 + k);
        f.rbType[k] = v == TableWord::Din ? 1 : v == TableWord::Dout ? 2 : 0;
    }
    f.controlOn = comm.cell(row, ColControl) == TableWord::On;
    return f;
}

void DeleteUnit(MontComm1& comm, int d)
{
    const int count = comm.unitCount();
    if (d < 0 || d >= count)
        return;
    for (int i = d; i < count - 1; ++i) {
        if (i + 1 < MontComm1::UnitSlots)
            comm.InternetSettings.FileName[i] = comm.InternetSettings.FileName[i + 1];
        comm.DeviceTable[i] = comm.DeviceTable[i + 1];
    }
    comm.DeviceCount = int16_t(count - 1);
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
