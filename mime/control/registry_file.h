// The per-user registry file: a sorted map of keys to values, saved whole by rename.
#pragma once

#include <map>
#include <string>

namespace talveron::mime {

// $MIME_REGISTRY_FILE, else $XDG_CONFIG_HOME/talveron/mime-registry, else
// $HOME/.config/talveron/mime-registry.
std::string RegistryFilePath();

class RegistryFile {
  public:
    // A missing file is an empty registry; an unreadable one fails.
    bool Load(const std::string& path);
    bool Save() const;
    void Set(const std::string& key, const std::string& value) { entries_[key] = value; }
    // Removes `key` and every key below it; true when something was removed.
    bool RemoveTree(const std::string& key);
    const std::map<std::string, std::string>& Entries() const { return entries_; }

  private:
    std::string path_;
    std::map<std::string, std::string> entries_;
};

}  // namespace talveron::mime
