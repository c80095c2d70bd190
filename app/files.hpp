// The file-system side of the job dialog and the browser: the file list of a wildcard job
// (FILELIST.TMP), the check that an output directory can be written, the listing of one
// directory, and the places the browser starts from. Standard library and POSIX only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/text.hpp"

namespace zelk::app {

// Writes the file list of the wildcard input `in` (directory, name, extension as split from
// the input box; name "*" or extension ".*") to `filelist`, one name per line, in name order.
// Directories and empty files are left out, and so are the names with the extensions .EXE,
// .430 and .ARP (in any case). A name is taken when the input name is "*" and the input
// extension is ".*" or the file's extension, or when the input extension is ".*" and the
// input name is the file's name; names and extensions are compared without regard to case,
// and the list keeps each name as it is on disk.
// Returns 0 with the list written, or the message code: 5 no file taken (the list is
// removed), 1 the directory cannot be listed, MESSAGE_ENUMERATION the list cannot be written.
int write_filelist(const PathParts& in, const std::string& filelist);

// True when a file can be created in `dir` ("" is the working directory). The probe file
// gets a name no other file has and is removed again at once.
bool can_create_in(const std::string& dir);

// The entries of one directory as the browser lists them: hidden entries (dot files) and
// names with characters above 127 left out, "." and ".." never listed, subdirectories and
// files apart, each in name order and cut at MAXNAMES.
struct Listing {
    static constexpr size_t MAXNAMES = 1000;
    bool ok = false;                     // false: the directory cannot be listed
    std::vector<std::string> dirs, files;
    size_t total_files = 0;              // files found, also beyond MAXNAMES
};
Listing list_directory(const std::string& path);

// The places "MY COMPUTER" offers, each a directory path ending in '/': the root of the file
// system, the home directory, the working directory and the mount points of mounted
// volumes under /media, /mnt and /run/media; each once, in that order.
std::vector<std::string> start_places();

}  // namespace zelk::app
