// The launcher's folder choice, first-use preparation and start, each in a temporary home.

#include "Launch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class TempHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/talveron-launch-test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home = pattern;
        env.home = home.string();
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(home, fs::perms::owner_all, ec);
        fs::remove_all(home, ec);
    }
    void write(const fs::path& file, const std::string& text)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    Launch::Choice choose(const Launch::Arguments& args = {}) { return Launch::ChooseFolder(args, env, home / "cwd"); }

    fs::path home;
    Launch::Environment env;
};

using FolderChoice = TempHome;

TEST_F(FolderChoice, DefaultsFollowHomeAndAbsoluteXdgVariables)
{
    EXPECT_EQ(choose().folder, home / ".local/share/talveron/station");
    env.xdgDataHome = (home / "data").string();
    EXPECT_EQ(choose().folder, home / "data/talveron/station");
    env.xdgDataHome = "relative/data"; // to be ignored, as if unset
    EXPECT_EQ(choose().folder, home / ".local/share/talveron/station");

    env.xdgConfigHome = (home / "conf").string();
    write(home / "conf/talveron/station-folder", "/srv/upload-station\n");
    EXPECT_EQ(choose().folder, fs::path("/srv/upload-station"));
    EXPECT_TRUE(choose().error.empty());
}

TEST_F(FolderChoice, ConfigLineNamesTheFolder)
{
    const fs::path config = home / ".config/talveron/station-folder";
    write(config, (home / "stations/upload").string() + "\r\nignored second line\n");
    EXPECT_EQ(choose().folder, home / "stations/upload");
    write(config, "~/stations/download"); // no line end
    EXPECT_EQ(choose().folder, home / "stations/download");
    write(config, (home / "with blank ").string() + "\n"); // blanks may be part of the name
    EXPECT_EQ(choose().folder, home / "with blank ");
}

TEST_F(FolderChoice, UnusableConfigLinesAreErrorsNamingTheFile)
{
    const fs::path config = home / ".config/talveron/station-folder";
    for (const std::string& text : {std::string(""), std::string("\n/elsewhere\n"), std::string("stations/upload\n"),
                                    std::string(" /leading-blank\n")}) {
        write(config, text);
        const Launch::Choice c = choose();
        EXPECT_TRUE(c.folder.empty()) << text;
        EXPECT_NE(c.error.find(config.string()), std::string::npos) << c.error;
    }
    fs::remove(config);
    fs::create_directory(config); // a folder where the file should be
    EXPECT_FALSE(choose().error.empty());
}

// Config files and folders the launcher must refuse at once, without growing or waiting.
TEST_F(FolderChoice, HostileConfigFilesAndForeignFoldersAreRefused)
{
    const fs::path config = home / ".config/talveron/station-folder";
    const fs::path open = home / "open", theirs = home / "theirs";
    fs::create_directories(open);
    fs::permissions(open, fs::perms::all);
    fs::create_directories(theirs);
    fs::create_directories(config.parent_path());
    const bool root = ::geteuid() == 0; // as another user, "/" is another owner's
    ASSERT_TRUE(!root || ::chown(theirs.c_str(), 65534, 65534) == 0);
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"FIFO", [&] { ::mkfifo(config.c_str(), 0600); }},
        {"/dev/zero", [&] { fs::create_symlink("/dev/zero", config); }},
        {"NUL", [&] { write(config, (home / "a").string() + std::string(1, '\0') + "b\n"); }},
        {"long", [&] { write(config, "/" + std::string(5000, 'a') + "\n"); }},
        {"writable", [&] { write(config, open.string() + "\n"); }},
        {"another owner", [&] { write(config, (root ? theirs : fs::path("/")).string() + "\n"); }},
    };
    ::alarm(10); // a hang ends the test
    for (const auto& [what, make] : cases) {
        fs::remove(config);
        make();
        EXPECT_FALSE(choose().error.empty()) << what;
    }
    ::alarm(0);
}

