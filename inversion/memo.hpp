// A memo of pure computations of the inversion, one per thread and computation.
//
// The kernels of a region and the valley's group paths are functions of the inputs they
// read alone. The refined mode solves the same regions and recomputes the same virtual
// heights for every trial valley, and the solver builds a region's kernels again for its
// error, so a computation often repeats one made before on the same thread. Recent results
// are kept in a table of fixed size addressed by a hash of every input they were computed
// from; a computation whose inputs match a kept one bit for bit takes its result, the same
// floats, instead of computing it again. Results too large for a slot are not kept, so the
// table never holds more than SLOTS x MAXFLOATS floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zelk::inversion {

class KernelMemo {
public:
    // A lookup: the inputs are added, then take, and after a miss keep.
    void begin() { key_.clear(); }
    void add(float v) { key_.push_back(v); }
    void add(const float* v, int n) { key_.insert(key_.end(), v, v + n); }
    // The result kept for the inputs added, copied into ROWS (NROWS rows of N floats); false
    // when none is kept.
    bool take(float* const* rows, int nrows, int n) {
        const std::vector<float>* kept = find();
        if (kept == nullptr) return false;
        for (int i = 0; i < nrows; ++i)
            std::memcpy(rows[i], kept->data() + static_cast<size_t>(i) * static_cast<size_t>(n),
                        static_cast<size_t>(n) * sizeof(float));
        return true;
    }
    // Keeps the result (NROWS rows of N floats) of the inputs of the last take, in one of
    // the slots their hash may use, in turn.
    void keep(const float* const* rows, int nrows, int n) {
        if (key_.size() + static_cast<size_t>(nrows) * static_cast<size_t>(n) > MAXFLOATS) return;
        if (slots_.empty()) slots_.resize(SLOTS);
        Slot& s = slots_[(hash_ + turn_++ % PROBES) % SLOTS];
        s.hash = hash_;
        s.key = key_;
        s.out.clear();
        for (int i = 0; i < nrows; ++i) s.out.insert(s.out.end(), rows[i], rows[i] + n);
    }

private:
    const std::vector<float>* find() {
        hash_ = 1469598103934665603ull;
        for (const float v : key_) {
            uint32_t b;
            std::memcpy(&b, &v, sizeof b);
            hash_ = (hash_ ^ b) * 1099511628211ull;
        }
        for (size_t p = 0; p < PROBES && !slots_.empty(); ++p) {
            const Slot& s = slots_[(hash_ + p) % SLOTS];
            if (s.hash == hash_ && s.key.size() == key_.size() &&
                std::memcmp(s.key.data(), key_.data(), key_.size() * sizeof(float)) == 0)
                return &s.out;
        }
        return nullptr;
    }
    static constexpr size_t SLOTS = 1024, PROBES = 4, MAXFLOATS = 1024;
    struct Slot {
        uint64_t hash = 0;
        std::vector<float> key, out;
    };
    std::vector<Slot> slots_;
    std::vector<float> key_;
    uint64_t hash_ = 0;
    size_t turn_ = 0;
};

}  // namespace zelk::inversion
