// Lookup of the model data files: working directory, $ZELK_DATA, installed directory.
#include "platform/datafile.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef ZELK_INSTALL_DATADIR
#define ZELK_INSTALL_DATADIR ""
#endif

namespace zelk::platform {

namespace {
std::string& program_dir_override() {
    static std::string dir;
    return dir;
}
}  // namespace

void SET_PROGRAM_DIR(const std::string& dir) { program_dir_override() = dir; }

// Directory of the running program (or the one set in its place), or empty when it cannot
// be found.
static std::filesystem::path program_dir() {
    if (!program_dir_override().empty()) return program_dir_override();
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : exe.parent_path();
}

std::vector<std::string> DATADIRS() {
    std::vector<std::string> dirs{"."};
    if (const char* env = std::getenv("ZELK_DATA"); env != nullptr && *env != '\0')
        dirs.emplace_back(env);
    if (const std::string installed = ZELK_INSTALL_DATADIR; !installed.empty())
        dirs.push_back(installed);
    // An installation moved to another prefix, and the build tree (which links data/ beside
    // the programs), still find their files.
    if (const std::filesystem::path dir = program_dir(); !dir.empty()) {
        dirs.push_back((dir / ".." / "share" / "zelk").string());
        dirs.push_back((dir / "data").string());
    }
    return dirs;
}

std::string DATAPATH(std::string_view name) { return DATAPATH(name, DATADIRS()); }

std::string DATAPATH(std::string_view name, const std::vector<std::string>& dirs) {
    if (name.empty()) return {};
    for (const std::string& dir : dirs) {
        // The working directory keeps the bare name, as the program has always opened it.
        const std::filesystem::path path =
            dir == "." ? std::filesystem::path(name) : std::filesystem::path(dir) / name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) return path.string();
    }
    return {};
}

}  // namespace zelk::platform
