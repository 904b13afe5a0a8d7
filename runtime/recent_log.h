// A log that keeps only its latest entries, so that a host running for days
// holds as much as one running for a minute. Adding an entry allocates
// nothing (beyond what copying the entry itself allocates): the window of
// kept entries slides over twice their number of slots, reserved at the
// start (memory the system hands out only as the slots are first written),
// and when it reaches the end is swapped back to the front (strings keep
// their buffers for the next entries).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace runtime {

template <typename T>
class RecentLog {
public:
    using value_type = T;
    using const_iterator = typename std::vector<T>::const_iterator;
    using iterator = const_iterator;

    explicit RecentLog(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) { slots_.reserve(2 * capacity_); }

    // Adds an entry, dropping the oldest when full. Never throws: an entry
    // that cannot be stored for want of memory is counted as dropped.
    template <typename Value>
    void add(const Value& value) noexcept {
        try {
            if (count_ == capacity_) {
                ++first_;
                --count_;
                ++dropped_;
            }
            if (first_ + count_ == slots_.size() && slots_.size() == 2 * capacity_) {
                // count_ < capacity_ <= first_: the ranges do not overlap.
                std::swap_ranges(slots_.begin() + static_cast<std::ptrdiff_t>(first_),
                                 slots_.begin() + static_cast<std::ptrdiff_t>(first_ + count_), slots_.begin());
                first_ = 0;
            }
            const size_t at = first_ + count_;
            if (at == slots_.size()) {
                slots_.emplace_back(value);
            } else {
                slots_[at] = value;
            }
            ++count_;
        } catch (...) {
            ++dropped_;
        }
    }

    // Forgets the entries; the slots stay for the next ones.
    void clear() noexcept {
        first_ = 0;
        count_ = 0;
    }

    size_t capacity() const { return capacity_; }
    // Entries dropped (oldest first, or unstorable) since the log began.
    uint64_t dropped() const { return dropped_; }

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const_iterator begin() const { return slots_.begin() + static_cast<std::ptrdiff_t>(first_); }
    const_iterator end() const { return begin() + static_cast<std::ptrdiff_t>(count_); }
    const T& operator[](size_t i) const { return slots_[first_ + i]; }
    const T& front() const { return slots_[first_]; }
    const T& back() const { return slots_[first_ + count_ - 1]; }

    operator std::vector<T>() const { return std::vector<T>(begin(), end()); }
    friend bool operator==(const RecentLog& log, const std::vector<T>& entries) {
        return std::equal(log.begin(), log.end(), entries.begin(), entries.end());
    }

private:
    size_t capacity_;
    std::vector<T> slots_;
    size_t first_ = 0;
    size_t count_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace runtime
