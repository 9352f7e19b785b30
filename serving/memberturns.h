#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The members with something to send, in turn: each gets one line, then the
// next, and a member who joins the round waits for the others' turns.
class MemberTurns final
{
public:
    // A member with something to send now takes part, at the end of the round.
    void add(const QString &member) { m_turns.append(member); }
    // A member with nothing left to send leaves the round; the turn stays where it was.
    void remove(const QString &member);
    void rename(const QString &oldName, const QString &newName);
    void clear();

    // The first member from the current turn on for whom ready() holds (item
    // replies before list pages is the caller's), if any.
    [[nodiscard]] std::optional<QString> next(const std::function<bool(const QString &member)> &ready) const;
    // The member's line went: the turn passes to the one after him.
    void served(const QString &member);

private:
    QStringList m_turns;
    qsizetype m_turn = 0;
};
