// zelk-batch --inspect: a listing of the records of VXO files, one CSV row per record.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zelk::driver {

// Reads every record of each file with READVXO and writes one CSV row per record to out,
// after a header row:
//   file,record,version,station,stamp,groups,status,time,step,nE,nF1,nF2
// record is the 1-based position of the record in its file, version index element 80,
// station the name after "NAME " in the system description (up to a blank or comma; empty
// when absent), stamp the time-stamp characters as read (trailing blanks trimmed), groups
// the number of groups present in the file (52/53 only with 51, 59/60 only with 58), status
// "ok" for a whole record, "bad" for a refused, undecodable or truncated one. Fields holding
// a comma or quote are quoted; characters outside printable ASCII are shown as '?'.
// For a whole record, time is the date and time the stamp decodes to (ISO 8601, UTC),
// step its frequency step (MHz), nE, nF1, nF2 the point counts of the O-ray E, F1 and F2
// traces; time and step are empty when the stamp does not decode to them (or is too short
// to hold the step), and all five for a bad record.
// A file that cannot be opened is reported on err and the others are still listed.
// Returns 0 when every file could be read, 1 otherwise.
int inspect_files(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

// The rows of one VXO file (no header row), with shown in their file column: for a file
// converted from another format, the name of the input. False, with a line on err naming
// shown, when the file cannot be opened or read.
bool inspect_file(const std::string& path, const std::string& shown, std::ostream& out, std::ostream& err);

}  // namespace zelk::driver
