#include "core/Properties.h"

#include <sstream>

namespace Veltrane {

bool Properties::param(const std::string& name, int& value) const
{
    const auto found = m_values.find(name);
    if (found == m_values.end())
        return false;
    std::istringstream text(found->second);
    int parsed = 0;
    if (!(text >> parsed))
        return false;
    value = parsed;
    return true;
}

void Properties::setParam(const std::string& name, int value)
{
    m_values[name] = std::to_string(value);
}

}  // namespace Veltrane
