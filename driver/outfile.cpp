// Output files renamed into place when complete.
#include "driver/outfile.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace zelk::driver {

namespace fs = std::filesystem;

bool PendingOutput::open(std::string& why) {
    const fs::path fin(final_);
    const fs::path dir = fin.has_parent_path() ? fin.parent_path() : fs::path(".");
    std::string pattern = (dir / ("." + fin.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; give it the mode a plainly created file would have.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    temp_ = pattern;
    out_.open(temp_, std::ios::out | std::ios::trunc);
    if (!out_) {
        why = "cannot write the temporary file";
        discard();
        return false;
    }
    return true;
}

bool PendingOutput::commit(std::string& why) {
    out_.close();
    if (out_.fail()) {
        why = "write error";
        discard();
        return false;
    }
    std::error_code ec;
    fs::rename(temp_, final_, ec);
    if (ec) {
        why = ec.message();
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void PendingOutput::discard() {
    if (out_.is_open()) out_.close();
    if (!temp_.empty()) {
        std::error_code ec;
        fs::remove(temp_, ec);
        temp_.clear();
    }
}

}  // namespace zelk::driver
