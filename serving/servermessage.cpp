#include "serving/servermessage.h"

#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

using namespace Qt::StringLiterals;

FileResult ServerMessageFile::load() const
{
    const TextFileContents message = addon::ReadTextFile(m_folder.messagePath());
    if (message.ok())
        m_values->ServerMessage = message.value;
    return {message.error};
}

FileResult ServerMessageFile::save(const QString &text) const
{
    // The message ends every item reply, and one reply carries no more: a
    // longer message would reach every member cut. Checked here, on the text
    // as it is stored, for every way of setting it.
    using ServingTexts::LongestMessageBytes;
    if (const qsizetype reply = ServingTexts::utf8Size(ServingTexts::itemReply({}, {}, text));
        reply > LongestMessageBytes) {
        return {u"The server message was not set: an item reply with it would be %1 bytes, more than the %2 bytes "
                u"(%3 KiB) one message carries. Shorten it by %4 bytes or more."_s.arg(reply)
                    .arg(LongestMessageBytes)
                    .arg(LongestMessageBytes / 1024)
                    .arg(reply - LongestMessageBytes)};
    }
    // A message the file already holds is not written again.
    if (const TextFileContents stored = addon::ReadTextFile(m_folder.messagePath());
        stored.ok() && stored.value == text && addon::FileExists(m_folder.messagePath())) {
        m_values->ServerMessage = text;
        return {};
    }
    FileResult written = addon::WriteTextFile(m_folder.messagePath(), text);
    if (written.ok())
        m_values->ServerMessage = text;
    return written;
}

const QString &ServerMessageFile::current() const
{
    return m_values->ServerMessage;
}
