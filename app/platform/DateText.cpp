#include "platform/DateText.h"

#include <QRegularExpression>

namespace DateText {

QString general(const QDateTime& t)
{
    return t.toString(QStringLiteral("yy/MM/dd HH:mm:ss"));
}
QString date(const QDateTime& t)
{
    return t.toString(QStringLiteral("yy/MM/dd"));
}
QString time(const QDateTime& t)
{
    return t.toString(QStringLiteral("HH:mm:ss"));
}
QString dataLog(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

std::optional<QDateTime> parseDateAndTime(const QString& dateText, const QString& timeText)
{
    static const QRegularExpression dateRe(QStringLiteral("^\\s*(\\d{2}|\\d{4})/(\\d{1,2})/(\\d{1,2})\\s*$"));
    static const QRegularExpression timeRe(QStringLiteral("^\\s*(\\d{1,2}):(\\d{1,2}):(\\d{1,2})\\s*$"));
    const auto d = dateRe.match(dateText);
    const auto t = timeRe.match(timeText);
    if (!d.hasMatch() || !t.hasMatch())
        return std::nullopt;
    int year = d.captured(1).toInt();
    if (d.captured(1).size() == 2)
        year += 2000;
    const QDate day(year, d.captured(2).toInt(), d.captured(3).toInt());
    const QTime clock(t.captured(1).toInt(), t.captured(2).toInt(), t.captured(3).toInt());
    if (!day.isValid() || !clock.isValid())
        return std::nullopt;
    return QDateTime(day, clock);
}

std::optional<QDateTime> parseGeneral(const QString& text)
{
    const qsizetype space = text.indexOf(u' ');
    if (space < 0)
        return std::nullopt;
    return parseDateAndTime(text.left(space), text.mid(space + 1));
}

QDateTime addCycle(const QDateTime& t, int count, const QString& unitLetter)
{
    const QString u = unitLetter.toLower();
    if (u == QStringLiteral("h"))
        return t.addSecs(qint64(count) * 3600);
    if (u == QStringLiteral("n"))
        return t.addSecs(qint64(count) * 60);
    if (u == QStringLiteral("s"))
        return t.addSecs(count);
    return t;
}

int duePrefixLength(const QString& unitLetter)
{
    const QString u = unitLetter.toLower();
    if (u == QStringLiteral("h"))
        return 11;
    if (u == QStringLiteral("n"))
        return 14;
    return 17;
}

} // namespace DateText
