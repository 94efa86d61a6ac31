#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

// A fresh, empty directory that is the process's working directory for the object's lifetime;
// the previous working directory is restored and the directory removed afterwards.
class TempWorkDir {
public:
    TempWorkDir() {
        namespace fs = std::filesystem;
        std::random_device random;
        do {
            path_ = fs::temp_directory_path() / ("px46_work_" + std::to_string(random()));
        } while (!fs::create_directory(path_));
        previous_ = fs::current_path();
        fs::current_path(path_);
    }
    ~TempWorkDir() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    // Writes `content` to a file at `relative`, creating its directories.
    void write(const std::string& relative, const std::string& content) const {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    }
    // Copies a file into the directory at `relative`.
    void copy(const std::string& from, const std::string& relative) const {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::copy_file(from, file, std::filesystem::copy_options::overwrite_existing);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};
