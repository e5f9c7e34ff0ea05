// A private temporary directory, removed with everything in it at the end.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace testutil {

class TempDir {
public:
    // Under base, or else under TMPDIR or /tmp; named after what it is for.
    explicit TempDir(const std::string& name = "vellumo-test", std::filesystem::path base = {}) {
        if (base.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp && *tmp ? tmp : "/tmp";
        }
        std::string pattern = (base / (name + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed in " + base.string());
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The files of a directory by name, to put a table back exactly as it was
// between runs of a crash test.
using Files = std::map<std::string, std::vector<std::uint8_t>>;

inline Files
readFiles(const std::string& directory,
          const std::function<bool(const std::filesystem::directory_entry&)>& keep = nullptr) {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (keep && !keep(entry))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] =
            std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

// Empties the directory, then writes files into it.
inline void writeFiles(const std::string& directory, const Files& files) {
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        std::filesystem::remove(entry.path());
    for (const auto& [name, bytes] : files) {
        std::ofstream out(directory + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
}

} // namespace testutil
