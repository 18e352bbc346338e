#include "core/Data.h"

#include <algorithm>

namespace Veltrane {

void DataListener::dataDeleted(Data*) {}

void DataListener::dataChanged(Data*) {}

Data::~Data()
{
    for (DataListener* listener : m_listeners)
        listener->dataDeleted(this);
}

bool Data::addListener(DataListener* listener)
{
    if (!listener || std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
        return false;
    m_listeners.push_back(listener);
    return true;
}

bool Data::removeListener(DataListener* listener)
{
    if (!listener)
        return false;
    const auto newEnd = std::remove(m_listeners.begin(), m_listeners.end(), listener);
    if (newEnd == m_listeners.end())
        return false;
    m_listeners.erase(newEnd, m_listeners.end());
    return true;
}

}  // namespace Veltrane
