#pragma once

#include <QString>

// Every text the program writes into the room or sends to a member.
namespace ServingTexts {

// Opens every chat line and the title line of an item reply (48 characters).
inline constexpr char16_t BannerPrefix[] = u"<FONT COLOR=\"#00008A\">(][<FONT COLOR=\"#000000\"> ";
inline constexpr char16_t ProductTitle[] = u"Valdrin AIM Server v2";
inline constexpr char16_t ChatTitle[] = u"Valdrin AIM Server v2 By Morvex";
inline constexpr char16_t CarriageReturn = u'\r';

// The chat lines of the serving switch and the advertisement.
[[nodiscard]] QString titleLine();
[[nodiscard]] QString startSizeLine(int itemCount);
[[nodiscard]] QString advertisedSizeLine(int itemCount);
[[nodiscard]] QString listCommandLine(const QString &screenName);
[[nodiscard]] QString itemCommandLine(const QString &screenName);
// With search on: the line that tells members how to search.
[[nodiscard]] QString findCommandLine(const QString &screenName);
// A search's reply: a match as its list line, linked to its address; the line
// after the first matches when more match; the line when none does.
[[nodiscard]] QString searchMatchLine(int item, const QString &address, const QString &description);
[[nodiscard]] QString searchMoreLine(int more);
[[nodiscard]] QString nothingFoundLine(const QString &words);
// With search on, ahead of a list that takes long at the room's pace.
[[nodiscard]] QString longListLine(int items, int minutes);
// Where the whole catalogue is on the web.
[[nodiscard]] QString catalogueAddressLine(const QString &address);
[[nodiscard]] QString labelStopLine();
[[nodiscard]] QString buttonStopLine();

// The two message boxes of the switch.
[[nodiscard]] QString messengerNotRunning();
[[nodiscard]] QString notInChatRoom();

// The instant message that answers an item command.
[[nodiscard]] QString itemReply(const QString &address, const QString &description, const QString &serverMessage);

// The most one instant message carries, in bytes of UTF-8. Networks refuse or
// split much larger messages (and libpurple's IRC sender aborts on a few
// megabytes), so no member's command may make the program send more at once.
inline constexpr qsizetype LongestMessageBytes = 16 * 1024;
// Ends a message that had to be cut.
inline constexpr char16_t CutMarker[] = u"\r[...]";

// The text's UTF-8 size.
[[nodiscard]] qsizetype utf8Size(QStringView text);
// The message as it is sent: whole when it fits, otherwise its first part, cut
// between two characters, and the marker, within LongestMessageBytes.
[[nodiscard]] QString boundedMessage(const QString &text);

// A line for the log about a room or a connection: its name first, "[libera #links] ...".
[[nodiscard]] QString logLine(const QString &label, const QString &text);
// A member's name as the log shows it: quoted, with control characters escaped,
// so no name can fake a line of its own.
[[nodiscard]] QString shownName(const QString &name);

} // namespace ServingTexts
