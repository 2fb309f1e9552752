#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {
QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
} // namespace

TEST(TextFile, WritesCp932AndReadsItBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    const QString text = QStringLiteral("名称,ＩＰ,ｱｲｳ,～\r\nabc\r\n");
    ASSERT_TRUE(TextFile::writeWhole(path, text));
    EXPECT_EQ(fileBytes(path), QByteArray("\x96\xbc\x8f\xcc,\x82\x68\x82\x6f,\xb1\xb2\xb3,\x81\x60\r\nabc\r\n"));
    const auto lines = TextFile::readLines(path);
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, QStringList({QStringLiteral("名称,ＩＰ,ｱｲｳ,～"), QStringLiteral("abc")}));
}

TEST(TextFile, SplitsOnEveryKindOfLineEnd)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    ASSERT_TRUE(TextFile::writeWholeBytes(path, "a\r\nb\nc\rd\r\n\r\n"));
    EXPECT_EQ(*TextFile::readLines(path), QStringList({"a", "b", "c", "d", ""}));
    ASSERT_TRUE(TextFile::writeWholeBytes(path, "last line without end"));
    EXPECT_EQ(*TextFile::readLines(path), QStringList({"last line without end"}));
}

TEST(TextFile, RejectsBytesThatAreNotCp932)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    ASSERT_TRUE(TextFile::writeWholeBytes(path, "ok\r\n\x81\x20\xff\xfe\r\n"));
    EXPECT_FALSE(TextFile::readLines(path));
    EXPECT_FALSE(TextFile::readLines(dir.filePath(QStringLiteral("missing.txt"))));
}

TEST(TextFile, UnencodableCharactersBecomeQuestionMarks)
{
    EXPECT_EQ(TextFile::encode(QStringLiteral("a\u00e9b")), QByteArray("a?b"));
}

TEST(TextFile, FailedWriteLeavesTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    ASSERT_TRUE(TextFile::writeWhole(path, QStringLiteral("old\r\n")));

    // A file size limit stands in for a full disk, and works even for root.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4;
    setrlimit(RLIMIT_FSIZE, &small);
    QString error;
    const bool ok = TextFile::writeWhole(path, QStringLiteral("a much longer new text\r\n"), &error);
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(fileBytes(path), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"t.txt"})); // no temporary left behind

    EXPECT_FALSE(TextFile::writeWhole(dir.filePath(QStringLiteral("no/such/dir.txt")), QStringLiteral("x")));
}

TEST(TextFile, AppendCreatesThenAppends)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    ASSERT_TRUE(TextFile::append(path, QStringLiteral("一\r\n")));
    ASSERT_TRUE(TextFile::append(path, QStringLiteral("2\r\n")));
    EXPECT_EQ(fileBytes(path), QByteArray("\x88\xea\r\n2\r\n"));
}
