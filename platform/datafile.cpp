// Lookup of the model data files: working directory, $ZELK_DATA, installed directory.
#include "platform/datafile.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef ZELK_INSTALL_DATADIR
#define ZELK_INSTALL_DATADIR ""
#endif

namespace zelk::platform {

std::vector<std::string> DATADIRS() {
    std::vector<std::string> dirs{"."};
    if (const char* env = std::getenv("ZELK_DATA"); env != nullptr && *env != '\0')
        dirs.emplace_back(env);
    if (const std::string installed = ZELK_INSTALL_DATADIR; !installed.empty())
        dirs.push_back(installed);
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
