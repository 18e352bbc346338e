#pragma once

#include <map>
#include <string>

namespace Veltrane {

/// A named parameter set: values are kept as text under their names.
class Properties {
public:
    /// Parses the value stored under `name` into `value`. False, `value`
    /// untouched, when `name` is missing or its text is not an integer.
    bool param(const std::string& name, int& value) const;
    /// Stores `value` as decimal text under `name`, replacing an earlier one.
    void setParam(const std::string& name, int value);

private:
    std::map<std::string, std::string> m_values;
};

/// Something that reads its parameters from and writes them to a parameter set.
class Configurable {
public:
    virtual ~Configurable() = default;

    /// Reads the own parameters that `properties` holds; null does nothing.
    virtual void configure(const Properties* properties) = 0;
    /// Writes the own parameters into `properties`; null does nothing.
    virtual void configuration(Properties* properties) const = 0;
};

}  // namespace Veltrane
