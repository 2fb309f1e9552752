#include "Launch.h"

#include "platform/Lamps.h"

#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <fstream>
#include <system_error>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Launch {
namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A relative XDG variable is to be ignored, as if unset.
fs::path xdgBase(const std::string& value, const std::string& home, const char* fallback)
{
    if (!value.empty() && fs::path(value).is_absolute())
        return value;
    return fs::path(home) / fallback;
}

std::string quoted(const fs::path& p)
{
    return "\"" + p.string() + "\"";
}

constexpr std::size_t kConfigBytes = 4096; // far more than a path's line

// The first kConfigBytes of a regular file: a FIFO would hold the launcher in open(), a link
// to a device would feed it for ever. Opened without blocking and checked on the descriptor.
std::optional<std::string> readHead(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::string head(kConfigBytes + 1, '\0'); // a byte more tells a longer file
    std::size_t got = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        while (got < head.size()) {
            const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
    } else {
        ::close(fd);
        return std::nullopt;
    }
    ::close(fd);
    head.resize(got);
    return head;
}

// The folder the config file names. The line is taken as written: only the line end goes, since
// blanks may belong to a folder's name.
Choice fromConfigFile(const fs::path& file, const Environment& env)
{
    const auto head = readHead(file);
    if (!head)
        return {{}, quoted(file) + " を読めません（ステーションフォルダを書いておくファイルです）。"};
    const std::size_t end = head->find('\n');
    if (end == std::string::npos && head->size() > kConfigBytes)
        return {{}, quoted(file) + " の 1 行目が長すぎます。ステーションフォルダのフルパスを 1 行で書いてください。"};
    std::string line = head->substr(0, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    // A NUL would cut the path short without a word.
    if (line.find('\0') != std::string::npos)
        return {{}, quoted(file) + " の 1 行目に NUL 文字があります。ステーションフォルダのフルパスを書いてください。"};
    if (line.empty())
        return {{},
                quoted(file) +
                    " にフォルダが書かれていません。1 行目にステーションフォルダのフルパスを書くか、"
                    "このファイルを削除して " +
                    quoted(DefaultFolder(env)) + " を使ってください。"};
    fs::path folder;
    if (line == "~")
        folder = env.home;
    else if (line.rfind("~/", 0) == 0)
        folder = fs::path(env.home) / line.substr(2);
    else
        folder = line;
    if (!folder.is_absolute() || (line[0] == '~' && env.home.empty()))
        return {
            {},
            quoted(file) + " の \"" + line +
                "\" はフルパスではありません。ステーションフォルダのフルパス（/ か ~/ で始まる）を書いてください。"};
    return {folder, {}};
}

} // namespace

Environment CurrentEnvironment()
{
    return {variable("HOME"), variable("XDG_DATA_HOME"), variable("XDG_CONFIG_HOME")};
}

Arguments ParseArguments(const std::vector<std::string>& args)
{
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            parsed.help = true;
        } else if (a == "--folder" || a.rfind("--folder=", 0) == 0) {
            std::string value;
            if (a == "--folder") {
                if (i + 1 == args.size()) {
                    parsed.error = "--folder にはフォルダを指定してください。";
                    return parsed;
                }
                value = args[++i];
            } else {
                value = a.substr(9);
            }
            if (value.empty() || parsed.folder) {
                parsed.error =
                    value.empty() ? "--folder にはフォルダを指定してください。" : "--folder が 2 回指定されています。";
                return parsed;
            }
            parsed.folder = value;
        } else if (a == "--start") {
            parsed.start = true;
        } else if (a == "--autostart") {
            const std::string value = i + 1 < args.size() ? args[++i] : std::string();
            if ((value != "on" && value != "off") || parsed.autostart) {
                parsed.error = "--autostart には on か off を 1 回指定してください。";
                return parsed;
            }
            parsed.autostart = value == "on";
        } else {
            parsed.error = "不明な引数です：\"" + a + "\"";
            return parsed;
        }
    }
    return parsed;
}

fs::path ConfigFile(const Environment& env)
{
    return xdgBase(env.xdgConfigHome, env.home, ".config") / "talveron" / "station-folder";
}

