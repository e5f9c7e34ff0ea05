// The real Paradox tables beside the project (../shared/paradox-samples), used
// as fixtures by the engine tests; tests skip when the folder is absent.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testutil {

inline std::string samplesDir() {
    const char* env = std::getenv("VELLUMO_SHARED_DIR");
    const std::string shared = env && *env ? env : "../shared";
    const std::string dir = shared + "/paradox-samples";
    return std::filesystem::is_directory(dir) ? dir : std::string();
}

inline std::string samplePath(const std::string& relative) {
    return samplesDir() + "/" + relative;
}

// Every sample table (.db whatever its case), relative to samplesDir(), sorted.
inline std::vector<std::string> allSampleTables() {
    std::vector<std::string> tables;
    const std::string dir = samplesDir();
    if (dir.empty())
        return tables;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        std::string ext = entry.path().extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (entry.is_regular_file() && ext == ".db")
            tables.push_back(std::filesystem::relative(entry.path(), dir).string());
    }
    std::sort(tables.begin(), tables.end());
    return tables;
}

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

} // namespace testutil

#define SKIP_WITHOUT_SAMPLES()                                                                     \
    do {                                                                                           \
        if (testutil::samplesDir().empty())                                                        \
            GTEST_SKIP() << "no sample tables beside the project";                                 \
    } while (0)
