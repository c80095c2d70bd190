#include "app/files.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <unistd.h>

namespace zelk::app {

namespace fs = std::filesystem;

namespace {

bool is_excluded_ext(const std::string& ext) {
    return same_nocase(ext, ".EXE") || same_nocase(ext, ".430") || same_nocase(ext, ".ARP");
}

std::string with_slash(std::string p) {
    if (p.empty() || p.back() != '/') p += '/';
    return p;
}

}  // namespace

int write_filelist(const PathParts& in, const std::string& filelist) {
    const fs::path dir = in.dir.empty() ? fs::path(".") : fs::path(in.dir);
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return 1;
    std::vector<std::string> names;
    for (const fs::directory_entry& e : it) {
        std::error_code fec;
        // Length 0: directories (which have no length of their own here) and empty files.
        if (!e.is_regular_file(fec) || e.file_size(fec) == 0 || fec) continue;
        const std::string name = e.path().filename().string();
        const PathParts f = split_path(name);
        if (is_excluded_ext(f.ext)) continue;
        const bool all_ext = in.ext == ".*";
        const bool take = (in.name == "*" && (all_ext || same_nocase(in.ext, f.ext))) ||
                          (all_ext && same_nocase(in.name, f.name));
        if (take) names.push_back(name);
    }
    if (names.empty()) {
        fs::remove(filelist, ec);
        return 5;
    }
    std::sort(names.begin(), names.end());
    // Written under a temporary name and renamed, so that the run never reads half a list.
    const std::string tmp = filelist + ".part";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        for (const std::string& n : names) out << n << '\n';
        out.flush();
        if (!out) {
            fs::remove(tmp, ec);
            return MESSAGE_ENUMERATION;
        }
    }
    fs::rename(tmp, filelist, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return MESSAGE_ENUMERATION;
    }
    return 0;
}

bool can_create_in(const std::string& dir) {
    std::string templ = (dir.empty() ? std::string("./") : with_slash(dir)) + ".ZELK_TEST.XXXXXX";
    const int fd = ::mkstemp(templ.data());
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(templ.c_str());
    return true;
}

Listing list_directory(const std::string& path) {
    Listing l;
    std::error_code ec;
    fs::directory_iterator it(path.empty() ? fs::path("/") : fs::path(path), ec);
    if (ec) return l;
    for (const fs::directory_entry& e : it) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) > 127; }))
            continue;
        std::error_code dec;
        if (e.is_directory(dec)) {
            l.dirs.push_back(name);
        } else {
            l.files.push_back(name);
        }
    }
    l.ok = true;
    l.total_files = l.files.size();
    for (auto* v : {&l.dirs, &l.files}) {
        std::sort(v->begin(), v->end());
        if (v->size() > Listing::MAXNAMES) v->resize(Listing::MAXNAMES);
    }
    return l;
}

std::vector<std::string> start_places() {
    std::vector<std::string> places{"/"};
    auto add = [&](const std::string& p) {
        if (p.empty() || p[0] != '/') return;
        const std::string d = with_slash(p);
        if (std::find(places.begin(), places.end(), d) == places.end()) places.push_back(d);
    };
    if (const char* home = std::getenv("HOME")) add(home);
    std::error_code ec;
    add(fs::current_path(ec).string());
    // Mounted volumes: the mount table's mount points under the usual places for them.
    std::ifstream mounts("/proc/self/mounts");
    std::string dev, point, rest;
    while (mounts >> dev >> point && std::getline(mounts, rest)) {
        for (const char* base : {"/media/", "/mnt/", "/run/media/"}) {
            if (point.rfind(base, 0) == 0) add(point);
        }
    }
    return places;
}

}  // namespace zelk::app
