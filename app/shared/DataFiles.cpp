// The per-unit data logs, the age test of relayed data and the small file utilities.

#include "shared/DataFiles.h"

#include "shared/InetInf.h"
#include "shared/UnitStates.h"

#include "platform/Clock.h"
#include "platform/Conversions.h"
#include "platform/DateText.h"
#include "platform/TextFile.h"
#include "outside/DeviceLink.h"
#include "shared/TableWords.h"

#include <QDir>
#include <QFile>
#include <filesystem>

DataFiles::DataFiles(QString workDir, const Clock& clock, const InetInf& inet, const UnitStates& units)
    : m_workDir(std::move(workDir))
    , m_clock(clock)
    , m_inet(inet)
    , m_units(units)
{
}

QString DataFiles::path(const QString& fileName) const
{
    return QDir(m_workDir).filePath(fileName);
}

QString DataFiles::DataLogName(int unit)
{
    return QStringLiteral("DataFile") + QStringLiteral("%1").arg(unit, 3, 10, QLatin1Char('0')) +
           QStringLiteral(".csv");
}

void DataFiles::WriteDataLog(int unit)
{
    WriteDataLog(unit, m_clock.now());
}

void DataFiles::WriteDataLog(int unit, const QDateTime& stamp)
{
    if (unit < 0 || unit >= UnitSlots)
        return;
    const UnitState& s = m_units.values(unit);
    QString line = DateText::dataLog(stamp) + u',';
    for (int item = 0; item <= 3; ++item)
        line += Conv::Str(s[item]) + u',';
    for (int item = ItemRB0; item <= 13; ++item)
        line += Conv::Str(s[item]) + u',';
    line += Conv::Str(Conv::RoundHalfEven(s[ItemTemperature] / UnitMap::DegreeFactor));
    line += QStringLiteral("\r\n");
    TextFile::append(path(DataLogName(unit)), line); // a log error never stops the caller
}

bool DataFiles::IsDataFresh(const QString& relayText) const
{
    const qsizetype lf = relayText.indexOf(u'\n');
    if (lf < 0)
        return false;
    const QString data = relayText.mid(lf + 1);
    const qsizetype c1 = data.indexOf(u',');
    if (c1 < 0)
        return false;
    const qsizetype c2 = data.indexOf(u',', c1 + 1);
    const QString timeField = c2 < 0 ? data.mid(c1 + 1) : data.mid(c1 + 1, c2 - c1 - 1);
    const auto stamp = DateText::parseDateAndTime(data.left(c1), timeField.trimmed());
    return stamp && IsDataFresh(*stamp);
}

bool DataFiles::IsDataFresh(const QDateTime& stamp) const
{
    if (!stamp.isValid())
        return false;
    // The two stations' clocks may differ a little, so a stamp somewhat ahead is still fresh; one
    // further ahead than the allowed age is a wrong clock and would otherwise stay fresh for ever.
    const qint64 ageSeconds = stamp.secsTo(m_clock.now());
    const qint64 limit = qint64(m_inet.InternetSettings().TimeOut) * 60;
    return ageSeconds <= limit && ageSeconds >= -limit;
}

bool DataFiles::FileExists(const QString& filePath) const
{
    QFile f;
    return TextFile::openRegular(f, QDir(m_workDir).filePath(filePath));
}

void DataFiles::DeleteLocalFile(const QString& filePath) const
{
    std::error_code ec;
    std::filesystem::remove(QDir(m_workDir).filePath(filePath).toStdString(), ec); // errors are ignored
}

bool DataFiles::CreateRelayFile(const QString& fileName)
{
    if (!TextFile::writeWholeBytes(path(fileName), QByteArrayLiteral("\r\n")))
        return false;
    return m_inet.InternetSettings().SendFordername.isEmpty() || CopyToSendFolder(fileName);
}

QString DataFiles::SendFolderPath(const QString& fileName) const
{
    QString folder = m_inet.InternetSettings().SendFordername;
    folder.replace(u'\\', u'/');
    return QDir(QDir(m_workDir).filePath(folder)).filePath(fileName);
}

bool DataFiles::CopyToSendFolder(const QString& fileName) const
{
    // Written whole under a temporary name and renamed, so a reader never sees half a file.
    const auto bytes = TextFile::readBytes(path(fileName));
    return bytes && TextFile::writeWholeBytes(SendFolderPath(fileName), *bytes);
}
