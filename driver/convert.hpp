// Conversion of non-VXO input before the run reads it: the Standard format directly, any
// other format through an external converter that writes the Standard format.
//
// The interactive program and the batch program both fill ConversionSettings (from the
// format and program chosen in the dialog, or from --format, --converter and
// --converter-timeout) and hand each input to Conversion::NONVXO_VXO through their front
// end.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.hpp"

namespace zelk::driver {

// The two answers of a conversion that end the run (messages 22 and 23).
inline constexpr const char* CONVERTER_NOT_EXECUTABLE = "PROGRAM FOR CONVERSION NOT EXECUTABLE";
inline constexpr const char* CONVERTER_BAD = "BAD PROGRAM FOR CONVERSION";
// Texts of messages 22 and 23.
inline constexpr const char* MESSAGE_22 =
    "FATAL ERROR: THE SPECIFIED PROGRAM FOR DATA FORMAT CONVERSION IS NOT EXECUTABLE!";
inline constexpr const char* MESSAGE_23 =
    "FATAL ERROR: EXECUTION ERRORS FOUND IN THE SPECIFIED PROGRAM FOR DATA FORMAT CONVERSION";

// Seconds a converter may run on one file before it is stopped: generous, since a converter
// may read a large archive, but finite, so that a converter that hangs does not hold the
// run for ever.
inline constexpr double CONVERTER_TIMEOUT = 600.0;

// The input formats.
enum class InputFormat { VXO, STANDARD, OTHER };

// Reads "vxo", "standard" or "other" (any case); false for anything else.
bool parse_format(const std::string& text, InputFormat& format);

// Empty when prog can be used as a converter (a regular file this process may execute),
// else why not.
std::string check_converter(const std::string& prog);

// The conversion of one input at a time, with its private temporary directory.
//
// NONVXO_VXO(PROG, path, NOCONV) converts the file at path: NOCONV true reads it as a
// Standard file, false runs the converter PROG on it first. The converter is started
// without a shell as
//     PROG  <copy of the input>  <private dir>/<input name>.TMPSTD
// where the copy is read-only and has the input's name, so that the converter never holds
// the path of the input itself and cannot change or remove it. Its result is used
// only when it exits with status 0 within the time limit, leaves its own input as it got it,
// and writes a Standard file that is not empty, and only when the input itself did not change
// meanwhile (device, inode, size, modification time). Returns
//   - the path of the converted VXO file (<private dir>/<input name>.TMPVXO; the caller
//     removes it when done, the directory goes with the next call or the object),
//   - CONVERTER_NOT_EXECUTABLE when the converter cannot be started,
//   - CONVERTER_BAD when it fails in one of the ways above,
//   - "" when nothing could be converted (no Standard record accepted, the input cannot
//     be read, the input changed during the conversion).
// Plain-language lines on what happened (why a converter was refused, dropped records) are
// added to notices, each beginning with the input path.
class Conversion {
public:
    explicit Conversion(double timeout_s = CONVERTER_TIMEOUT) : timeout_(timeout_s) {}
    std::string NONVXO_VXO(const std::string& PROG, const std::string& path, bool NOCONV,
                           std::vector<std::string>& notices);
    void set_timeout(double timeout_s) { timeout_ = timeout_s; }
    // Removes the private directory and everything in it.
    void finish() { dir_.remove(); }

private:
    double timeout_;
    platform::ScratchDir dir_;
};

// --inspect of non-VXO input: converts each file and lists the converted records as
// inspect_files does, under the input's name. Notices go to err. Returns 0 when every file
// was converted and read, 1 otherwise, 5 when the converter could not be run or failed
// (message 22 or 23 on err; no later file is converted).
int inspect_converted(const std::vector<std::string>& files, bool NOCONV, const std::string& PROG,
                      double timeout_s, std::ostream& out, std::ostream& err);

}  // namespace zelk::driver
