// Helpers of the model tests: a scratch directory removed at the end of the test, and
// copies of the shipped data files into it.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace zelk_test_models {

class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("zelk_models_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string str() const { return path_.string(); }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }

    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
    }
    // Copies a file of the shipped data directory.
    void copydata(const std::string& name) const {
        std::filesystem::copy_file(std::filesystem::path(ZELK_SOURCE_DATA) / name, path_ / name,
                                   std::filesystem::copy_options::overwrite_existing);
    }

private:
    std::filesystem::path path_;
};

}  // namespace zelk_test_models
