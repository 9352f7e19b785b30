#include "serving/memberturns.h"

void MemberTurns::remove(const QString &member)
{
    if (const qsizetype turn = m_turns.indexOf(member); turn >= 0) {
        m_turns.removeAt(turn);
        if (turn < m_turn)
            --m_turn;
    }
    // The next turn is the member after the last one served, wherever the round ends.
    if (m_turns.isEmpty())
        m_turn = 0;
}

void MemberTurns::rename(const QString &oldName, const QString &newName)
{
    for (QString &name : m_turns) {
        if (name == oldName)
            name = newName;
    }
}

void MemberTurns::clear()
{
    m_turns.clear();
    m_turn = 0;
}

std::optional<QString> MemberTurns::next(const std::function<bool(const QString &member)> &ready) const
{
    for (qsizetype k = 0; k < m_turns.size(); ++k) {
        const QString &member = m_turns.at((m_turn + k) % m_turns.size());
        if (ready(member))
            return member;
    }
    return std::nullopt;
}

void MemberTurns::served(const QString &member)
{
    if (const qsizetype turn = m_turns.indexOf(member); turn >= 0)
        m_turn = turn + 1;
}