fs::path DefaultFolder(const Environment& env)
{
    return xdgBase(env.xdgDataHome, env.home, ".local/share") / "talveron" / "station";
}

Choice ChooseFolder(const Arguments& args, const Environment& env, const fs::path& currentDir)
{
    Choice choice;
    if (args.folder) {
        choice.folder = fs::path(*args.folder).is_absolute() ? fs::path(*args.folder) : currentDir / *args.folder;
    } else {
        if (env.home.empty() || !fs::path(env.home).is_absolute())
            return {{}, "HOME がフルパスでないため、ステーションフォルダを置く場所がありません。"};
        const fs::path config = ConfigFile(env);
        std::error_code ec;
        const bool haveConfig = fs::exists(fs::symlink_status(config, ec));
        choice = haveConfig ? fromConfigFile(config, env) : Choice{DefaultFolder(env), {}};
        if (!choice.error.empty())
            return choice;
    }
    choice.folder = choice.folder.lexically_normal();
    std::error_code ec;
    const fs::file_status st = fs::status(choice.folder, ec);
    if (fs::exists(st) && !fs::is_directory(st))
        return {{}, "ステーションフォルダ " + quoted(choice.folder) + " はフォルダではなくファイルです。"};
    // Its settings hold passwords: a folder another user owns or can write to is not ours.
    struct stat owner {};
    if (fs::exists(st) && ::stat(choice.folder.c_str(), &owner) == 0 &&
        (owner.st_uid != ::geteuid() || (owner.st_mode & (S_IWGRP | S_IWOTH)) != 0))
        return {{},
                "ステーションフォルダ " + quoted(choice.folder) +
                    " は他のユーザーのもの、または他のユーザーも書き込めるフォルダのため使いません。"
                    "自分だけが書き込めるフォルダを指定してください。"};
    return choice;
}

Preparation PrepareFolder(const fs::path& folder)
{
    Preparation result;
    std::error_code ec;
    result.created = fs::create_directories(folder, ec);
    if (ec) {
        result.error = "ステーションフォルダ " + quoted(folder) + " を作れません：" + ec.message();
        return result;
    }
    if (!fs::is_directory(folder, ec)) {
        result.error = "ステーションフォルダ " + quoted(folder) + " はフォルダではありません。";
        return result;
    }
    if (!result.created)
        return result;
    // Its settings will hold passwords.
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    // The station has the same lamps built in, so a failure here costs nothing but the files.
    if (!Lamps::writeBuiltIn(QString::fromStdString(folder.string())))
        result.warning = quoted(folder) + " にランプの画像を書けませんでした。ステーションは内蔵の画像を使います。";
    return result;
}

fs::path StationBeside(const fs::path& launcher)
{
    return launcher.parent_path() / "talveron";
}

std::string StationProblem(const fs::path& station)
{
    const int err = ::access(station.c_str(), X_OK) == 0 ? 0 : errno;
    std::error_code ec;
    if (err != 0 || !fs::is_regular_file(station, ec))
        return "ステーションのプログラム " + quoted(station) + " がないか、実行できません" +
               (err ? std::string("：") + std::strerror(err) : std::string()) + "。";
    return {};
}

std::string StartStation(const fs::path& station, const fs::path& folder, bool start)
{
    if (std::string problem = StationProblem(station); !problem.empty())
        return problem;
    if (::chdir(folder.c_str()) != 0)
        return "ステーションフォルダ " + quoted(folder) + " に入れません：" + std::strerror(errno);
    ::setenv("PWD", folder.c_str(), 1);
    char name[] = "talveron";
    char option[] = "--start";
    char* const argv[] = {name, start ? option : nullptr, nullptr};
    ::execv(station.c_str(), argv);
    return "ステーションのプログラム " + quoted(station) + " を起動できません：" + std::strerror(errno);
}

Autostart AutostartFiles(const Environment& env)
{
    const fs::path config = xdgBase(env.xdgConfigHome, env.home, ".config");
    return {config / "systemd" / "user" / "talveron.service", config / "autostart" / "talveron.desktop"};
}

