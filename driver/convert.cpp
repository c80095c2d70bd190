// Conversion of non-VXO input.
#include "driver/convert.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

#include "driver/inspect.hpp"
#include "core/fortran_io.hpp"
#include "iondata/record.hpp"
#include "iondata/standard.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

// What identifies the content of a file without reading it: a change of any of these
// between two looks means the file was replaced or written meanwhile.
struct FileMark {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtime_ns = 0;
    bool operator==(const FileMark&) const = default;
};

bool mark_of(const std::string& path, FileMark& m) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    m = {st.st_dev, st.st_ino, st.st_size,
         static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
    return true;
}

// True when the two files exist and hold the same bytes.
bool same_content(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    char ba[1 << 14], bb[1 << 14];
    for (;;) {
        fa.read(ba, sizeof ba);
        fb.read(bb, sizeof bb);
        const std::streamsize na = fa.gcount(), nb = fb.gcount();
        if (na != nb || std::memcmp(ba, bb, static_cast<size_t>(na)) != 0) return false;
        if (na == 0) return fa.eof() && fb.eof();
    }
}

std::string seconds(double s) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", s);
    return b;
}

// What a converter that did not succeed did, for the user.
std::string failure(const platform::ProgramRun& r, double timeout_s) {
    if (r.timed_out) return "did not end within " + seconds(timeout_s) + " s and was stopped";
    if (r.signal != 0) return std::string("was ended by signal ") + std::to_string(r.signal) +
                              " (" + strsignal(r.signal) + ")";
    return "ended with exit status " + std::to_string(r.status);
}

}  // namespace

bool parse_format(const std::string& text, InputFormat& format) {
    std::string t = text;
    std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (t == "vxo") {
        format = InputFormat::VXO;
    } else if (t == "standard") {
        format = InputFormat::STANDARD;
    } else if (t == "other") {
        format = InputFormat::OTHER;
    } else {
        return false;
    }
    return true;
}

std::string check_converter(const std::string& prog) {
    std::error_code ec;
    if (prog.empty()) return "no conversion program given";
    if (!fs::exists(prog, ec)) return prog + ": no such file";
    if (!fs::is_regular_file(prog, ec)) return prog + ": not a regular file";
    if (!platform::is_executable_file(prog)) return prog + ": not executable";
    return {};
}

std::string Conversion::NONVXO_VXO(const std::string& PROG, const std::string& path, bool NOCONV,
                                   std::vector<std::string>& notices) {
    const auto say = [&](const std::string& text) { notices.push_back(path + ": " + text); };
    std::string why;
    if (!dir_.make("zelk-conv-", why)) {
        say("cannot make a temporary directory (" + why + ")");
        return {};
    }
    const std::string name = fs::path(path).filename().string();
    const std::string vxo = (fs::path(dir_.path()) / (name + ".TMPVXO")).string();
    dir_.track(vxo);
    std::string standard = path;

    if (!NOCONV) {
        // The converter gets a read-only copy of the input, under the input's name; the input
        // itself is not named to it.
        FileMark before{};
        if (!mark_of(path, before) || !fs::is_regular_file(path)) {
            say("cannot be read");
            dir_.remove();
            return {};
        }
        const fs::path indir = fs::path(dir_.path()) / "in";
        const std::string copy = (indir / name).string();
        standard = (fs::path(dir_.path()) / (name + ".TMPSTD")).string();
        dir_.track(indir.string());
        dir_.track(copy);
        dir_.track(standard);
        std::error_code ec;
        fs::create_directory(indir, ec);
        if (!ec) fs::copy_file(path, copy, ec);
        if (ec) {
            say("cannot be copied for the converter (" + ec.message() + ")");
            dir_.remove();
            return {};
        }
        fs::permissions(copy, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, ec);

        const platform::ProgramRun run = platform::run_program(PROG, {PROG, copy, standard}, timeout_);
        if (!run.started) {
            say("the conversion program " + PROG + " cannot be started (" + std::strerror(run.error) + ")");
            dir_.remove();
            return CONVERTER_NOT_EXECUTABLE;
        }
        // A converter that reports a failure has not converted the file, whatever it left.
        std::string refused;
        FileMark after{};
        if (!run.exited || run.status != 0) {
            refused = "the conversion program " + PROG + " " + failure(run, timeout_);
        } else if (!same_content(copy, path)) {
            refused = "the conversion program " + PROG + " changed or removed the input it was given";
        } else if (!mark_of(path, after) || !(after == before)) {
            say("changed while it was being converted; the conversion is not used");
            dir_.remove();
            return {};
        } else {
            std::error_code ec2;
            const fs::file_status st = fs::symlink_status(standard, ec2);
            if (ec2 || !fs::exists(st)) {
                refused = "the conversion program " + PROG + " wrote no Standard file";
            } else if (!fs::is_regular_file(st)) {
                refused = "the conversion program " + PROG + " left something other than a file as its Standard file";
            } else if (fs::file_size(standard, ec2) == 0 || ec2) {
                refused = "the conversion program " + PROG + " wrote an empty Standard file";
            }
        }
        if (!refused.empty()) {
            say(refused + "; its output is not used");
            dir_.remove();
            return CONVERTER_BAD;
        }
    }

    // The Standard file into the temporary VXO file, one converted record after another.
    fio::LineReader in;
    if (!in.open(standard)) {
        say(std::string("cannot be opened (") + std::strerror(errno) + ")");
        dir_.remove();
        return {};
    }
    fio::LineWriter out;
    if (!out.open(vxo)) {
        say("cannot write the temporary file " + vxo);
        dir_.remove();
        return {};
    }
    auto rec = std::make_unique<iondata::IonogramRecord>();
    const iondata::StandardOutcome res = iondata::standard_to_vxo(in, out, *rec);
    const bool read_failed = in.failed();
    in.close();
    const bool written = out.close();
    if (!NOCONV) {
        std::error_code ec;
        fs::remove(standard, ec);
    }
    const std::string origin = NOCONV ? std::string() : " (in the converter's output)";
    for (const std::string& n : res.notices) say(n + origin);
    if (read_failed) say("reading failed; the records before the failure are used");
    if (!written) {
        say("cannot write the temporary file " + vxo);
        dir_.remove();
        return {};
    }
    if (res.written == 0) {
        say(res.records == 0 ? "no Standard record found" + origin
                             : "none of its " + std::to_string(res.records) + " Standard records could be converted");
        dir_.remove();
        return {};
    }
    return vxo;
}

int inspect_converted(const std::vector<std::string>& files, bool NOCONV, const std::string& PROG,
                      double timeout_s, std::ostream& out, std::ostream& err) {
    int status = 0;
    out << "file,record,version,station,stamp,groups,status,time,step,nE,nF1,nF2\n";
    for (const std::string& f : files) {
        Conversion conv(timeout_s);
        std::vector<std::string> notices;
        const std::string vxo = conv.NONVXO_VXO(PROG, f, NOCONV, notices);
        for (const std::string& n : notices) err << "zelk-batch: " << n << '\n';
        if (vxo == CONVERTER_NOT_EXECUTABLE || vxo == CONVERTER_BAD) {
            err << "zelk-batch: " << (vxo == CONVERTER_BAD ? MESSAGE_23 : MESSAGE_22) << '\n';
            out.flush();
            return 5;
        }
        if (vxo.empty() || !inspect_file(vxo, f, out, err)) status = 1;
    }
    out.flush();
    return status;
}

}  // namespace zelk::driver
