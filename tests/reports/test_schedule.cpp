// Reports made by themselves: at 00:05 and on the 1st, a missed run caught up at start, and the
// PDF mailed as an attachment that Python's email package reads back byte for byte.

#include "PyServer.h"
#include "platform/SmtpControl.h"
#include "reports/ReportSchedule.h"
#include "SmtpServer.h"
#include "Station.h"
#include "SysInfWriter.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

void waitDone(ReportSchedule& schedule, int limitMs = 60000)
{
    QDeadlineTimer deadline(limitMs);
    while (schedule.busy() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QStringList reports(Station& st)
{
    return QDir(st.path("reports")).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
}

} // namespace

TEST(ReportSchedule, MakesYesterdaysAndLastMonthsAndMailsThem)
{
    SmtpServer server;
    ASSERT_TRUE(server.ready());
    SmtpControl smtp; // outlives the station's mail worker
    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({UnitRow{QStringLiteral("ポンプ")}}));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    st.writeBytes("DataFile000.csv", "2026/11/30 10:00:00, 5, 6, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 22\r\n");
    st.comm.alarms().setSmtp(&smtp);
    auto mail = st.comm.inet().InternetSettings();
    mail.SMTPServerName = server.address();
    mail.SendMailName = QStringLiteral("station@example.jp");
    st.comm.inet().Commit(mail);
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|山田"}));
    st.writeBytes("ReportInf.ini", "Daily=1\r\nMonthly=1\r\nMail=1\r\n");

    ReportSchedule schedule(st.comm);
    st.clock.set(QDateTime(QDate(2026, 12, 1), QTime(0, 4)));
    schedule.start(); // before 00:05: the day before yesterday's, the month before last
    waitDone(schedule);
    waitDone(schedule);
    EXPECT_EQ(reports(st), QStringList({"daily-2026-11-29.pdf", "monthly-2026-10.pdf"}));
    st.clock.set(QDateTime(QDate(2026, 12, 1), QTime(0, 5)));
    schedule.check();
    waitDone(schedule);
    waitDone(schedule);
    EXPECT_EQ(reports(st), QStringList({"daily-2026-11-29.pdf", "daily-2026-11-30.pdf", "monthly-2026-10.pdf",
                                        "monthly-2026-11.pdf"}));
    schedule.check(); // nothing more is due
    EXPECT_FALSE(schedule.busy());
    ASSERT_TRUE(st.waitForMail());
    ASSERT_EQ(server.count(), 4);
    int n = 1; // the mails go in the order the reports were made
    while (n < 4 && server.parsed(n)["subject"].toString() != QStringLiteral("日報 2026/11/30"))
        ++n;
    const QJsonObject m = server.parsed(n);
    EXPECT_EQ(m["subject"].toString(), QStringLiteral("日報 2026/11/30"));
    EXPECT_EQ(m["to"].toString(), QStringLiteral("山田 <a@example.jp>"));
    EXPECT_EQ(m["content_type"].toString(), QStringLiteral("multipart/mixed"));
    EXPECT_TRUE(m["body"].toString().contains(QStringLiteral("日報 2026/11/30 を送ります。")));
    const QJsonArray files = m["attachments"].toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0]["filename"].toString(), QStringLiteral("daily-2026-11-30.pdf"));
    EXPECT_EQ(files[0]["content_type"].toString(), QStringLiteral("application/pdf"));
    EXPECT_EQ(QByteArray::fromBase64(files[0]["bytes"].toString().toLatin1()),
              st.readBytes("reports/daily-2026-11-30.pdf"));
    EXPECT_TRUE(server.raw(n).contains("Subject: =?ISO-2022-JP?B?"));

    // Down over the next 00:05: the run is made at the next start.
    ReportSchedule later(st.comm);
    st.clock.set(QDateTime(QDate(2026, 12, 2), QTime(9, 30)));
    later.start();
    waitDone(later);
    EXPECT_TRUE(reports(st).contains(QStringLiteral("daily-2026-12-01.pdf")));
    EXPECT_TRUE(st.waitForMail());
}
