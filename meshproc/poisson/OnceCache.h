#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Veltrane {
namespace PoissonReconstruction {

/// Per-index cache of values that several threads may compute at once: the
/// first finished writer stores its value, later writers drop theirs (they
/// computed the same value), and readers see a value only once it is complete.
template <class T>
class OnceCache {
public:
    /// Room for `count` entries, all empty. Keeps the storage when it is
    /// already large enough.
    void reserve(size_t count)
    {
        if (count > capacity_) {
            values_.reset(new T[count]());
            flags_.reset(new std::atomic<uint8_t>[count]);
            capacity_ = count;
        }
        clear(count);
    }

    /// Empties the first `count` entries.
    void clear(size_t count)
    {
        for (size_t k = 0; k < count && k < capacity_; ++k)
            flags_[k].store(empty, std::memory_order_relaxed);
    }

    size_t capacity() const { return capacity_; }

    bool isSet(size_t index) const { return flags_[index].load(std::memory_order_acquire) == ready; }

    /// The stored value of `index` into `value`; false while there is none.
    bool get(size_t index, T& value) const
    {
        if (!isSet(index))
            return false;
        value = values_[index];
        return true;
    }

    /// Stores `value` unless the entry is already taken.
    void put(size_t index, const T& value)
    {
        uint8_t expected = empty;
        if (flags_[index].compare_exchange_strong(expected, writing, std::memory_order_acquire)) {
            values_[index] = value;
            flags_[index].store(ready, std::memory_order_release);
        }
    }

    /// Replaces the entry; only for a single writer with no concurrent reader
    /// of the same index.
    void overwrite(size_t index, const T& value)
    {
        values_[index] = value;
        flags_[index].store(ready, std::memory_order_release);
    }

private:
    static constexpr uint8_t empty = 0;
    static constexpr uint8_t writing = 1;
    static constexpr uint8_t ready = 2;

    std::unique_ptr<T[]> values_;
    std::unique_ptr<std::atomic<uint8_t>[]> flags_;
    size_t capacity_ = 0;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