TEST_F(FolderChoice, AFileIsNotAStationFolder)
{
    write(home / "notes.txt", "x");
    write(home / ".config/talveron/station-folder", (home / "notes.txt").string() + "\n");
    const Launch::Choice c = choose();
    EXPECT_TRUE(c.folder.empty());
    EXPECT_NE(c.error.find("ファイルです"), std::string::npos) << c.error;
}

TEST_F(FolderChoice, FolderOptionWinsOverABrokenConfig)
{
    write(home / ".config/talveron/station-folder", "relative\n");
    Launch::Arguments args;
    args.folder = "second";
    EXPECT_EQ(choose(args).folder, home / "cwd/second");
    args.folder = "/srv/station2/../station3";
    EXPECT_EQ(choose(args).folder, fs::path("/srv/station3"));
}

TEST_F(FolderChoice, NoHomeIsAnError)
{
    env.home.clear();
    EXPECT_FALSE(choose().error.empty());
    env.home = "relative-home";
    EXPECT_FALSE(choose().error.empty());
}

TEST(LaunchArguments, FolderOptionAndMistakes)
{
    EXPECT_EQ(Launch::ParseArguments({"--folder", "/a"}).folder, "/a");
    EXPECT_EQ(Launch::ParseArguments({"--folder=/b c"}).folder, "/b c");
    EXPECT_TRUE(Launch::ParseArguments({"--help"}).help);
    EXPECT_FALSE(Launch::ParseArguments({}).folder);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--folder"}, {"--folder="}, {"--folder", "/a", "--folder", "/b"}, {"/a"}, {"-f"}})
        EXPECT_FALSE(Launch::ParseArguments(bad).error.empty()) << bad.front();
}

using FirstUse = TempHome;

TEST_F(FirstUse, MakesTheFolderOwnerOnlyWithTheLamps)
{
    const fs::path folder = home / "a/b/station";
    const Launch::Preparation p = Launch::PrepareFolder(folder);
    ASSERT_TRUE(p.error.empty()) << p.error;
    EXPECT_TRUE(p.created);
    EXPECT_TRUE(p.warning.empty());
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    for (const char* lamp : {"ledON.ico", "ledOFF.ico", "ledON2.ico", "ledWAIT.ico"})
        EXPECT_GT(fs::file_size(folder / lamp), 0u) << lamp;
}

TEST_F(FirstUse, AnExistingFolderIsLeftAsItIs)
{
    const fs::path folder = home / "station";
    write(folder / "ledON.ico", "operator's own");
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    const Launch::Preparation p = Launch::PrepareFolder(folder);
    EXPECT_TRUE(p.error.empty());
    EXPECT_FALSE(p.created);
    std::ifstream in(folder / "ledON.ico");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "operator's own");
    EXPECT_FALSE(fs::exists(folder / "ledOFF.ico"));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

TEST_F(FirstUse, AFolderThatCannotBeMadeIsAnError)
{
    write(home / "plain-file", "x");
    Launch::Preparation p = Launch::PrepareFolder(home / "plain-file/station");
    EXPECT_FALSE(p.error.empty());
    EXPECT_NE(p.error.find("plain-file/station"), std::string::npos) << p.error;
}

TEST_F(FirstUse, AFolderInAReadOnlyPlaceIsAnError)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    fs::create_directory(home / "locked");
    fs::permissions(home / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const Launch::Preparation p = Launch::PrepareFolder(home / "locked/station");
    EXPECT_NE(p.error.find("locked/station"), std::string::npos) << p.error;
    EXPECT_FALSE(fs::exists(home / "locked/station"));
}

using Start = TempHome;

TEST_F(Start, TheStationRunsInItsFolderInPlaceOfTheLauncher)
{
    const fs::path station = home / "bin/talveron";
    const fs::path folder = home / "station folder";
    const fs::path seen = home / "seen";
    write(station, "#!/bin/sh\necho \"$0 $# $(pwd -P)\" > '" + seen.string() + "'\n");
    fs::permissions(station, fs::perms::owner_all);
    fs::create_directories(folder);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Launch::StartStation(station, folder);
        ::_exit(99); // only reached when the start failed
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(seen);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, station.string() + " 0 " + fs::canonical(folder).string());
}

