// Version, source revision and data directory of the program.
#include "driver/version.hpp"

#include <filesystem>
#include <system_error>

#include "platform/datafile.hpp"
#include "zelk_revision.h"

#ifndef ZELK_VERSION
#define ZELK_VERSION "unknown"
#endif

namespace zelk::driver {

const char* program_version() { return ZELK_VERSION; }

const char* source_revision() { return ZELK_REVISION; }

std::string data_directory() {
    // SUNSPT.ASC is needed by every run, so the directory holding it is the one in use.
    const std::string path = platform::data_path("SUNSPT.ASC");
    if (path.empty()) return {};
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (dir.empty()) dir = ".";
    const std::filesystem::path abs = std::filesystem::canonical(dir, ec);
    return ec ? dir.string() : abs.string();
}

std::string version_text(const std::string& program) {
    std::string text = program + " " + program_version() + "\nrevision " + source_revision() +
                       "\ndata directory ";
    if (const std::string dir = data_directory(); !dir.empty()) {
        text += dir;
    } else {
        text += "none found (searched:";
        for (const std::string& d : platform::data_dirs()) text += " " + d;
        text += ")";
    }
    return text + "\n";
}

}  // namespace zelk::driver
