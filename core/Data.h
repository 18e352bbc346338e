#pragma once

#include <vector>

namespace Veltrane {

class Data;

/// What a `Data` object holds, as returned by `Data::kind()`.
namespace DataKind {
constexpr int Empty = 0;       ///< nothing (an empty set)
constexpr int Image2D = 1;     ///< one image with fewer than two slices
constexpr int Volume = 2;      ///< one image with two or more slices
constexpr int ImageSet = 3;    ///< several images, the first not a volume
constexpr int VolumeSet = 4;   ///< several images, the first a volume
}  // namespace DataKind

/// Observer of a `Data` object. Both notifications do nothing by default.
class DataListener {
public:
    virtual ~DataListener() = default;

    /// `data` is being destroyed; the pointer may only be used to recognise it.
    virtual void dataDeleted(Data* data);
    /// `data` changed (a set's focus or selection, for instance).
    virtual void dataChanged(Data* data);
};

/// Base of every data object passed between the parts of the system.
///
/// Keeps an ordered list of listeners, which it does not own, and tells each of
/// them once, in registration order, when it is destroyed.
class Data {
public:
    Data() = default;
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
    virtual ~Data();

    /// One of the `DataKind` values.
    virtual int kind() const = 0;

    /// Appends `listener`; false for null or for a listener already registered.
    bool addListener(DataListener* listener);
    /// Removes every occurrence of `listener`; false when it is null or absent.
    bool removeListener(DataListener* listener);

    const std::vector<DataListener*>& listeners() const { return m_listeners; }

private:
    std::vector<DataListener*> m_listeners;
};

}  // namespace Veltrane
