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
[[nodiscard]] QString labelStopLine();
[[nodiscard]] QString buttonStopLine();

// The two message boxes of the switch.
[[nodiscard]] QString messengerNotRunning();
[[nodiscard]] QString notInChatRoom();

// The instant message that answers an item command.
[[nodiscard]] QString itemReply(const QString &address, const QString &description, const QString &serverMessage);

} // namespace ServingTexts
