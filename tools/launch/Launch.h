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

// Changes into the folder and replaces this process with the station. Returns only on failure,
// with the reason.
std::string StartStation(const std::filesystem::path& station, const std::filesystem::path& folder);

std::string Usage();

} // namespace Launch
