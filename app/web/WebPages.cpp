// The pages' JSON.

#include "web/WebPages.h"

#include "history/AlarmHistory.h"
#include "shared/AlarmJournal.h"
#include "shared/InetInf.h"
#include "shared/SysInf.h"
#include "shared/TableWords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace WebPages {

namespace {

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

QString ModeText(int kind)
{
    switch (CommModeKind(kind)) {
    case CommModeKind::InternetUpload:
        return QStringLiteral("インターネット（アップロード）");
    case CommModeKind::InternetDownload:
        return QStringLiteral("インターネット（ダウンロード）");
    case CommModeKind::LanDownload:
        return QStringLiteral("ＬＡＮ（ダウンロード）");
    case CommModeKind::LanUpload:
        return QStringLiteral("ＬＡＮ（アップロード）");
    case CommModeKind::PlainLan:
        return QStringLiteral("ＬＡＮ");
    }
    return QString();
}

QByteArray StationJson(const SysInf& sys, const QString& mode, bool running)
{
    QJsonArray units;
    for (int u = 0; u < std::min(sys.unitCount(), 100); ++u) {
        if (!sys.HoldsUnit(u))
            continue;
        QJsonArray inputs;
        for (int c = ColRA0; c < ColRB0 + 8; ++c)
            inputs.append(sys.cell(u, c));
        units.append(QJsonObject{
            {QStringLiteral("unit"), u},
            {QStringLiteral("name"), sys.cell(u, ColName)},
            {QStringLiteral("monitored"), sys.cell(u, ColControl) == TableWord::On},
            {QStringLiteral("inputs"), inputs},
            {QStringLiteral("condition"), sys.cell(u, ColArm) == TableWord::Non ? QString() : sys.cell(u, ColArm)},
        });
    }
    return compact(
        {{QStringLiteral("mode"), mode}, {QStringLiteral("running"), running}, {QStringLiteral("units"), units}});
}

QByteArray AlarmsJson(const QString& journalPath, int unit, int period, const QDateTime& now)
{
    const int hours = History::PeriodHours[size_t(period)];
    bool older = false;
    const auto shown = History::Filter(AlarmJournal::Read(journalPath, 16 * 1024 * 1024, &older), unit,
                                       hours ? now.addSecs(-qint64(hours) * 3600) : QDateTime());
    QJsonArray rows;
    for (size_t i = 0; i < shown.size() && i < size_t(MaxAlarmRows); ++i) {
        const JournalEntry& e = shown[i];
        rows.append(QJsonObject{
            {QStringLiteral("time"), e.time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))},
            {QStringLiteral("unit"), e.unit},
            {QStringLiteral("name"), e.name},
            {QStringLiteral("event"), e.event},
            {QStringLiteral("condition"), e.condition},
        });
    }
    return compact({{QStringLiteral("entries"), rows},
                    {QStringLiteral("total"), qint64(shown.size())},
                    {QStringLiteral("older"), older}});
}

std::optional<DataLog::Seconds> SpanSeconds(const QString& span)
{
    if (span == QStringLiteral("1h"))
        return 3600;
    if (span == QStringLiteral("24h"))
        return 24 * 3600;
    if (span == QStringLiteral("7d"))
        return 7 * 24 * 3600;
    return std::nullopt;
}

QByteArray TrendJson(const QString& workDir, int unit, DataLog::Seconds span, int columns, DataLog::Seconds now,
                     const std::vector<ChannelLine>& lines)
{
    std::array<const ChannelLine*, DataLog::Channels> named{};
    QJsonArray captions;
    for (const ChannelLine& l : lines)
        if (l.unit == unit && l.analogue()) {
            named[size_t(l.channel)] = &l;
            captions.append(QJsonObject{{QStringLiteral("channel"), l.channel},
                                        {QStringLiteral("caption"), l.caption()},
                                        {QStringLiteral("decimals"), l.decimals}});
        }
    const DataLog::Seconds from = now - span + 1;
    const DataLog::Range range = DataLog::ReadUnit(workDir, unit, from, now, columns, now);
    // Times go out as milliseconds since the epoch, the chart's own scale.
    const auto ms = [](DataLog::Seconds s) { return DataLog::fromSeconds(s).toMSecsSinceEpoch(); };
    QJsonArray buckets;
    for (const DataLog::Bucket& b : range.buckets) {
        QJsonArray low, high;
        for (int c = 0; c < DataLog::Channels; ++c) {
            const ChannelLine* l = named[size_t(c)];
            if (!l) {
                low.append(b.min[size_t(c)]);
                high.append(b.max[size_t(c)]);
                continue;
            }
            // A falling scale turns the least reading into the greatest value.
            const double a = l->rounded(b.min[size_t(c)]), z = l->rounded(b.max[size_t(c)]);
            low.append(std::min(a, z));
            high.append(std::max(a, z));
        }
        buckets.append(QJsonArray{ms(b.start), low, high});
    }
    return compact({{QStringLiteral("from"), ms(from)},
                    {QStringLiteral("to"), ms(now)},
                    {QStringLiteral("width"), qint64(range.width)},
                    {QStringLiteral("lines"), qint64(range.lines)},
                    {QStringLiteral("captions"), captions},
                    {QStringLiteral("buckets"), buckets}});
}

QByteArray LoginPage(const QString& message)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                          "<title>ログイン - Talveron</title><link rel=\"stylesheet\" href=\"/app.css\"></head>"
                          "<body><main class=\"login\"><h1>Talveron</h1>"
                          "<form method=\"post\" action=\"/login\"><label for=\"password\">パスワード</label>"
                          "<input id=\"password\" name=\"password\" type=\"password\" autocomplete=\"current-password\""
                          " required autofocus><button id=\"login\" type=\"submit\">ログイン</button></form>"
                          "<p class=\"error\" id=\"message\">%1</p></main></body></html>\n")
        .arg(message.toHtmlEscaped())
        .toUtf8();
}

} // namespace WebPages
