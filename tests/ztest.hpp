// Set-up shared by the test programs: a run context whose diagnostics are collected, and
// scratch directories that are removed when the test ends.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "pipeline/zelk.hpp"

namespace ztest {

// A run context on the heap (its areas are too large for a test's stack) with the
// diagnostics written into LOG.
struct Ctx {
    std::unique_ptr<zelk::Zelk> z = std::make_unique<zelk::Zelk>();
    std::ostringstream log;
    Ctx() { z->log.out = &log; }
    zelk::inversion::Inversion& inv() { return z->inv; }
};

// A fresh directory under the system's temporary directory, named after the process and a
// serial number, removed with its contents at the end of its scope.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("zelk_test_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
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

// Runs a test body in a scratch directory as the working directory, restoring the old one
// at the end of its scope.
class TempCwd {
public:
    TempCwd() : old_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.path()); }
    ~TempCwd() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
    }
    TempCwd(const TempCwd&) = delete;
    TempCwd& operator=(const TempCwd&) = delete;

private:
    std::filesystem::path old_;
    ScratchDir dir_;   // made before and removed after the change of directory
};

}  // namespace ztest
