#pragma once

#include <QString>

#include <optional>

// Recognises the chat commands addressed to the server's screen name:
// "/" + name + " send list" (the whole line), "/" + name + " send find " +
// words and "/" + name + " send " + number (anywhere in the line). The name
// counts with or without its blanks; letter case never counts.
class ChatCommand final
{
public:
    enum class Kind { List, Item, Find };

    Kind kind = Kind::List;
    // For an item command: the text after the first " send " of the line,
    // starting with that occurrence's closing blank. For a search: its words,
    // the text after "send find ".
    QString numberText;

    // The item a number text asks for in a catalogue of rowCount items: blanks
    // around, an optional sign and decimal fraction allowed, rounded half to even.
    [[nodiscard]] static std::optional<int> itemNumber(const QString &numberText, int rowCount);
};

// The command forms of one screen name, made once and kept while the name stays.
class CommandForms final
{
public:
    // The command a line holds, or nothing for any other line.
    [[nodiscard]] std::optional<ChatCommand> parse(const QString &line, const QString &screenName);

private:
    void rebuild(const QString &screenName);

    QString m_screenName;
    bool m_built = false;
    QString m_compactList;
    QString m_fullList;
    QString m_compactPrefix;
    QString m_fullPrefix;
    QString m_compactFind;
    QString m_fullFind;
};
