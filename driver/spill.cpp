// Diagnostics buffered in memory up to a threshold, in a temporary file beyond it.
#include "driver/spill.hpp"

namespace zelk::driver {

SpillBuffer::~SpillBuffer() {
    if (fp_ != nullptr) std::fclose(fp_);
}

void SpillBuffer::spill() {
    if (mem_.size() <= limit_ || failed_) return;
    if (fp_ == nullptr) {
        fp_ = std::tmpfile();   // removed by the system when closed, or when the program ends
        if (fp_ == nullptr) {
            failed_ = true;     // no temporary file: the text stays in memory
            return;
        }
    }
    if (std::fwrite(mem_.data(), 1, mem_.size(), fp_) != mem_.size()) failed_ = true;
    mem_.clear();
}

SpillBuffer::int_type SpillBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    mem_.push_back(traits_type::to_char_type(c));
    spill();
    return c;
}

std::streamsize SpillBuffer::xsputn(const char* s, std::streamsize n) {
    mem_.append(s, static_cast<size_t>(n));
    spill();
    return n;
}

bool SpillBuffer::pass_to(std::ostream& out) {
    bool ok = !failed_;
    if (fp_ != nullptr) {
        if (std::fflush(fp_) != 0 || std::fseek(fp_, 0, SEEK_SET) != 0) ok = false;
        char block[1 << 16];
        size_t got = 0;
        while ((got = std::fread(block, 1, sizeof block, fp_)) > 0) out.write(block, static_cast<std::streamsize>(got));
        if (std::ferror(fp_)) ok = false;
        std::fclose(fp_);
        fp_ = nullptr;
    }
    out.write(mem_.data(), static_cast<std::streamsize>(mem_.size()));
    mem_.clear();
    mem_.shrink_to_fit();
    failed_ = false;
    return ok;
}

}  // namespace zelk::driver
