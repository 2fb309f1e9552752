#include "reports/ReportCommand.h"

#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "shared/ReportFigures.h"
#include "reports/ReportPdf.h"
#include "shared/SysInf.h"

#include <QDir>
#include <QSysInfo>
#include <cstdio>

namespace {

// No one to ask: a question is declined, a notice goes to standard error.
class NoOperator : public MessageBoxService {
public:
    Answer show(const QString& text, const QString&, Icon, Buttons buttons) override
    {
        notify(text, QString(), Icon::None);
        return buttons == Buttons::Ok ? Answer::Ok : buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    void notify(const QString& text, const QString&, Icon) override
    {
        std::fprintf(stderr, "talveron: %s\n", text.toUtf8().constData());
    }
};

int fail(const QString& why)
{
    std::fprintf(stderr, "talveron: %s\n", why.toUtf8().constData());
    return 1;
}

} // namespace

int RunReportCommand(const QStringList& a)
{
    const QString usage =
        QStringLiteral("usage: talveron --report daily YYYY-MM-DD --out DIR | --report monthly YYYY-MM --out DIR");
    if (a.size() != 5 || a[0] != QStringLiteral("--report") || a[3] != QStringLiteral("--out") || a[4].isEmpty())
        return fail(usage);
    Report::Kind kind;
    QDate date;
    if (a[1] == QStringLiteral("daily")) {
        kind = Report::Kind::Daily;
        date = QDate::fromString(a[2], QStringLiteral("yyyy-MM-dd"));
    } else if (a[1] == QStringLiteral("monthly")) {
        kind = Report::Kind::Monthly;
        date = QDate::fromString(a[2] + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd"));
    } else {
        return fail(usage);
    }
    if (!date.isValid())
        return fail(QStringLiteral("日付が正しくありません: %1").arg(a[2]));
    NoOperator messages;
    SysInf sys(QDir::currentPath(), messages);
    const Outcome loaded = sys.LoadSysInf();
    if (loaded.fault == Fault::NotLoaded)
        return fail(QStringLiteral("このフォルダーに %1 がありません").arg(sys.SysInfName()));
    if (!loaded)
        return fail(FaultText(loaded));
    if (!QDir().mkpath(a[4]))
        return fail(QStringLiteral("出力フォルダーを作れません: %1").arg(a[4]));
    SystemClock clock;
    const auto figures = Report::Make(QDir::currentPath(), sys, kind, date, Report::TableUnits(sys), clock.now());
    const Outcome written = Report::WriteReport(a[4], figures, kind, date, {QSysInfo::machineHostName(), clock.now()});
    return written ? 0 : fail(FaultText(written));
}
