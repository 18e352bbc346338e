#pragma once

#include <CL/cl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace Veltrane {

/// Runs an OpenCL info query in its two steps: the value's size first, then
/// the value. `query(size, value, sizeReturned)` forwards to one clGet*Info
/// call. Empty on failure, with the code in `error` when given.
template <typename Query>
std::vector<unsigned char> clInfoBytes(Query query, int* error)
{
    std::vector<unsigned char> bytes;
    std::size_t size = 0;
    cl_int code = query(0, nullptr, &size);
    if (code == CL_SUCCESS && size > 0) {
        bytes.resize(size);
        code = query(size, bytes.data(), nullptr);
        if (code != CL_SUCCESS)
            bytes.clear();
    }
    if (error)
        *error = code;
    return bytes;
}

/// A queried text without OpenCL's terminating NUL (and anything after it).
inline std::string clInfoText(const std::vector<unsigned char>& bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), '\0');
    return std::string(bytes.begin(), end);
}

/// A queried fixed-width value: at most sizeof(T) bytes are used, missing
/// bytes stay zero.
template <typename T>
T clInfoScalar(const std::vector<unsigned char>& bytes)
{
    T value{};
    if (!bytes.empty())
        std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof(T)));
    return value;
}

/// A queried list of fixed-width values; a trailing partial value is dropped.
template <typename T>
std::vector<T> clInfoList(const std::vector<unsigned char>& bytes)
{
    std::vector<T> values(bytes.size() / sizeof(T));
    if (!values.empty())
        std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
    return values;
}

}  // namespace Veltrane
