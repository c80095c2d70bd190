#include "app/text.hpp"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace zelk::app {

std::string DEL_SPACE(const std::string& TEXT) {
    std::string out;
    for (const char c : TEXT)
        if (c != ' ') out += c;
    return out;
}

std::string UPCASE(const std::string& TEXT) {
    std::string out;
    for (const char c : TEXT) {
        if (c == ' ') continue;
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

int STR_NUM(const std::string& TEXT) {
    bool point = false;
    for (const char c : TEXT) {
        if (c == ' ' || (c >= '0' && c <= '9')) continue;
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        return 1;
    }
    return 0;
}

float read_number(const std::string& TEXT) {
    const std::string t = DEL_SPACE(TEXT);
    if (t.empty() || STR_NUM(t) != 0) return 0.0f;
    return std::strtof(t.c_str(), nullptr);
}

namespace {

// A value with `decimals` decimals in a field of at least 4 characters, leading blanks
// dropped. C's conversion always writes the "0" before the point of a value below 1. A value
// too wide for the 4 characters is written whole rather than as asterisks, so that the box
// still holds the number the user typed when the dialog shows it again.
std::string field4(float v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4.*f", decimals, static_cast<double>(v));
    return trim(buf);
}

}  // namespace

std::string hstep_text(float HSTEP) { return field4(HSTEP, 1); }
std::string qpacc_text(float QPACC) { return field4(QPACC, 2); }

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool same_nocase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

PathParts split_path(const std::string& path) {
    PathParts p;
    const auto slash = path.find_last_of('/');
    p.dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = path.substr(p.dir.size());
    const auto dot = base.find_last_of('.');
    if (dot == std::string::npos) {
        p.name = base;
    } else {
        p.name = base.substr(0, dot);
        p.ext = base.substr(dot, 10);
    }
    return p;
}

int check_command_line(const std::vector<std::string>& args, std::string& VERSID) {
    VERSID = "VS.04.31";
    if (args.empty()) return 0;
    if (args.size() != 5) return 24;
    VERSID = "VS.04.30";
    for (std::string k : args) {
        while (!k.empty() && k.back() == ' ') k.pop_back();
        if (k != "VXO" && k != "STANDARD" && k != "OTHER") return MESSAGE_NOT_A_FORMAT;
    }
    return 0;
}

std::string message(int CODE) {
    static const std::array<const char*, 27> table = {
        "ERROR: ILLEGAL ENTRY IN INPUT. TRY AGAIN.",
        "WARNNING: THE SELECTED DRIVE IS NOT IN USE. CHECK TO MAKE SURE A FLOPPY DISK OR CD IS INSERTED.",
        "ERROR: THE FILENAME OF THE INPUT FILE MUST BE SPECIFIED UNLESS YOU CLICK EXIT ZELK TO EXIT THE PROGRAM.",
        "ERROR: THE SPECIFIED INPUT WITH THE FORMAT \"FILENAME.*\" IS NOT ALLOWED. RE-SPECIFY IT AGAIN.",
        "ERROR:  4",
        "ERROR: THE INPUT FILE SPECIFIED NOT FOUND: WRONG PATH OR WRONG FILE NAME. RE-SPECIFY IT AGAIN.",
        "ERROR:  6",
        "ERROR:  7",
        "ERROR: BOTH THE PATH AND NAME OF THE OUTPUT FILE ARE THE SAME AS THAT OF THE INPUT FILE. RE-SPECIFY IT AGAIN.",
        "ERROR: THE NAME OF THE OUTPUT FILE DOES NOT MATCH THE INPUT FILE NAME WITH WILDCASE.",
        "ERROR: THE EXTENSION NAME (NOT *) OF THE OUTPUT FILE MUST BE SPECIFIED WHEN THE FILE NAME IS THE WILDCASE.",
        "ERROR: 11",
        "ERROR: THE PATH OF THE SPECFIED OUTPUT FILE NOT FOUND. CHECK YOUR ENTRY AND RE-SPECIFY IT AGAIN.",
        "ERROR: 13",
        "ERROR: 14",
        "WARNNING: THE OUTPUT FILE SPECIFIED DOES EXIST ALREADY WHICH WILL BE OVERWRITTEN.",
        "ERROR: THE PROGRAM FOR DATA FORMAT CONVERSION IS NOT SPECIFIED.",
        "ERROR: THE SPECIFIED PROGRAM FOR CONVERSION NOT FOUND: WRONG PATH OR WRONG NAME.",
        "ERROR: THE EXTENTION NAME OF THE INPUT FILE CANNOT BE \"430\" OR \"ARP\".",
        "ERROR: THE NAME OF THE INPUT FILE DOES NOT MATCH THE TYPE OF DATA FORMAT (NON-VXO).",
        "ERROR: NO PROPER DATA FOUND IN THE INPUT FILE.",
        "ERROR: CANNOT FIND THE PATH TO CREATE OUTPUT FILES.",
        "FATAL ERROR: THE SPECIFIED PROGRAM FOR DATA FORMAT CONVERSION IS NOT EXECUTABLE!",
        "FATAL ERROR: EXECUTION ERRORS FOUND IN THE SPECIFIED PROGRAM FOR DATA FORMAT CONVERSION",
        "FATAL ERROR: YOU HAVE TO INCLUDE AT LEAST 5 PARAMETERS IN THE COMMAND LINE TO DO BATCH JOB!",
        // Not in the original table: a command-line parameter that is not a format keyword.
        "FATAL ERROR: EVERY PARAMETER IN THE COMMAND LINE MUST BE ONE OF THE FORMATS VXO, STANDARD OR OTHER!",
        // Not in the original table: the files of the input directory cannot be listed.
        "ERROR: THE FILES OF THE INPUT DIRECTORY CANNOT BE LISTED. CHECK THE PATH AND ITS PERMISSIONS.",
    };
    if (CODE < 0 || CODE >= static_cast<int>(table.size())) return {};
    return std::string(" ") + table[static_cast<size_t>(CODE)];
}

}  // namespace zelk::app
