#include "Launch.h"

#include "Lamps.h"

#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <system_error>
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

std::string StartStation(const fs::path& station, const fs::path& folder)
{
    if (std::string problem = StationProblem(station); !problem.empty())
        return problem;
    if (::chdir(folder.c_str()) != 0)
        return "ステーションフォルダ " + quoted(folder) + " に入れません：" + std::strerror(errno);
    ::setenv("PWD", folder.c_str(), 1);
    char name[] = "talveron";
    char* const argv[] = {name, nullptr};
    ::execv(station.c_str(), argv);
    return "ステーションのプログラム " + quoted(station) + " を起動できません：" + std::strerror(errno);
}

std::string Usage()
{
    return "Usage: talveron-launch [--folder DIR]\n"
           "Starts the Talveron station in the user's station folder, making it on first use.\n"
           "Without --folder the folder is the one named on the first line of\n"
           "$XDG_CONFIG_HOME/talveron/station-folder, else $XDG_DATA_HOME/talveron/station.\n";
}

} // namespace Launch
