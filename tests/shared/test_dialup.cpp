// Dial-up through the wrapper with a scripted NetworkManager, and the nmcli backend against a
// stand-in nmcli script.

#include "FakeDialUp.h"
#include "Station.h"
#include "VBRas32.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(DialUp, CloseWithoutOpenDoesNothing)
{
    Station st;
    FakeDialUp dial;
    st.comm.RasBackend = &dial;
    st.comm.DialUpClose();
    EXPECT_TRUE(dial.calls.isEmpty());
    EXPECT_FALSE(st.comm.RasLink);
}

TEST(DialUp, AFailedDialReturnsItsCodeAndLeavesNoConnection)
{
    Station st;
    FakeDialUp dial;
    dial.dialResult = DialUpError::AuthenticationFailed;
    st.comm.RasBackend = &dial;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(st.comm.DialUpOpen("isp", "u", "p"), DialUpError::AuthenticationFailed);
    EXPECT_GE(clock.elapsed(), 2900); // the pause after a failed dial stays
    ASSERT_TRUE(st.comm.RasLink);
    EXPECT_EQ(st.comm.RasLink->Connection(), 0);
    EXPECT_FALSE(st.comm.RasLink->ErrMsg(DialUpError::AuthenticationFailed).isEmpty());
    st.comm.DialUpClose(); // released without a hang-up
    EXPECT_EQ(dial.calls, QStringList({"dial isp u"}));
    EXPECT_FALSE(st.comm.RasLink);
    EXPECT_EQ(st.comm.DialUpOpen("nowhere", "u", "p"), DialUpError::EntryNotFound);
}

TEST(DialUp, DialHangUpAndTheListsOfEntriesAndConnections)
{
    FakeDialUp dial;
    dial.profiles = {"isp", "backup"};
    VBRas32 ras(&dial);
    ras.PauseMs = 10;
    EXPECT_EQ(ras.EntryCount(), 2);
    EXPECT_EQ(ras.EnumEntries(1), QStringLiteral("backup"));
    EXPECT_EQ(ras.EnumEntries(2), QString());
    int completes = 0, errors = 0;
    QObject::connect(&ras, &VBRas32::ConnectComplete, [&] { ++completes; });
    QObject::connect(&ras, &VBRas32::ConnectError, [&](int32_t) { ++errors; });
    EXPECT_FALSE(ras.SeekEnumConns("isp", true)); // nothing open: nothing changed
    EXPECT_FALSE(ras.Entry);
    ras.setText(ras.Entry, "isp");
    EXPECT_EQ(ras.Dialup(), 0);
    EXPECT_EQ(completes, 1);
    EXPECT_EQ(errors, 0);
    const int32_t handle = ras.Connection();
    EXPECT_NE(handle, 0);
    VBRas32 other(&dial);
    EXPECT_TRUE(other.SeekEnumConns("isp", true));
    EXPECT_EQ(other.Connection(), handle);
    EXPECT_EQ(ras.HangUp(), 0);
    EXPECT_EQ(ras.Connection(), 0);
    ras.setText(ras.Entry, "");
    EXPECT_FALSE(ras.Entry); // empty text is an absent value
}

TEST(DialUp, NmcliBackendRunsTheProfileUpAndDown)
{
    QTemporaryDir dir;
    const QString script = dir.filePath("nmcli");
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    // Records its arguments and the secrets file; "bad" is an unknown profile.
    f.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> %1/calls\n"
                           "case \"$*\" in\n"
                           " *passwd-file*) for a; do last=$a; done; cat \"$last\" >> %1/secrets;;\n"
                           "esac\n"
                           "case \"$*\" in\n"
                           " *'id bad'*) echo 'Error: unknown connection' >&2; exit 10;;\n"
                           " *--active*) printf 'isp:/org/freedesktop/NetworkManager/ActiveConnection/7\\n';;\n"
                           " *'connection show'*) printf 'isp\\nWired connection 1\\n';;\n"
                           "esac\nexit 0\n")
                .arg(dir.path())
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    NmcliDialUp nm(script);
    std::vector<QString> names;
    EXPECT_EQ(nm.entries(names), 0);
    EXPECT_EQ(names, std::vector<QString>({"isp", "Wired connection 1"}));
    int32_t handle = 0;
    EXPECT_EQ(nm.dial("isp", "u", "pw1", handle), 0);
    EXPECT_EQ(handle, 7);
    EXPECT_EQ(nm.dial("bad", "u", "pw1", handle), DialUpError::EntryNotFound);
    EXPECT_EQ(nm.hangUp(7), 0);
    QFile calls(dir.filePath("calls"));
    calls.open(QIODevice::ReadOnly);
    const QString log = QString::fromUtf8(calls.readAll());
    EXPECT_FALSE(log.contains("pw1")); // never on a command line
    EXPECT_TRUE(log.contains("connection down apath /org/freedesktop/NetworkManager/ActiveConnection/7"));
    QFile secrets(dir.filePath("secrets"));
    secrets.open(QIODevice::ReadOnly);
    EXPECT_TRUE(secrets.readAll().contains("ppp.password:pw1"));
    NmcliDialUp missing(dir.filePath("no-such-program"));
    EXPECT_EQ(missing.entries(names), DialUpError::ServiceUnavailable);
}
