#include "InstanceLock.h"
#include "Lamps.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
