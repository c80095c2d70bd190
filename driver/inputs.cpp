// The input files of the batch program: expansion of files, directories and patterns, the
// output name of each file, and the slices of --shard.
#include "driver/batch.hpp"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// Files a directory or pattern run leaves out: hidden files (the temporary outputs among
// them), empty files, earlier outputs and programs.
bool listed(const fs::directory_entry& e) {
    std::error_code ec;
    if (!e.is_regular_file(ec) || ec) return false;
    const std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.') return false;
    if (e.file_size(ec) == 0 || ec) return false;
    const std::string ext = upper(e.path().extension().string());
    return ext != ".430" && ext != ".ARP" && ext != ".EXE";
}

}  // namespace

// Identities (device, inode) of existing files, to recognise a file under any of its names.
FileIds file_ids(const std::vector<std::string>& files) {
    FileIds ids;
    for (const std::string& f : files) {
        struct stat st {};
        if (::stat(f.c_str(), &st) == 0) ids.insert({st.st_dev, st.st_ino});
    }
    return ids;
}

bool is_one_of(const std::string& path, const FileIds& ids) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && ids.count({st.st_dev, st.st_ino}) > 0;
}

bool expand_inputs(const std::vector<std::string>& inputs, std::vector<std::string>& files,
                   bool& several, std::string& error) {
    files.clear();
    several = false;
    for (const std::string& in : inputs) {
        const fs::path p(in);
        const std::string name = p.filename().string();
        std::vector<std::string> found;
        std::error_code ec;
        const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
        if (dir.string().find_first_of("*?") != std::string::npos) {
            error = in + ": wildcards are allowed in the file name only";
            return false;
        }
        if (name.find_first_of("*?") != std::string::npos) {
            several = true;
            fs::directory_iterator it(dir, ec);
            if (ec) {
                error = in + ": " + ec.message();
                return false;
            }
            for (const fs::directory_entry& e : it) {
                const std::string n = e.path().filename().string();
                if (::fnmatch(name.c_str(), n.c_str(), FNM_PERIOD) == 0 && listed(e)) {
                    found.push_back(p.has_parent_path() ? (p.parent_path() / n).string() : n);
                }
            }
            if (found.empty()) {
                error = in + ": no input files match";
                return false;
            }
        } else if (fs::is_directory(p, ec)) {
            several = true;
            fs::directory_iterator it(p, ec);
            if (ec) {
                error = in + ": " + ec.message();
                return false;
            }
            for (const fs::directory_entry& e : it) {
                if (listed(e)) found.push_back((p / e.path().filename()).string());
            }
            if (found.empty()) {
                error = in + ": the directory holds no input files";
                return false;
            }
        } else if (fs::is_regular_file(p, ec) || !fs::exists(p, ec)) {
            // A file that does not exist is left to the run, which reports it and goes on
            // with the other files, as with a file that cannot be opened.
            found.push_back(in);
        } else {
            error = in + ": not a regular file";
            return false;
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    if (files.size() > 1) several = true;
    return true;
}

bool batch_jobs(const std::vector<std::string>& files, bool several, const std::string& output,
                std::vector<FileJob>& jobs, bool& outdir, std::string& error) {
    jobs.clear();
    outdir = false;
    const bool none = output.empty() || output == "NONE";
    std::error_code ec;
    if (!none) {
        outdir = several || fs::is_directory(output, ec) || output.back() == '/';
        if (several && fs::exists(output, ec) && !fs::is_directory(output, ec)) {
            error = output + ": several inputs need an output directory, and this is a file";
            return false;
        }
    }
    for (const std::string& f : files) {
        std::string out;
        if (!none) {
            out = outdir ? (fs::path(output) / (fs::path(f).filename().string() + ".430")).string()
                         : output;
        }
        jobs.push_back({f, out});
    }
    if (none) return true;
    // Refuse an output that is an input of the run (the same file, by device and inode, so
    // that links are caught too), and two inputs sharing an output.
    const FileIds inputs = file_ids(files);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (is_one_of(jobs[i].output, inputs)) {
            error = jobs[i].output + " is an input file of the run; refused";
            return false;
        }
        const std::string key = fs::absolute(jobs[i].output, ec).lexically_normal().string();
        const auto [at, fresh] = seen.emplace(key, i);
        if (!fresh) {
            error = jobs[at->second].input + " and " + jobs[i].input + " would both write " +
                    jobs[i].output + "; refused";
            return false;
        }
    }
    return true;
}

std::pair<size_t, size_t> shard_slice(size_t count, int32_t I, int32_t N) {
    if (N < 1 || I < 1 || I > N) return {0, 0};
    const auto n = static_cast<unsigned long long>(N);
    const auto c = static_cast<unsigned long long>(count);
    return {static_cast<size_t>(c * static_cast<unsigned long long>(I - 1) / n),
            static_cast<size_t>(c * static_cast<unsigned long long>(I) / n)};
}

std::vector<std::string> shard_files(std::vector<std::string> files, int32_t I, int32_t N) {
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    const auto [begin, end] = shard_slice(files.size(), I, N);
    return {files.begin() + static_cast<std::ptrdiff_t>(begin),
            files.begin() + static_cast<std::ptrdiff_t>(end)};
}

}  // namespace zelk::driver
