// A text buffer for one file's diagnostics while several files are processed at once: the
// text stays in memory up to a threshold and goes to an anonymous temporary file beyond it,
// so that memory stays bounded however much a file lists, and is passed on unchanged.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>

namespace zelk::driver {

class SpillBuffer final : public std::streambuf {
public:
    explicit SpillBuffer(size_t limit) : limit_(limit) {}
    ~SpillBuffer() override;
    SpillBuffer(const SpillBuffer&) = delete;
    SpillBuffer& operator=(const SpillBuffer&) = delete;

    // Writes everything held to out, in order, and starts empty again. False when the
    // temporary file could not be written or read back (what could be read is passed on).
    bool pass_to(std::ostream& out);
    // Bytes held in memory now (at most the threshold plus one write).
    size_t in_memory() const { return mem_.size(); }
    // True once the text went beyond the threshold into the temporary file.
    bool spilled() const { return fp_ != nullptr; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    void spill();

    size_t limit_;
    std::string mem_;
    std::FILE* fp_ = nullptr;
    bool failed_ = false;
};

class SpillStream final : public std::ostream {
public:
    // Text beyond `limit` bytes goes to a temporary file (default 4 MiB).
    explicit SpillStream(size_t limit = size_t{4} << 20) : std::ostream(nullptr), buf_(limit) { rdbuf(&buf_); }
    bool pass_to(std::ostream& out) { return buf_.pass_to(out); }
    const SpillBuffer& buffer() const { return buf_; }

private:
    SpillBuffer buf_;
};

}  // namespace zelk::driver
