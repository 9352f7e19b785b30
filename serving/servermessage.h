#pragma once

#include "catalogue/datafolder.h"

#include "platform/addon.h"

// The server message: message.txt in the data folder, and the text that ends
// every item reply (ValdrinBas::ServerMessage). A small value, so the message
// editor can keep it after the main window has closed.
class ServerMessageFile final
{
public:
    explicit ServerMessageFile(DataFolder folder) : m_folder(std::move(folder)) {}

    // Reads message.txt into the server message; empty when there is no file.
    // A file that cannot be read leaves the message as it was and says why.
    [[nodiscard]] FileResult load() const;

    // Writes message.txt first and changes the server message only once it is
    // written; a failed write leaves both as they were.
    [[nodiscard]] FileResult save(const QString &text) const;

private:
    DataFolder m_folder;
};
