#pragma once

#include "platform/messenger.h"
#include "serving/listpages.h"
#include "serving/recipient.h"

#include <QPointer>
#include <QStringList>

#include <deque>

// Which members of a connection have a list being sent, and the lists that wait
// for one of those to end: a few at once, sent in turn line by line, and a
// bounded line behind them. A member is named by his key on the connection.
class ListAdmission final
{
public:
    static constexpr int ListsAtOnce = 4;
    static constexpr int ListsWaitingAtMost = 256;

    // A list waiting to start: to whom, and its pages.
    struct Waiting
    {
        Recipient to;
        ListPageSet pages;
    };

    [[nodiscard]] bool mayStart() const { return m_running.size() < ListsAtOnce; }
    [[nodiscard]] bool lineIsFull() const { return m_waiting.size() >= std::size_t(ListsWaitingAtMost); }
    // The members whose list is being sent, in the order they started.
    [[nodiscard]] const QStringList &running() const { return m_running; }
    [[nodiscard]] int waitingCount() const { return int(m_waiting.size()); }
    [[nodiscard]] int mostAtOnce() const { return m_mostAtOnce; }
    [[nodiscard]] bool isWaiting(const QString &key) const;

    void started(const QString &key);
    void ended(const QString &key) { m_running.removeOne(key); }
    void wait(Waiting list) { m_waiting.push_back(std::move(list)); }
    // The list next in line, once one may start; false when none may.
    [[nodiscard]] bool takeNext(Waiting &next);
    // Takes the member's waiting list out of the line; false when he had none.
    bool dropWaiting(const QString &key);
    // Takes out of the line every list that would go through the room.
    void dropWaitingVia(const MorvexAIMOCX::AIM *room);
    void rename(const QString &oldKey, const QString &newKey, const QString &newName);
    void clear();

private:
    QStringList m_running;
    std::deque<Waiting> m_waiting;
    int m_mostAtOnce = 0;
};
