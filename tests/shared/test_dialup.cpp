// Dial-up through the wrapper with a scripted NetworkManager, and the nmcli backend against a
// stand-in nmcli script.

#include "FakeDialUp.h"
#include "Station.h"
#include "shared/DialUpLine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Lets events run until the line is down again (or 5 s have gone).
void untilDown(DialUpLine& line)
{
    QDeadlineTimer deadline(5000);
    while ((line.state() != DialUpLine::State::Down || line.leases() > 0) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

void untilAnswered(const std::vector<int32_t>& answers, size_t n)
{
    QDeadlineTimer deadline(5000);
    while (answers.size() < n && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

// A stand-in nmcli in dir that records its arguments in dir/calls and then runs cases ("%1" is dir).
QString standInNmcli(const QTemporaryDir& dir, const QString& cases)
{
    const QString script = dir.filePath("nmcli");
    QFile f(script);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> %1/calls\n").arg(dir.path()).toUtf8() +
            QString(cases).replace(QStringLiteral("%1"), dir.path()).toUtf8() + "exit 0\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

QString fileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

TEST(DialUpLine, ReleaseWithoutALeaseDoesNothing)
{
    Station st;
    FakeDialUp dial;
    st.comm.setDialUpBackend(&dial);
    st.comm.dialUpLine().release();
    st.comm.dialUpLine().release();
    EXPECT_EQ(st.comm.dialUpLine().leases(), 0);
    EXPECT_TRUE(dial.calls.isEmpty());
}

TEST(DialUpLine, LeasesShareOneDialAndTheLastOneHangsUp)
{
    Station st;
    FakeDialUp dial;
    st.comm.setDialUpBackend(&dial);
    DialUpLine& line = st.comm.dialUpLine();
    line.PauseMs = 10;
    std::vector<int32_t> answers;
    QObject context;
    line.acquire("isp", "u", "p", &context, [&](int32_t rc) { answers.push_back(rc); }); // the mail
    line.acquire("isp", "u", "p", &context, [&](int32_t rc) { answers.push_back(rc); }); // a relay slot
    EXPECT_TRUE(answers.empty()); // never answered inside the call
    untilAnswered(answers, 2);
    EXPECT_EQ(answers, std::vector<int32_t>({0, 0}));
    line.release(); // one slot stops: the other user keeps the line
    EXPECT_EQ(line.state(), DialUpLine::State::Up);
    line.acquire("isp", "u", "p", &context, [&](int32_t rc) { answers.push_back(rc); });
    untilAnswered(answers, 3);
    EXPECT_EQ(answers.back(), 0);
    line.release();
    line.release();
    untilDown(line);
    EXPECT_EQ(dial.calls, QStringList({"dial isp u", "hangup 40"}));
}

TEST(DialUpLine, StopsDuringAHangUpNeitherReenterNorFreeIt)
{
    Station st;
    // Hangs up only when the test lets it, as a slow modem line would, so the stops land inside it.
    struct SlowHangUp : FakeDialUp {
        std::atomic<bool> go{false};
        int32_t hangUp(int32_t handle) override
        {
            while (!go)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return FakeDialUp::hangUp(handle);
        }
        void cancel() override { go = true; }
    } dial;
    st.comm.setDialUpBackend(&dial);
    DialUpLine& line = st.comm.dialUpLine();
    line.PauseMs = 10;
    std::vector<int32_t> answers;
    line.acquire("isp", "u", "p", nullptr, {});
    line.acquire("isp", "u", "p", &line, [&](int32_t rc) { answers.push_back(rc); });
    untilAnswered(answers, 1);
    line.release();
    line.release(); // the hang-up starts
    EXPECT_EQ(line.state(), DialUpLine::State::HangingUp);
    line.release(); // a second stop inside it
    line.release();
    // A new user during the hang-up gets a fresh dial once the line has settled.
    line.acquire("isp", "u", "p", &line, [&](int32_t rc) { answers.push_back(rc); });
    // Events run while the hang-up is still out; then the line lets it end.
    QDeadlineTimer held(20);
    while (!held.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(line.state(), DialUpLine::State::HangingUp);
    dial.go = true;
    untilAnswered(answers, 2);
    EXPECT_EQ(answers.back(), 0);
    line.release();
    untilDown(line);
    EXPECT_EQ(dial.calls, QStringList({"dial isp u", "hangup 40", "dial isp u", "hangup 40"}));
}

TEST(DialUpLine, AFailedDialAnswersItsCodeAfterTheLineSettles)
{
    Station st;
    FakeDialUp dial;
    dial.dialResult = DialUpError::AuthenticationFailed;
    st.comm.setDialUpBackend(&dial);
    DialUpLine& line = st.comm.dialUpLine();
    line.PauseMs = 10;
    std::vector<int32_t> answers;
    line.acquire("isp", "u", "p", &line, [&](int32_t rc) { answers.push_back(rc); });
    untilAnswered(answers, 1);
    EXPECT_EQ(answers, std::vector<int32_t>({DialUpError::AuthenticationFailed}));
    EXPECT_EQ(line.connection(), 0);
    line.release(); // released without a hang-up
    line.acquire("nowhere", "u", "p", &line, [&](int32_t rc) { answers.push_back(rc); });
    untilAnswered(answers, 2);
    EXPECT_EQ(answers.back(), DialUpError::EntryNotFound);
    line.release();
    untilDown(line);
    EXPECT_EQ(dial.calls, QStringList({"dial isp u", "dial nowhere u"}));
}

TEST(DialUpLine, ALeaseTakenWhileAFailedDialSettlesDialsAgain)
{
    Station st;
    FakeDialUp dial;
    dial.dialResult = DialUpError::AuthenticationFailed;
    st.comm.setDialUpBackend(&dial);
    DialUpLine& line = st.comm.dialUpLine();
    line.PauseMs = 100;
    std::vector<int32_t> first, second;
    line.acquire("isp", "u", "p", &line, [&](int32_t rc) { first.push_back(rc); });
    QDeadlineTimer limit(5000);
    while (line.state() != DialUpLine::State::Settling && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_EQ(line.state(), DialUpLine::State::Settling);
    dial.dialResult = 0;
    line.acquire("isp", "u", "p", &line, [&](int32_t rc) { second.push_back(rc); });
    untilAnswered(second, 1);
    EXPECT_EQ(first, std::vector<int32_t>({DialUpError::AuthenticationFailed}));
    EXPECT_EQ(second, std::vector<int32_t>({0}));
    line.release();
    line.release();
    untilDown(line); // before the fake goes
    EXPECT_EQ(dial.calls, QStringList({"dial isp u", "dial isp u", "hangup 40"}));
}

TEST(DialUpLine, AStationClosedWithTheLineUpHangsItUp)
{
    FakeDialUp dial;
    {
        Station st;
        st.comm.setDialUpBackend(&dial);
        std::vector<int32_t> answers;
        st.comm.dialUpLine().acquire("isp", "u", "p", &st.comm.dialUpLine(),
                                     [&](int32_t rc) { answers.push_back(rc); });
        untilAnswered(answers, 1);
    }
    EXPECT_EQ(dial.calls, QStringList({"dial isp u", "hangup 40"}));
}

TEST(DialUp, NmcliBackendRunsTheProfileUpAndDown)
{
    QTemporaryDir dir;
    // Records the secrets file too; "bad" is an unknown profile.
    const QString script = standInNmcli(
        dir, QStringLiteral("case \"$*\" in\n"
                            " *passwd-file*) for a; do last=$a; done; cat \"$last\" >> %1/secrets;;\n"
                            "esac\n"
                            "case \"$*\" in\n"
                            " *'id bad'*) echo 'Error: unknown connection' >&2; exit 10;;\n"
                            " *--active*) printf 'isp:/org/freedesktop/NetworkManager/ActiveConnection/7\\n';;\n"
                            " *'connection show'*) printf 'isp\\nWired connection 1\\n';;\n"
                            "esac\n"));
    NmcliDialUp nm(script);
    std::vector<QString> names;
    EXPECT_EQ(nm.entries(names), 0);
    EXPECT_EQ(names, std::vector<QString>({"isp", "Wired connection 1"}));
    int32_t handle = 0;
    EXPECT_EQ(nm.dial("isp", "u", "pw1", handle), 0);
    EXPECT_EQ(handle, 7);
    EXPECT_EQ(nm.dial("bad", "u", "pw1", handle), DialUpError::EntryNotFound);
    EXPECT_EQ(nm.hangUp(7), 0);
    const QString log = fileText(dir.filePath("calls"));
    EXPECT_FALSE(log.contains("pw1")); // never on a command line
    EXPECT_TRUE(log.contains("connection down apath /org/freedesktop/NetworkManager/ActiveConnection/7"));
    EXPECT_TRUE(fileText(dir.filePath("secrets")).contains("ppp.password:pw1"));
    NmcliDialUp missing(dir.filePath("no-such-program"));
    EXPECT_EQ(missing.entries(names), DialUpError::ServiceUnavailable);
}

// Closing leaves nothing dialled: a dial under way is ended and the profile it brought up goes
// down; a hang-up under way is finished, not killed, and journalled when it fails.
TEST(DialUp, ClosingEndsADialAndFinishesAHangUp)
{
    QTemporaryDir dir;
    const QString script = standInNmcli(
        dir, QStringLiteral("case \"$*\" in\n"
                            " *'connection up'*) [ -e %1/slow ] && exec sleep 30;;\n"
                            " *--active*) printf 'isp:/org/freedesktop/NetworkManager/ActiveConnection/7\\n';;\n"
                            " *'connection down'*) sleep 0.5; echo finished >> %1/calls; [ -e %1/fail ] && exit 1;;\n"
                            "esac\n"));
    const auto calls = [&] { return fileText(dir.filePath("calls")); };
    NmcliDialUp nm(script);
    ScriptedMessageBox messages;
    SetClock clock;
    for (const char* flag : {"slow", "fail"}) {
        QFile::remove(dir.filePath("calls"));
        QFile(dir.filePath(flag)).open(QIODevice::WriteOnly);
        QElapsedTimer closing;
        {
            MontComm1 comm(dir.path(), messages, clock);
            comm.setDialUpBackend(&nm);
            comm.dialUpLine().acquire("isp", "u", "p", &comm.dialUpLine(),
                                      [&](int32_t) { comm.dialUpLine().release(); });
            QDeadlineTimer limit(5000);
            while (!calls().contains(QString::fromLatin1(flag) == "slow" ? "connection up" : "connection down") &&
                   !limit.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            closing.start();
        }
        EXPECT_LT(closing.elapsed(), 3000) << flag;
        EXPECT_TRUE(calls().contains("connection down apath /org/freedesktop/NetworkManager/ActiveConnection/7"))
            << flag;
        EXPECT_TRUE(calls().endsWith("finished\n")) << flag;
        QFile::remove(dir.filePath(flag));
    }
    const auto journal = AlarmJournal::Read(dir.filePath(AlarmJournal::FileName));
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].event, QStringLiteral("回線切断失敗"));
}
