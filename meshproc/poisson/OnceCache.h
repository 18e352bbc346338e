#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Per-index values that are computed once and then reused: each entry is
/// empty until its first value is stored. Not synchronised: the extraction
/// stores only between its parallel passes, which only read.
template <class T>
class OnceCache {
public:
    /// Room for `count` entries, all empty; keeps the storage when it is large
    /// enough already.
    void reserve(size_t count)
    {
        if (count > values_.size()) {
            values_.resize(count);
            set_.resize(count);
        }
        std::fill(set_.begin(), set_.begin() + long(count), uint8_t(0));
    }

    bool isSet(size_t index) const { return set_[index] != 0; }

    /// The stored value of `index` into `value`; false while there is none.
    bool get(size_t index, T& value) const
    {
        if (!isSet(index))
            return false;
        value = values_[index];
        return true;
    }

    /// Stores `value` unless the entry has one already.
    void put(size_t index, const T& value)
    {
        if (!isSet(index))
            overwrite(index, value);
    }

    /// Stores `value`, replacing what the entry held.
    void overwrite(size_t index, const T& value)
    {
        values_[index] = value;
        set_[index] = 1;
    }

private:
    std::vector<T> values_;
    std::vector<uint8_t> set_;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
