#pragma once

#include "catalogue/datafolder.h"

#include "platform/addon.h"

#include <memory>

struct ValdrinBas;

// The server message: message.txt in the data folder, and the text that ends
// every item reply (the ServerMessage of the values it shares). A small value
// that shares those values, so the message editor can keep it after the main
// window has closed.
class ServerMessageFile final
{
public:
    ServerMessageFile(DataFolder folder, std::shared_ptr<ValdrinBas> values)
        : m_folder(std::move(folder)), m_values(std::move(values))
    {}

    // Reads message.txt into the server message; empty when there is no file.
    // A file that cannot be read leaves the message as it was and says why.
    [[nodiscard]] FileResult load() const;

    // Writes message.txt first and changes the server message only once it is
    // written; a failed write leaves both as they were.
    [[nodiscard]] FileResult save(const QString &text) const;
    [[nodiscard]] const DataFolder &folder() const { return m_folder; }

    // The server message now.
    [[nodiscard]] const QString &current() const;

private:
    DataFolder m_folder;
    std::shared_ptr<ValdrinBas> m_values;
};
