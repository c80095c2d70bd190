// Text helpers of the job dialogs and the browser: blank removal, upper case, the number
// check of the height-step and accuracy boxes, path splitting, and the numbered messages of
// the INSTRUCTIONS dialog. Standard library only, so that they are tested on their own.
#pragma once

#include <string>
#include <vector>

namespace zelk::app {

// DEL_SPACE: TEXT with every blank removed, the other characters in their order.
std::string DEL_SPACE(const std::string& TEXT);
// UPCASE: a to z turned into A to Z, and every blank removed.
std::string UPCASE(const std::string& TEXT);
// STR_NUM: 1 at the first character other than a blank, a digit or the first decimal point
// (a second point included), else 0.
int STR_NUM(const std::string& TEXT);
// The number a height-step or accuracy box holds after DEL_SPACE, read as a free-form real;
// 0 for a blank box or a text that does not read.
float read_number(const std::string& TEXT);
// The box text of HSTEP (4 characters, 1 decimal) and QPACC (4 characters, 2 decimals),
// leading blanks dropped ("0.0", "10.0", "0.01").
std::string hstep_text(float HSTEP);
std::string qpacc_text(float QPACC);

// Text without leading and trailing blanks.
std::string trim(const std::string& s);
// Same text, comparing letters without regard to case.
bool same_nocase(const std::string& a, const std::string& b);

// A path split into its directory (with the closing '/'; "" when none), its name and its
// extension (from the last point of the name on, with the point; at most 10 characters).
struct PathParts {
    std::string dir, name, ext;
};
PathParts split_path(const std::string& path);

// Code for an entry that is not a format keyword on the command line, and for a failure of
// the file enumeration other than lack of memory: the message table has no text for them.
inline constexpr int MESSAGE_NOT_A_FORMAT = 25;
inline constexpr int MESSAGE_ENUMERATION = 26;

// The command line of the interactive program (without the program name): none, or exactly
// five format keywords ("VXO", "STANDARD", "OTHER", trailing blanks ignored), which only
// change the version identifier to "VS.04.30". Returns 0 with VERSID set, or the message
// code that ends the run: 24 for another count, MESSAGE_NOT_A_FORMAT for a parameter that is
// not a format keyword.
int check_command_line(const std::vector<std::string>& args, std::string& VERSID);

// The text of message CODE as the INSTRUCTIONS dialog shows it (with its leading blank);
// "" for a code without a message.
std::string message(int CODE);

}  // namespace zelk::app
