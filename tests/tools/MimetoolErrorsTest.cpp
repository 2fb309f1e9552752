// mimetool says what went wrong with its standard input and its arguments.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct ToolRun {
    int status = -1;
    std::string err;
};

// Runs mimetool with args; stdinFd -1 runs it with standard input closed.
ToolRun mimetool(const std::vector<std::string>& args, int stdinFd)
{
    int err[2];
    if (pipe(err) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        if (stdinFd < 0)
            close(STDIN_FILENO);
        else
            dup2(stdinFd, STDIN_FILENO);
        dup2(err[1], STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(TALVERON_MIMETOOL_PATH)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(err[1]);
    ToolRun r;
    char buf[512];
    pollfd p{err[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0) {
        const ssize_t n = read(err[0], buf, sizeof buf);
        if (n <= 0)
            break;
        r.err.append(buf, size_t(n));
    }
    close(err[0]);
    waitpid(pid, &r.status, 0);
    return r;
}

} // namespace

TEST(MimetoolErrors, StandardInputThatCannotBeReadIsNamed)
{
    for (const char* member : {"Base64Encode", "Base64Decode", "QuotedPrintableDecode"}) {
        const ToolRun closed = mimetool({member}, -1);
        EXPECT_EQ(closed.err, "mimetool: cannot read standard input: Bad file descriptor\n") << member;
        EXPECT_TRUE(WIFEXITED(closed.status) && WEXITSTATUS(closed.status) != 0);

        const int dir = open("/", O_RDONLY | O_DIRECTORY);
        const ToolRun folder = mimetool({member}, dir);
        close(dir);
        EXPECT_EQ(folder.err, "mimetool: cannot read standard input: Is a directory\n") << member;
    }
}

TEST(MimetoolErrors, TooManyArgumentsAreReportedWhateverStandardInputIs)
{
    const ToolRun r = mimetool({"Base64Encode", "extra"}, -1);
    EXPECT_EQ(r.err, "error 450: Wrong number of arguments or invalid property assignment\n");
}
