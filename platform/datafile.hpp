// Lookup of the model data files shipped with the program (URSI11..22, SUNSPT.ASC,
// TECCOF, B0B1DT, STATION.LST).
//
// A data file is looked for, in order, in
//   1. the working directory (where the program has always looked for them),
//   2. the directory named by the environment variable ZELK_DATA, when it is set and not
//      empty,
//   3. the installed data directory compiled into the program.
// The first directory holding a regular file of that name wins. Nothing is cached: the
// search runs on every call, so a file placed in the working directory during a run is
// found by the next lookup.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::platform {

// Makes the lookup take dir, instead of the running program's directory, as the place
// whose ../share/zelk and data/ are searched last: for a library loaded into another
// program (the Python module), whose executable is the interpreter. Set it before any
// lookup; "" restores the program's directory.
void set_program_dir(const std::string& dir);

// The directories searched for data files, in the order above (working directory as ".").
std::vector<std::string> data_dirs();

// Given a file name such as "URSI11.BIN", returns the path to open: the name joined to the
// first of data_dirs() that holds a regular file of that name. Returns an empty string when
// none does (the caller then writes its own message).
std::string data_path(std::string_view name);

// The same search over an explicit list of directories (a run or a test that names its own
// data directories). An empty list searches nothing and returns an empty string.
std::string data_path(std::string_view name, const std::vector<std::string>& dirs);

// A parsed coefficient file and what identifies the copy on disk it was parsed from, so that
// the file is read again only when it is replaced or changed.
struct DataFileStamp {
    std::string PATH;                        // path that was parsed; empty: nothing parsed
    std::uintmax_t SIZE = 0;                 // its size (bytes)
    long long MTIME = 0;                     // its modification time (file clock ticks)
    bool OK = false;                         // the parse gave a usable table
    uint64_t CHECKED = 0;                    // input file (FILESEQ) it was last found
                                             // current for; 0: none
};

// Makes the parsed copy of the coefficient file STEM (STEM.BIN, else STEM.ASC) current and
// returns whether it is usable; PARSE(PATH, BINARY) is called only when the file changed.
// FILESEQ numbers the input file being processed (0: not numbered): within one numbered input
// file a copy found current is not looked up on disk again.
bool load_data_file(DataFileStamp& STAMP, uint64_t FILESEQ, const std::vector<std::string>& DIRS,
                  const std::string& STEM,
                  const std::function<bool(const std::string&, bool)>& PARSE);

}  // namespace zelk::platform
