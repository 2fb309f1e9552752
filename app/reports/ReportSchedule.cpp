#include "reports/ReportSchedule.h"

#include "platform/Clock.h"
#include "shared/MontComm1.h"
#include "reports/ReportPdf.h"
#include "shared/SettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace {

const QString IniName = QStringLiteral("ReportInf.ini");

QString reportsFolder(const MontComm1& comm)
{
    return QDir(comm.workDir()).filePath(QStringLiteral("reports"));
}

QString title(Report::Kind kind, const QDate& date)
{
    return kind == Report::Kind::Daily ? QStringLiteral("日報 ") + date.toString(QStringLiteral("yyyy/MM/dd"))
                                       : QStringLiteral("月報 ") + date.toString(QStringLiteral("yyyy/MM"));
}

} // namespace

Outcome LoadReportInf(const QString& workDir, ReportSettings& settings)
{
    settings = ReportSettings{};
    QHash<QString, QString> values;
    const Outcome read = ReadKeyValues(QDir(workDir).filePath(IniName), IniName, values);
    if (!read)
        return read;
    ReportSettings s;
    s.Daily = KeyNumber(values, QStringLiteral("daily"));
    s.Monthly = KeyNumber(values, QStringLiteral("monthly"));
    s.Mail = KeyNumber(values, QStringLiteral("mail"));
    for (int v : {s.Daily, s.Monthly, s.Mail})
        if (v != 0 && v != 1)
            return Failed(Fault::SettingsFile,
                          IniName + QStringLiteral(" が読めません\nDaily・Monthly・Mail は 0 か 1 です"));
    settings = s;
    return {};
}

Outcome SaveReportInf(const QString& workDir, const ReportSettings& s)
{
    return SaveSettingsText(
        QDir(workDir).filePath(IniName), IniName,
        QStringLiteral("Daily=%1\r\nMonthly=%2\r\nMail=%3\r\n").arg(s.Daily).arg(s.Monthly).arg(s.Mail), false,
        IniName + QStringLiteral(" に書き込めません"));
}

ReportSchedule::ReportSchedule(MontComm1& comm, QObject* parent) : QObject(parent), m_comm(comm)
{
    m_timer.setInterval(60 * 1000);
    connect(&m_timer, &QTimer::timeout, this, &ReportSchedule::check);
}

ReportSchedule::~ReportSchedule()
{
    if (m_worker.joinable()) {
        *m_cancel = true; // the unit being read is finished, the rest are not begun
        m_worker.join();
    }
}

void ReportSchedule::start()
{
    m_timer.start();
    check();
}

std::optional<ReportSchedule::Due> ReportSchedule::nextDue(const ReportSettings& s) const
{
    const QDateTime now = m_comm.clock().now();
    const bool pastFive = now.time() >= QTime(0, 5);
    const QDate yesterday = now.date().addDays(pastFive ? -1 : -2);
    const QDate base = pastFive ? now.date() : now.date().addDays(-1);
    const QDate lastMonth = QDate(base.year(), base.month(), 1).addMonths(-1);
    const auto due = [&](Report::Kind kind, const QDate& date) {
        const QString pdf = Report::PdfName(kind, date);
        return !m_tried.contains(pdf) && !QFileInfo::exists(QDir(reportsFolder(m_comm)).filePath(pdf));
    };
    if (s.Daily == 1 && due(Report::Kind::Daily, yesterday))
        return Due{Report::Kind::Daily, yesterday};
    if (s.Monthly == 1 && due(Report::Kind::Monthly, lastMonth))
        return Due{Report::Kind::Monthly, lastMonth};
    return std::nullopt;
}

void ReportSchedule::check()
{
    if (busy())
        return;
    ReportSettings s;
    LoadReportInf(m_comm.workDir(), s); // a file that does not read makes nothing by itself
    const auto due = nextDue(s);
    if (!due)
        return;
    m_tried.insert(Report::PdfName(due->kind, due->date));
    // The worker has copies of what it reads: the settings windows may change the table meanwhile.
    auto sys = std::make_shared<SysInf>(m_comm.sys());
    const QString workDir = m_comm.workDir();
    const QString folder = reportsFolder(m_comm);
    const QDateTime now = m_comm.clock().now();
    m_worker = std::thread([this, sys, workDir, folder, now, d = *due, mail = s.Mail == 1, cancel = m_cancel] {
        const auto figures =
            Report::Make(workDir, *sys, d.kind, d.date, Report::TableUnits(*sys), now, {}, cancel.get());
        Outcome made = QDir().mkpath(folder)
                           ? Outcome{}
                           : Failed(Fault::SettingsFile, QStringLiteral("reports フォルダーを作れません"));
        if (made)
            made = Report::WriteReport(folder, figures, d.kind, d.date, {QSysInfo::machineHostName(), now});
        if (!*cancel)
            QMetaObject::invokeMethod(this, [this, d, made, mail] { finished(d, made, mail); });
    });
}

void ReportSchedule::finished(const Due& due, const Outcome& outcome, bool mail)
{
    m_worker.join();
    const QString pdf = QDir(reportsFolder(m_comm)).filePath(Report::PdfName(due.kind, due.date));
    if (!outcome) {
        m_comm.journal().Record(JournalEvent::ReportFailed, -1, title(due.kind, due.date), FaultText(outcome));
    } else if (mail) {
        m_comm.alarms().SendReportMail(title(due.kind, due.date),
                                       title(due.kind, due.date) + QStringLiteral(" を送ります。"), pdf);
    }
    emit reportDone(pdf, outcome.ok());
    check(); // the other kind may be due too
}
