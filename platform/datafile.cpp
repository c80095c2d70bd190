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

void set_program_dir(const std::string& dir) { program_dir_override() = dir; }

// Directory of the running program (or the one set in its place), or empty when it cannot
// be found.
static std::filesystem::path program_dir() {
    if (!program_dir_override().empty()) return program_dir_override();
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : exe.parent_path();
}

std::vector<std::string> data_dirs() {
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

std::string data_path(std::string_view name) { return data_path(name, data_dirs()); }

std::string data_path(std::string_view name, const std::vector<std::string>& dirs) {
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

// load_data_file: makes the parsed copy of the coefficient file STEM current.
//   Given the parsed copy's STAMP, the directories DIRS to look in (the standard lookup when
//   empty), the file stem and its parser.
//   Looks up STEM.BIN, else STEM.ASC, and calls PARSE(path, binary) when the file found is
//   not the one STAMP describes (another path, size or modification time); STAMP then
//   describes it, with OK the parser's result. Returns STAMP.OK; false, with STAMP cleared,
//   when neither form is found. Within one numbered input file (FILESEQ) a copy found
//   current is not looked up again: the run reads the disk once per input file, not once
//   per record and layer.
bool load_data_file(DataFileStamp& STAMP, uint64_t FILESEQ, const std::vector<std::string>& DIRS,
                  const std::string& STEM,
                  const std::function<bool(const std::string&, bool)>& PARSE) {
    if (FILESEQ != 0 && STAMP.CHECKED == FILESEQ) return STAMP.OK;
    auto find = [&DIRS](const std::string& name) {
        return DIRS.empty() ? data_path(name) : data_path(name, DIRS);
    };
    std::string path = find(STEM + ".BIN");
    const bool binary = !path.empty();
    if (!binary) path = find(STEM + ".ASC");
    if (path.empty()) {
        STAMP = DataFileStamp{};
        return false;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        STAMP = DataFileStamp{};
        return false;
    }
    const auto t = fs::last_write_time(path, ec);
    const long long mtime = ec ? 0 : static_cast<long long>(t.time_since_epoch().count());
    STAMP.CHECKED = FILESEQ;
    if (STAMP.PATH == path && STAMP.SIZE == size && STAMP.MTIME == mtime) return STAMP.OK;
    STAMP.PATH = path;
    STAMP.SIZE = size;
    STAMP.MTIME = mtime;
    STAMP.OK = PARSE(path, binary);
    return STAMP.OK;
}

}  // namespace zelk::platform
