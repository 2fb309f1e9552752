// LogInf.ini: Key=value lines, Shift-JIS, CR LF, like the station's other settings files.

#include "LogInf.h"

#include "SettingsFile.h"
#include "TextFile.h"

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
    const QString file = QDir(m_workDir).filePath(IniName);
    TextFile::removeStaleTemporaries(file);
    settings = LogSettings{};
    m_unreadable = false;
    if (!QFileInfo(file).exists() && !QFileInfo(file).isSymLink())
        return Failed(Fault::NotLoaded);
    m_unreadable = true;
    const QString unreadable = IniName + QStringLiteral(" が読めません");
    const auto lines = TextFile::readLines(file);
    if (!lines)
        return Failed(Fault::SettingsFile, unreadable);
    QHash<QString, QString> values;
    for (int i = 0; i < lines->size(); ++i) {
        const QString& line = (*lines)[i];
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            return Failed(Fault::SettingsFile,
                          unreadable + QStringLiteral(" %1 行目: Key=値 の形ではありません").arg(i + 1));
        values.insert(line.left(eq).trimmed().toLower(), line.mid(eq + 1).trimmed());
    }
    const auto number = [&](const QString& key, int& out) {
        const QString v = values.value(key);
        bool ok = true;
        out = v.isEmpty() ? 0 : v.toInt(&ok);
        if (!ok)
            out = -1;
    };
    LogSettings s;
    number(QStringLiteral("archive"), s.Archive);
    number(QStringLiteral("keepmonths"), s.KeepMonths);
    const QString problem = checkSettings(s);
    if (!problem.isEmpty())
        return Failed(Fault::SettingsFile, unreadable + u'\n' + problem);
    settings = s;
    m_unreadable = false;
    return {};
}

Outcome LogInf::save(MessageBoxService& messages)
{
    const QString problem = checkSettings(settings);
    if (!problem.isEmpty())
        return Failed(Fault::SettingsFile, problem);
    const QString file = QDir(m_workDir).filePath(IniName);
    const QString writeError = IniName + QStringLiteral(" に書き込めません");
    if (m_unreadable) {
        const Outcome confirmed = ConfirmReplacing(messages, file, IniName, writeError);
        if (!confirmed)
            return confirmed;
    }
    const QString text =
        QStringLiteral("Archive=%1\r\nKeepMonths=%2\r\n").arg(settings.Archive).arg(settings.KeepMonths);
    const Outcome saved = SaveSettingsText(file, IniName, text, false, writeError);
    if (saved)
        m_unreadable = false;
    return saved;
}
