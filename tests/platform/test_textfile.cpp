#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {
// Runs body in a child process with the default signal handling and a watchdog, and returns
// how the child ended: its exit code, or 128 + the signal that killed it.
template <typename Body> int inChild(Body body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        alarm(10);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
} // namespace

TEST(TextFile, FullDiskCostsNeitherALineNorTheStation)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("DataFile000.csv"));
    const QString settings = dir.filePath(QStringLiteral("sysinf001.csv"));
    ASSERT_TRUE(TextFile::append(path, QStringLiteral("2026/12/08 08:56:45, 197\r\n")));
    ASSERT_TRUE(TextFile::writeWhole(settings, QStringLiteral("old\r\n")));
    const int code = inChild([&] {
        // A file size limit stands in for a full disk; the signal is left as a station has it.
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 40;
        setrlimit(RLIMIT_FSIZE, &small);
        if (TextFile::append(path, QStringLiteral("2026/12/08 08:56:46, 198\r\n")))
            return 1;
        if (TextFile::writeWhole(settings, QStringLiteral("a new text longer than the limit allows\r\n")))
            return 2;
        setrlimit(RLIMIT_FSIZE, &old);
        return TextFile::append(path, QStringLiteral("2026/12/08 08:56:47, 199\r\n")) ? 0 : 3;
    });
    EXPECT_EQ(code, 0) << "153 is death by SIGXFSZ";
    EXPECT_EQ(fileBytes(path), QByteArray("2026/12/08 08:56:45, 197\r\n2026/12/08 08:56:47, 199\r\n"));
    EXPECT_EQ(fileBytes(settings), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"DataFile000.csv", "sysinf001.csv"}));
}

TEST(TextFile, ReadsOnlyRegularFilesOfSaneSize)
{
    QTemporaryDir dir;
    const QByteArray d = QFile::encodeName(dir.path());
    const QString fifo = dir.filePath(QStringLiteral("fifo.csv"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    const QString zero = dir.filePath(QStringLiteral("zero.csv"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    const QString big = dir.filePath(QStringLiteral("big.csv"));
    const QString limit = dir.filePath(QStringLiteral("limit.csv"));
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(TextFile::kMaxReadBytes + 1)); // sparse: costs no disk
        QFile g(limit);
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        ASSERT_TRUE(g.resize(TextFile::kMaxReadBytes));
    }
    // In a child with a watchdog: an open of the FIFO or a read of /dev/zero would never end.
    const int code = inChild([&] {
        int failures = 0;
        for (const QString& p : {fifo, zero, big, dir.path()})
            failures += TextFile::readLines(p) ? 1 : 0;
        const auto atLimit = TextFile::readBytes(limit);
        if (!atLimit || atLimit->size() != TextFile::kMaxReadBytes)
            ++failures;
        return failures;
    });
    EXPECT_EQ(code, 0) << "a count of wrong answers, or 128 + the signal that ended the reader";
}
