// Writing and reading the alarm journal.

#include "AlarmJournal.h"

#include "Clock.h"
#include "DateText.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>

namespace {

// A field never carries the separator or a line end into the file.
QString field(QString s)
{
    s.replace(u',', u' ');
    s.replace(u'\r', u' ');
    s.replace(u'\n', u' ');
    return s;
}

} // namespace

AlarmJournal::AlarmJournal(QString workDir, const Clock& clock) : m_workDir(std::move(workDir)), m_clock(clock) {}

QString AlarmJournal::EventWord(JournalEvent event)
{
    switch (event) {
    case JournalEvent::Raised:
        return QStringLiteral("発生");
    case JournalEvent::Acknowledged:
        return QStringLiteral("確認");
    case JournalEvent::Cleared:
        return QStringLiteral("復帰");
    case JournalEvent::GivenUp:
        return QStringLiteral("通信断");
    case JournalEvent::Answering:
        return QStringLiteral("通信復帰");
    case JournalEvent::MailFailed:
        return QStringLiteral("メール送信失敗");
    case JournalEvent::DiskLow:
        return QStringLiteral("ディスク残量不足");
    case JournalEvent::Started:
        return QStringLiteral("監視開始");
    case JournalEvent::Stopped:
        return QStringLiteral("監視停止");
    case JournalEvent::ClockChanged:
        return QStringLiteral("時刻変更");
    }
    return QString();
}

QString AlarmJournal::path() const
{
    return QDir(m_workDir).filePath(FileName);
}

bool AlarmJournal::Record(JournalEvent event, int unit, const QString& name, const QString& condition)
{
    const QString number = unit < 0 ? QString() : QStringLiteral("%1").arg(unit, 3, 10, QLatin1Char('0'));
    const QString line = DateText::dataLog(m_clock.now()) + u',' + number + u',' + field(name) + u',' +
                         EventWord(event) + u',' + field(condition) + QStringLiteral("\r\n");
    return TextFile::append(path(), line);
}

std::vector<JournalEntry> AlarmJournal::Read(const QString& path, qint64 maxBytes)
{
    std::vector<JournalEntry> entries;
    QFile file;
    if (!TextFile::openRegular(file, path))
        return entries;
    const qint64 start = std::max<qint64>(0, file.size() - maxBytes);
    file.seek(start);
    QByteArray bytes = file.read(maxBytes);
    if (start > 0) { // begin at a whole line
        const qsizetype lf = bytes.indexOf('\n');
        bytes = lf < 0 ? QByteArray() : bytes.mid(lf + 1);
    }
    const qsizetype lastLf = bytes.lastIndexOf('\n');
    bytes.truncate(lastLf + 1); // a line still being written is not read
    for (const QByteArray& raw : bytes.split('\n')) {
        QByteArray lineBytes = raw;
        if (lineBytes.endsWith('\r'))
            lineBytes.chop(1);
        const auto text = TextFile::decode(lineBytes);
        if (!text || text->isEmpty())
            continue;
        const QStringList f = text->split(u',');
        if (f.size() != 5)
            continue;
        const QDateTime time = QDateTime::fromString(f[0], QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        if (!time.isValid())
            continue;
        JournalEntry e;
        e.time = time;
        bool ok = false;
        const int unit = f[1].toInt(&ok);
        e.unit = ok ? unit : -1;
        e.name = f[2];
        e.event = f[3];
        e.condition = f[4];
        entries.push_back(std::move(e));
    }
    return entries;
}
