#include "serving/servermessage.h"

#include "serving/valdrinbas.h"

FileResult ServerMessageFile::load() const
{
    const TextFileContents message = addon::ReadTextFile(m_folder.messagePath());
    if (message.ok())
        m_values->ServerMessage = message.value;
    return {message.error};
}

FileResult ServerMessageFile::save(const QString &text) const
{
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