namespace {

// One argument of a unit file's or a desktop entry's command line, in double quotes.
std::string commandArgument(const std::string& text, const std::string& escaped)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '%')
            out += "%%";
        else if (escaped.find(c) != std::string::npos)
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}

std::string commandLine(const fs::path& launcher, const fs::path& folder, const std::string& escaped)
{
    return commandArgument(launcher.string(), escaped) + " --folder " + commandArgument(folder.string(), escaped) +
           " --start";
}

bool writeFile(const fs::path& path, const std::string& text, std::string& error)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        error = quoted(path) + " を書けません。";
    return bool(out);
}

// systemctl --user with the arguments given; true when it ran and said yes.
bool systemctl(std::vector<std::string> args)
{
    args.insert(args.begin(), {"systemctl", "--user"});
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp("systemctl", argv.data());
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

std::string ServiceText(const fs::path& launcher, const fs::path& folder)
{
    std::string description = folder.string();
    for (std::size_t at = description.find('%'); at != std::string::npos; at = description.find('%', at + 2))
        description.insert(at, "%");
    return "[Unit]\n"
           "Description=Talveron station in " +
           description +
           "\n"
           "After=graphical-session.target\n"
           "PartOf=graphical-session.target\n"
           "\n"
           "[Service]\n"
           "ExecStart=" +
           commandLine(launcher, folder, "\"\\") +
           "\n"
           "Restart=on-failure\n"
           "RestartSec=5\n"
           "# Another station in the folder: a restart would be refused again.\n"
           "RestartPreventExitStatus=" +
           std::to_string(StationRefused) +
           "\n"
           "\n"
           "[Install]\n"
           "WantedBy=graphical-session.target\n";
}

std::string EntryText(const fs::path& launcher, const fs::path& folder)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Talveron\n"
           "Comment=Talveron station in " +
           folder.string() +
           "\n"
           "Exec=" +
           commandLine(launcher, folder, "\"`$\\") +
           "\n"
           "X-GNOME-Autostart-enabled=true\n";
}

Outcome SetAutostart(bool on, const fs::path& launcher, const fs::path& folder, const Environment& env)
{
    const Autostart files = AutostartFiles(env);
    std::error_code ec;
    Outcome result;
    if (!on) {
        const bool hadService = fs::exists(files.service, ec);
        if (hadService)
            systemctl({"disable", "talveron.service"});
        fs::remove(files.service, ec);
        fs::remove(files.entry, ec);
        if (hadService)
            systemctl({"daemon-reload"});
        result.said = "自動起動を止めました。";
        return result;
    }
    if (!writeFile(files.service, ServiceText(launcher, folder), result.error))
        return result;
    if (systemctl({"daemon-reload"}) && systemctl({"enable", "talveron.service"})) {
        fs::remove(files.entry, ec);
        result.said = "ログインすると " + quoted(folder) +
                      " のステーションが監視を始めます（systemd のユーザーサービス talveron.service。"
                      "止まったときは 5 秒後に起動し直します）。";
        return result;
    }
    // No systemd user session: the desktop starts the station at login, but nothing restarts it.
    fs::remove(files.service, ec);
    if (!writeFile(files.entry, EntryText(launcher, folder), result.error))
        return result;
    result.said = "systemd のユーザーセッションがないため、デスクトップの自動起動 " + quoted(files.entry) +
                  " を作りました。ログインすると監視を始めますが、止まったときに起動し直すことはできません。";
    return result;
}

std::string Usage()
{
    return "Usage: talveron-launch [--folder DIR] [--start] [--autostart on|off]\n"
           "Starts the Talveron station in the user's station folder, making it on first use.\n"
           "Without --folder the folder is the one named on the first line of\n"
           "$XDG_CONFIG_HOME/talveron/station-folder, else $XDG_DATA_HOME/talveron/station.\n"
           "--start starts monitoring at once. --autostart on starts the station in the folder,\n"
           "monitoring, at each login (a systemd user service, restarted when it fails); off ends that.\n";
}

} // namespace Launch