TEST_F(Start, AMissingStationOrFolderIsSaidAndNothingChanges)
{
    const fs::path before = fs::current_path();
    EXPECT_NE(Launch::StartStation(home / "bin/talveron", home).find("bin/talveron"), std::string::npos);
    write(home / "bin/not-executable", "x");
    EXPECT_FALSE(Launch::StationProblem(home / "bin/not-executable").empty());
    EXPECT_FALSE(Launch::StationProblem(home / "bin").empty()); // a folder is no program
    write(home / "bin/talveron", "#!/bin/sh\n");
    fs::permissions(home / "bin/talveron", fs::perms::owner_all);
    EXPECT_TRUE(Launch::StationProblem(home / "bin/talveron").empty());
    EXPECT_NE(Launch::StartStation(home / "bin/talveron", home / "gone").find("gone"), std::string::npos);
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_EQ(Launch::StationBeside("/usr/bin/talveron-launch"), fs::path("/usr/bin/talveron"));
}

// The built launcher has no station beside it: it must say so, fail, and make no folder.
TEST_F(Start, TheLauncherReportsFailureWithoutAScreen)
{
    const std::string command = "env -i HOME='" + home.string() +
                                "' QT_QPA_PLATFORM=offscreen " TALVERON_LAUNCH_PATH " 2>'" + (home / "err").string() +
                                "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(home / "err");
    const std::string err(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(err.find("talveron-launch: ステーションのプログラム"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(home / ".local/share/talveron"));

    const std::string bad = "env -i HOME=/x " TALVERON_LAUNCH_PATH " --nonsense 2>/dev/null";
    const int badStatus = std::system(bad.c_str());
    EXPECT_EQ(WEXITSTATUS(badStatus), 1);
}

// Autostart: a user service that runs the launcher with --start and restarts a station that
// fails; an XDG autostart entry where systemctl cannot; off takes both away.
TEST_F(Start, AutostartIsAUserServiceOrADesktopEntryAndOffRemovesIt)
{
    const fs::path calls = home / "calls";
    write(home / "fake/systemctl", "#!/bin/sh\necho \"$*\" >> '" + calls.string() + "'\n[ -e '" +
                                       (home / "nobus").string() + "' ] && exit 1\nexit 0\n");
    fs::permissions(home / "fake/systemctl", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", ((home / "fake").string() + ":" + path).c_str(), 1);
    const fs::path folder = home / "st 1%";
    const Launch::Autostart files = Launch::AutostartFiles(env);
    const auto read = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_TRUE(Launch::SetAutostart(true, "/usr/bin/talveron-launch", folder, env).error.empty());
    const std::string unit = read(files.service);
    EXPECT_NE(unit.find("ExecStart=\"/usr/bin/talveron-launch\" --folder \"" + home.string() + "/st 1%%\" --start\n"),
              std::string::npos)
        << unit;
    EXPECT_NE(unit.find("Restart=on-failure\n"), std::string::npos);
    EXPECT_NE(unit.find("WantedBy=graphical-session.target\n"), std::string::npos);
    EXPECT_EQ(read(calls), "--user daemon-reload\n--user enable talveron.service\n");
    write(home / "nobus", "");
    EXPECT_NE(Launch::SetAutostart(true, "/usr/bin/talveron-launch", folder, env).said.find("起動し直す"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(files.service));
    EXPECT_NE(read(files.entry).find("Exec=\"/usr/bin/talveron-launch\" --folder"), std::string::npos);
    EXPECT_TRUE(Launch::SetAutostart(false, "/usr/bin/talveron-launch", folder, env).error.empty());
    EXPECT_FALSE(fs::exists(files.entry));
    ::setenv("PATH", path.c_str(), 1);
}

} // namespace
