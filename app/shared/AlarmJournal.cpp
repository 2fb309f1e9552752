// Writing and reading the alarm journal.

#include "shared/AlarmJournal.h"

#include "platform/Clock.h"
#include "platform/DateText.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <optional>

namespace {

bool plainNumber(const QString& s)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+(\\.[0-9]+)?$"));
    return number.match(s).hasMatch();
}

bool formulaStart(const QString& s)
{
    return !s.isEmpty() && (s[0] == u'=' || s[0] == u'+' || s[0] == u'-' || s[0] == u'@');
}

bool guardedLook(const QString& s);

// A text cell as a CSV reader and a spreadsheet will take it: one line (the journal is read by
// whole lines), quoted when it holds a quote or a comma, and a cell a spreadsheet would run as a
// formula made text by a leading apostrophe. Numbers stay numbers.
QString textField(QString s)
{
    s.replace(u'\r', u' ');
    s.replace(u'\n', u' ');
    if ((formulaStart(s) && !plainNumber(s)) || guardedLook(s))
        s.prepend(u'\'');
    if (s.contains(u'"') || s.contains(u','))
        s = u'"' + s.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    return s;
}

// Apostrophes, then a formula's first character: the guard, or an apostrophe of the name's own
// that the guard's removal would otherwise take.
bool guardedLook(const QString& s)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == u'\'')
        ++i;
    return i > 0 && formulaStart(s.mid(i));
}

QString unguarded(const QString& s)
{
    return guardedLook(s) ? s.mid(1) : s;
}

// "yyyy/MM/dd HH:mm:ss" by hand: a quarter of a million lines through QDateTime::fromString
// take seconds.
QDateTime stamp(const QString& s)
{
    static const QString shape = QStringLiteral("0000/00/00 00:00:00");
    if (s.size() != shape.size())
        return QDateTime();
    int n[6] = {};
    int k = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (shape[i] != u'0') {
            if (s[i] != shape[i])
                return QDateTime();
            ++k;
            continue;
        }
        if (s[i] < u'0' || s[i] > u'9')
            return QDateTime();
        n[k] = n[k] * 10 + (s[i].unicode() - u'0');
    }
    const QDate date(n[0], n[1], n[2]);
    const QTime time(n[3], n[4], n[5]);
    return date.isValid() && time.isValid() ? QDateTime(date, time) : QDateTime();
}

// The fields of a quoted line; nothing when its quotes do not close as they should.
std::optional<QStringList> quotedFields(const QString& line)
{
    QStringList fields;
    QString f;
    qsizetype i = 0;
    for (;;) {
        f.clear();
        if (i < line.size() && line[i] == u'"') {
            for (++i;; ++i) {
                if (i >= line.size())
                    return std::nullopt;
                if (line[i] == u'"') {
                    if (i + 1 < line.size() && line[i + 1] == u'"') {
                        f += u'"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                f += line[i];
            }
            if (i < line.size() && line[i] != u',')
                return std::nullopt;
        } else {
            const qsizetype comma = line.indexOf(u',', i);
            f = line.mid(i, comma < 0 ? -1 : comma - i);
            i = comma < 0 ? line.size() : comma;
        }
        fields << f;
        if (i >= line.size())
            return fields;
        ++i; // the comma
    }
}

} // namespace

AlarmJournal::AlarmJournal(QString workDir, const Clock& clock) : m_workDir(std::move(workDir)), m_clock(clock) {}

QString AlarmJournal::CsvField(const QString& text)
{
    return textField(text);
}

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
    case JournalEvent::Launched:
        return QStringLiteral("起動");
    case JournalEvent::Exited:
        return QStringLiteral("終了");
    case JournalEvent::Down:
        return QStringLiteral("停止中");
    case JournalEvent::HangUpFailed:
        return QStringLiteral("回線切断失敗");
    case JournalEvent::StartRefused:
        return QStringLiteral("監視開始失敗");
    case JournalEvent::ArchiveFailed:
        return QStringLiteral("ログ保存失敗");
    case JournalEvent::ReportFailed:
        return QStringLiteral("帳票作成失敗");
    case JournalEvent::WebFailed:
        return QStringLiteral("Web表示失敗");
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
    const QString line = DateText::dataLog(m_clock.now()) + u',' + number + u',' + textField(name) + u',' +
                         EventWord(event) + u',' + textField(condition) + QStringLiteral("\r\n");
    return TextFile::append(path(), line);
}

std::vector<JournalEntry> AlarmJournal::Read(const QString& path, qint64 maxBytes, bool* older)
{
    std::vector<JournalEntry> entries;
    if (older)
        *older = false;
    QFile file;
    if (!TextFile::openRegular(file, path))
        return entries;
    const qint64 start = std::max<qint64>(0, file.size() - maxBytes);
    if (older)
        *older = start > 0;
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
        // Lines written before fields were quoted hold a quote as any other character.
        auto quoted = quotedFields(*text);
        const QStringList f = quoted && quoted->size() == 5 ? *quoted : text->split(u',');
        if (f.size() != 5)
            continue;
        const QDateTime time = stamp(f[0]);
        if (!time.isValid())
            continue;
        JournalEntry e;
        e.time = time;
        bool ok = false;
        const int unit = f[1].toInt(&ok);
        e.unit = ok ? unit : -1;
        e.name = unguarded(f[2]);
        e.event = f[3];
        e.condition = unguarded(f[4]);
        entries.push_back(std::move(e));
    }
    return entries;
}
