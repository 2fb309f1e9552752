// LogInf.ini: Key=value lines, Shift-JIS, CR LF, like the station's other settings files.

#include "shared/LogInf.h"

#include "shared/SettingsFile.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

const QString IniName = QStringLiteral("LogInf.ini");

} // namespace

QString LogInf::checkSettings(const LogSettings& s)
{
    if (s.Archive != 0 && s.Archive != 1)
        return QStringLiteral("Archive は 0 か 1 です");
    if (s.KeepMonths < 0 || s.KeepMonths > 1200)
        return QStringLiteral("保存する月数は 0～1200 で指定して下さい");
    return QString();
}

Outcome LogInf::load()
{
    settings = LogSettings{};
    m_unreadable = false;
    QHash<QString, QString> values;
    const Outcome read = ReadKeyValues(QDir(m_workDir).filePath(IniName), IniName, values);
    if (!read) {
        m_unreadable = read.fault != Fault::NotLoaded;
        return read;
    }
    LogSettings s;
    s.Archive = KeyNumber(values, QStringLiteral("archive"));
    s.KeepMonths = KeyNumber(values, QStringLiteral("keepmonths"));
    const QString problem = checkSettings(s);
    if (!problem.isEmpty()) {
        m_unreadable = true;
        return Failed(Fault::SettingsFile, IniName + QStringLiteral(" が読めません\n") + problem);
    }
    settings = s;
    return {};
}

Outcome LogInf::save(MessageBoxService& messages)
{
    const QString problem = checkSettings(settings);
    if (!problem.isEmpty())
        return Failed(Fault::SettingsFile, problem);
    return SaveKeyValues(
        messages, QDir(m_workDir).filePath(IniName), IniName,
        QStringLiteral("Archive=%1\r\nKeepMonths=%2\r\n").arg(settings.Archive).arg(settings.KeepMonths), m_unreadable);
}
