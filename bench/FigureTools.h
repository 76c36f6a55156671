#pragma once
// What the wall-clock figure programs share: a temporary folder per run, and the median.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace bifuel::bench {

// A fresh folder under the system's temporary folder, removed with the object.
struct TempDir {
    TempDir(const std::string& program, const std::string& tag)
        : path(std::filesystem::temp_directory_path() /
               ("bifuel-" + program + "-" + std::to_string(::getpid()) + "-" + tag)) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path path;
};

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

} // namespace bifuel::bench
