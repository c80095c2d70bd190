// What a program of this build is: its version, the source revision it was built from and
// the data directory its lookup finds, for --version and for the summary's version file,
// so that an output can be traced to the program that made it.
#pragma once

#include <string>

namespace zelk::driver {

// The program version (the project version of the build), e.g. "4.31".
const char* program_version();

// The source revision (git describe at build time; "unknown" for a build outside a git
// checkout, such as one from a source tarball).
const char* source_revision();

// The directory the data-file lookup takes the model files from now (the one holding the
// sunspot file SUNSPT.ASC), or "" when no searched directory holds it.
std::string data_directory();

// The --version text of the named program: three lines, "<program> <version>",
// "revision <revision>", "data directory <dir>" (or "data directory none found (searched:
// ...)").
std::string version_text(const std::string& program);

}  // namespace zelk::driver
