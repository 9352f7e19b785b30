#include "serving/listadmission.h"

#include <algorithm>

bool ListAdmission::isWaiting(const QString &key) const
{
    return std::any_of(m_waiting.cbegin(), m_waiting.cend(), [&](const Waiting &list) { return list.to.key == key; });
}

void ListAdmission::started(const QString &key)
{
    m_running.append(key);
    m_mostAtOnce = std::max(m_mostAtOnce, int(m_running.size()));
}

bool ListAdmission::takeNext(Waiting &next)
{
    if (!mayStart() || m_waiting.empty())
        return false;
    next = std::move(m_waiting.front());
    m_waiting.pop_front();
    return true;
}

bool ListAdmission::dropWaiting(const QString &key)
{
    return std::erase_if(m_waiting, [&](const Waiting &list) { return list.to.key == key; }) > 0;
}

void ListAdmission::dropWaitingVia(const MorvexAIMOCX::AIM *room)
{
    std::erase_if(m_waiting, [room](const Waiting &list) { return list.to.via == room; });
}

void ListAdmission::rename(const QString &oldKey, const QString &newKey, const QString &newName)
{
    for (QString &key : m_running) {
        if (key == oldKey)
            key = newKey;
    }
    for (Waiting &list : m_waiting) {
        if (list.to.key == oldKey) {
            list.to.key = newKey;
            list.to.name = newName;
        }
    }
}

void ListAdmission::clear()
{
    m_running.clear();
    m_waiting.clear();
}
