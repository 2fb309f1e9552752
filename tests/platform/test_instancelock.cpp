#include "platform/InstanceLock.h"
#include "platform/Lamps.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(InstanceLock, SecondStationInTheSameDirectoryIsRefused)
{
    QTemporaryDir a, b;
    InstanceLock first(a.path());
    ASSERT_TRUE(first.acquire());
    InstanceLock second(a.path());
    EXPECT_FALSE(second.acquire());
    InstanceLock elsewhere(b.path());
    EXPECT_TRUE(elsewhere.acquire());
}

TEST(InstanceLock, ALockLeftByAStationThatDiedDoesNotBlock)
{
    QTemporaryDir dir;
    QFile stale(QDir(dir.path()).filePath(".talveron.lock"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(qint64(0x7ffffff0)) + "\ntalveron\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    stale.close();
    InstanceLock lock(dir.path());
    EXPECT_TRUE(lock.acquire());
}

TEST(InstanceLock, WhatTheFileHoldsNeverMatters)
{
    for (const QByteArray& content : {QByteArray(), QByteArray("\xff\x00garbage\n"), QByteArray("12")}) {
        QTemporaryDir dir;
        QFile f(QDir(dir.path()).filePath(".talveron.lock"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        InstanceLock lock(dir.path());
        EXPECT_TRUE(lock.acquire()) << content.toHex().toStdString();
        InstanceLock second(dir.path());
        EXPECT_FALSE(second.acquire());
        EXPECT_TRUE(second.failure().isEmpty()) << "a real second start is the plain refusal";
    }
}

TEST(InstanceLock, ALockFileThatCannotBeUsedIsNamedWithItsReason)
{
    QTemporaryDir folder, link;
    const QString inFolder = QDir(folder.path()).filePath(".talveron.lock");
    ASSERT_TRUE(QDir().mkdir(inFolder));
    const QString dangling = QDir(link.path()).filePath(".talveron.lock");
    ASSERT_TRUE(QFile::link(QDir(link.path()).filePath("gone"), dangling));
    for (const QTemporaryDir* d : {&folder, &link}) {
        InstanceLock lock(d->path());
        EXPECT_FALSE(lock.acquire());
        EXPECT_TRUE(lock.failure().contains(QDir::toNativeSeparators(lock.path()))) << lock.failure().toStdString();
        EXPECT_FALSE(QFileInfo::exists(QDir(link.path()).filePath("gone"))) << "no file made through the link";
    }
    if (geteuid() != 0) { // root writes anywhere
        QTemporaryDir readOnly;
        ASSERT_EQ(chmod(QFile::encodeName(readOnly.path()).constData(), 0555), 0);
        InstanceLock lock(readOnly.path());
        EXPECT_FALSE(lock.acquire());
        EXPECT_FALSE(lock.failure().isEmpty());
        chmod(QFile::encodeName(readOnly.path()).constData(), 0755);
    }
}

TEST(InstanceLock, OfFourStartedAtOnceExactlyOneHoldsItAndItGoesWithItsProcess)
{
    for (int trial = 0; trial < 20; ++trial) {
        QTemporaryDir dir;
        int go[2], held[2], release[2];
        ASSERT_EQ(pipe(go), 0);
        ASSERT_EQ(pipe(held), 0);
        ASSERT_EQ(pipe(release), 0);
        std::vector<pid_t> kids;
        for (int k = 0; k < 4; ++k) {
            const pid_t pid = fork();
            if (pid == 0) {
                close(go[1]);
                close(release[1]);
                char b;
                (void)!read(go[0], &b, 1); // all start together when the pipe closes
                InstanceLock lock(dir.path());
                const char r = lock.acquire() ? '1' : (lock.failure().isEmpty() ? '0' : 'x');
                (void)!write(held[1], &r, 1);
                (void)!read(release[0], &b, 1); // hold it until every other has tried
                _exit(0);
            }
            kids.push_back(pid);
        }
        close(go[0]);
        close(go[1]);
        close(held[1]);
        close(release[0]);
        std::string answers;
        char b;
        pollfd p{held[0], POLLIN, 0};
        while (answers.size() < kids.size() && poll(&p, 1, 10000) == 1 && read(held[0], &b, 1) == 1)
            answers += b;
        close(release[1]);
        close(held[0]);
        for (pid_t pid : kids)
            waitpid(pid, nullptr, 0);
        std::sort(answers.begin(), answers.end());
        EXPECT_EQ(answers, "0001") << "trial " << trial;
        // Every holder has ended: the lock is free again, whatever the file still holds.
        InstanceLock after(dir.path());
        EXPECT_TRUE(after.acquire());
    }
}

TEST(Lamps, FallBackToBuiltInCopies)
{
    int argc = 0;
    QGuiApplication app(argc, nullptr);
    QTemporaryDir dir;
    EXPECT_FALSE(Lamps::load(dir.path(), Lamps::On).pixmap(16, 16).isNull());
    ASSERT_TRUE(Lamps::writeBuiltIn(dir.path()));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(Lamps::GivenUp)));
    EXPECT_FALSE(Lamps::load(dir.path(), Lamps::GivenUp).pixmap(16, 16).isNull());
}
