#include "serving/chatcommand.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView SendWord = u" send ";

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Reads blanks, an optional sign, digits with an optional decimal fraction,
// and blanks; anything else is not a number.
std::optional<double> readNumber(QStringView text)
{
    qsizetype at = 0;
    const qsizetype size = text.size();
    while (at < size && text[at] == u' ')
        ++at;
    const qsizetype start = at;
    if (at < size && (text[at] == u'+' || text[at] == u'-'))
        ++at;
    qsizetype digits = 0;
    while (at < size && isDigit(text[at]))
        ++at, ++digits;
    if (at < size && text[at] == u'.') {
        ++at;
        while (at < size && isDigit(text[at]))
            ++at, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    const qsizetype end = at;
    while (at < size && text[at] == u' ')
        ++at;
    if (at != size)
        return std::nullopt;
    bool ok = false;
    const double value = text.sliced(start, end - start).toString().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<int> ChatCommand::itemNumber(const QString &numberText, int rowCount)
{
    const std::optional<double> number = readNumber(numberText);
    if (!number || *number >= double(rowCount))
        return std::nullopt;
    // A half goes to the even neighbour: 2.5 is item 2, 3.5 is item 4.
    const double rounded = std::nearbyint(*number);
    if (rounded < 0 || rounded > double(rowCount - 1))
        return std::nullopt;
    return int(rounded);
}

std::optional<ChatCommand> CommandForms::parse(const QString &line, const QString &screenName)
{
    // Both commands hold a "/"; most chat lines do not, and are done with here.
    qsizetype slash = line.indexOf(u'/');
    if (slash < 0)
        return std::nullopt;
    if (!m_built || screenName != m_screenName)
        rebuild(screenName);

    // Letters are compared one for one, so only a line of the same length can match.
    const auto isListForm = [&line](const QString &form) {
        return line.size() == form.size() && line.compare(form, Qt::CaseInsensitive) == 0;
    };
    if (isListForm(m_compactList) || isListForm(m_fullList))
        return ChatCommand{ChatCommand::Kind::List, {}};

    // A command prefix starts at one of the line's slashes; a search's words
    // are what follows its own prefix.
    bool addressed = false;
    for (; slash >= 0 && !addressed; slash = line.indexOf(u'/', slash + 1)) {
        const QStringView rest = QStringView(line).sliced(slash);
        for (const QString *find : {&m_compactFind, &m_fullFind}) {
            if (rest.startsWith(*find, Qt::CaseInsensitive))
                return ChatCommand{ChatCommand::Kind::Find, rest.sliced(find->size()).toString()};
        }
        addressed =
            rest.startsWith(m_compactPrefix, Qt::CaseInsensitive) || rest.startsWith(m_fullPrefix, Qt::CaseInsensitive);
    }
    if (!addressed)
        return std::nullopt;
    // The number follows the first " send " of the line, even one that stands
    // before the command itself.
    const qsizetype send = line.indexOf(SendWord, 0, Qt::CaseInsensitive);
    return ChatCommand{ChatCommand::Kind::Item, line.mid(send + SendWord.size() - 1)};
}

void CommandForms::rebuild(const QString &screenName)
{
    m_screenName = screenName;
    m_built = true;
    QString compact = screenName;
    compact.remove(u' ');
    m_compactList = u"/"_s % compact % u" send list"_s;
    m_fullList = u"/"_s % screenName % u" send list"_s;
    m_compactPrefix = u"/"_s % compact % SendWord;
    m_fullPrefix = u"/"_s % screenName % SendWord;
    m_compactFind = m_compactPrefix % u"find "_s;
    m_fullFind = m_fullPrefix % u"find "_s;
}
