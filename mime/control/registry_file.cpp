#include "registry_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace talveron::mime {

namespace {
constexpr const char* kHeaderLine = "# talveron per-user registry, one entry a line: KEY = VALUE";
constexpr const char* kSeparator = " = ";
}  // namespace

std::string RegistryFilePath() {
    if (const char* file = std::getenv("MIME_REGISTRY_FILE"); file && *file) return file;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/talveron/mime-registry";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/talveron/mime-registry";
}

bool RegistryFile::Load(const std::string& path) {
    path_ = path;
    entries_.clear();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return !ec;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t at = line.find(kSeparator);
        if (at == std::string::npos) continue;  // not ours to judge; dropped on the next save
        entries_[line.substr(0, at)] = line.substr(at + 3);
    }
    return !in.bad();
}

bool RegistryFile::Save() const {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path_);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    if (ec) return false;
    const std::string temporary = path_ + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << kHeaderLine << '\n';
        for (const auto& [key, value] : entries_) out << key << kSeparator << value << '\n';
        out.flush();
        if (!out) {
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

bool RegistryFile::RemoveTree(const std::string& key) {
    bool removed = false;
    for (auto it = entries_.lower_bound(key); it != entries_.end();) {
        const std::string& k = it->first;
        if (k.compare(0, key.size(), key) != 0) break;
        if (k.size() == key.size() || k[key.size()] == '\\') {
            it = entries_.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    return removed;
}

}  // namespace talveron::mime
