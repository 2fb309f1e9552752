// talveron-launch: starts the station from a desktop menu. Whatever stops it is said on standard
// error and, when there is a screen to show it on, in a message box, since a menu has no terminal.

#include "Launch.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool screenForBox()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return std::strncmp(platform, "offscreen", 9) != 0 && std::strncmp(platform, "minimal", 7) != 0;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

int fail(int argc, char** argv, const std::string& text)
{
    std::fprintf(stderr, "talveron-launch: %s\n", text.c_str());
    if (screenForBox()) {
        QApplication app(argc, argv);
        QMessageBox::critical(nullptr, QStringLiteral("Talveron"), QString::fromStdString(text));
    }
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const Launch::Arguments args = Launch::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!args.error.empty())
        return fail(argc, argv, args.error + "\n" + Launch::Usage());
    if (args.help) {
        std::fputs(Launch::Usage().c_str(), stdout);
        return 0;
    }
    std::error_code ec;
    const Launch::Choice choice =
        Launch::ChooseFolder(args, Launch::CurrentEnvironment(), std::filesystem::current_path(ec));
    if (!choice.error.empty())
        return fail(argc, argv, choice.error);
    // The station is looked for first, so a broken install leaves no folder behind.
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fail(argc, argv, "talveron-launch のインストール先がわかりません：" + ec.message());
    const std::filesystem::path station = Launch::StationBeside(self);
    if (std::string problem = Launch::StationProblem(station); !problem.empty())
        return fail(argc, argv, problem);
    const Launch::Preparation prepared = Launch::PrepareFolder(choice.folder);
    if (!prepared.error.empty())
        return fail(argc, argv, prepared.error);
    if (!prepared.warning.empty())
        std::fprintf(stderr, "talveron-launch: %s\n", prepared.warning.c_str());
    if (args.autostart) {
        const Launch::Outcome set =
            Launch::SetAutostart(*args.autostart, self, choice.folder, Launch::CurrentEnvironment());
        if (!set.error.empty())
            return fail(argc, argv, set.error);
        std::printf("%s\n", set.said.c_str());
        return 0;
    }
    return fail(argc, argv, Launch::StartStation(station, choice.folder, args.start));
}
