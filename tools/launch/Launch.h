#pragma once
// talveron-launch: picks the user's station folder, prepares it on first use and starts the
// station in it. The pieces are plain functions so tests can run them without starting anything.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Launch {

// The variables the folder choice depends on; empty when unset.
struct Environment {
    std::string home;
    std::string xdgDataHome;
    std::string xdgConfigHome;
};
Environment CurrentEnvironment();

struct Arguments {
    std::optional<std::string> folder; // --folder DIR
    std::optional<bool> autostart;     // --autostart on|off
    bool start = false;                // --start: the station starts monitoring at once
    bool help = false;
    std::string error; // not empty: the command line was not understood
};
Arguments ParseArguments(const std::vector<std::string>& args);

// The operator's one-line file naming the station folder, and the folder used without it.
std::filesystem::path ConfigFile(const Environment& env);
std::filesystem::path DefaultFolder(const Environment& env);

struct Choice {
    std::filesystem::path folder;
    std::string error; // not empty: no folder could be chosen
};
// --folder when given, else the config file's line, else the default folder.
Choice ChooseFolder(const Arguments& args, const Environment& env, const std::filesystem::path& currentDir);

struct Preparation {
    bool created = false;
    std::string error;   // not empty: the station cannot run there
    std::string warning; // the folder is usable, but something on the way failed
};
// Makes the folder (owner only) with the lamp pictures when it does not exist yet; an existing
// folder is left exactly as it is.
Preparation PrepareFolder(const std::filesystem::path& folder);

// The station program beside the launcher.
std::filesystem::path StationBeside(const std::filesystem::path& launcher);

// Empty when the station program can be run, else why not.
std::string StationProblem(const std::filesystem::path& station);

// Changes into the folder and replaces this process with the station (with --start when start).
// Returns only on failure, with the reason.
std::string StartStation(const std::filesystem::path& station, const std::filesystem::path& folder, bool start = false);

// Autostart of the station in a folder at the user's login, with --start. A systemd user
// service (talveron.service, restarted when it fails) where systemd runs the user's session,
// else an XDG autostart entry, which starts the station at login but does not restart it.
struct Autostart {
    std::filesystem::path service; // $XDG_CONFIG_HOME/systemd/user/talveron.service
    std::filesystem::path entry;   // $XDG_CONFIG_HOME/autostart/talveron.desktop
};
Autostart AutostartFiles(const Environment& env);
std::string ServiceText(const std::filesystem::path& launcher, const std::filesystem::path& folder);
std::string EntryText(const std::filesystem::path& launcher, const std::filesystem::path& folder);
struct Outcome {
    std::string said;  // what was done, for the operator
    std::string error; // not empty: it could not be done
};
// Turns autostart on (for this folder) or off. systemctl is found on PATH.
Outcome SetAutostart(bool on, const std::filesystem::path& launcher, const std::filesystem::path& folder,
                     const Environment& env);

// The station's exit code when its folder is taken by another station: restarting cannot help.
constexpr int StationRefused = 3;

std::string Usage();

} // namespace Launch
