#pragma once

#include "catalogue/datafolder.h"
#include "networkconf/networksettings.h"
#include "platform/rowlist.h"
#include "serving/servingswitch.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class BackgroundLinkCheck;
class Catalogue;
class FileWatcher;
class LinkServer;
class ServedRooms;

namespace MorvexAIMOCX {
class AIM;
}

// The link server as one object, under either face: the catalogue with its
// list pages and server message, every room it serves (the chat networks of
// network.conf, or one room of its own such as the local room), the web face,
// the catalogue files watched on disk, and its links checked now and then.
// start() serves, reload() reads the files again, stop() ends every reply. The
// windowless server starts it and runs the loop; the window starts it and maps
// its switch onto it.
class ServerCore final : public QObject
{
    Q_OBJECT

public:
    // Who switches serving on in a room once it is joined.
    enum class Serving {
        OnJoin,    // the core, at once: the windowless server
        ByOperator // the operator's switch: the window
    };

    ServerCore(const DataFolder &folder, Serving serving, QObject *parent = nullptr);
    ~ServerCore() override;

    // The start-up load of the catalogue and the server message; a sentence
    // for every file that exists but could not be read.
    [[nodiscard]] QStringList load();
    // Serves the chat networks and the web face of the settings, and watches
    // the files; what is wrong otherwise (nothing is started then).
    [[nodiscard]] QString start(const NetworkConfig &config);
    // Serves one room of its own (the local room), which must outlive the
    // core; the files are watched.
    void start(MorvexAIMOCX::AIM *room);
    // Reads the catalogue files and message.txt again (a change on disk).
    void reloadCatalogue();
    // Reads network.conf again and applies what changed.
    void reloadSettings();
    // Both: the catalogue files and network.conf (SIGHUP).
    void reload();
    // The program is closing: list replies end after their page, and nothing
    // new is answered in any room.
    void stop();

    // The operator's switch for every room: on, each joined room is served at
    // once and the others when they are joined; what refused it otherwise (no
    // room could be served now). Off sends each served room the stop line.
    [[nodiscard]] QString switchOn(OpeningLines lines);
    bool switchOff(StopLine line);
    // Every room's state in a line each: joined, served, its last problem.
    [[nodiscard]] QStringList roomStates() const;

    [[nodiscard]] LinkServer &links() { return *m_links; }
    [[nodiscard]] Catalogue &catalogue();
    // The catalogue's two lists, which the windows show.
    [[nodiscard]] const RowList &descriptions() const { return m_descriptions; }
    [[nodiscard]] const RowList &addresses() const { return m_addresses; }
    [[nodiscard]] ServedRooms &rooms() { return *m_rooms; }
    [[nodiscard]] const DataFolder &folder() const { return m_folder; }
    // The check of the catalogue's links every link-check of network.conf.
    [[nodiscard]] const BackgroundLinkCheck &linkCheck() const { return *m_linkCheck; }

Q_SIGNALS:
    // The catalogue or the server message changed: read from disk again, or
    // changed on the admin page. (A change the window makes itself it shows at once.)
    void catalogueChanged();
    // A room started serving, or a room's state changed: states() and the
    // counts of serving and all rooms.
    void servingChanged(int serving, int rooms);
    // Every network turned the program away for good: nothing is served, nor will be.
    void allRefused();
    // A changed network.conf could not be applied, and why; the rooms go on as they were.
    void settingsRefused(const QString &why);

private:
    // The networks and the web face, where this build has them.
    struct Faces;

    // The catalogue files are watched; the window, which has no SIGHUP,
    // watches network.conf too.
    void watchFiles(bool settingsToo);
    void publish();

    DataFolder m_folder;
    StringRowList m_descriptions;
    StringRowList m_addresses;
    std::unique_ptr<LinkServer> m_links;
    std::unique_ptr<ServedRooms> m_rooms;
    std::unique_ptr<BackgroundLinkCheck> m_linkCheck;
    std::unique_ptr<Faces> m_faces;
    std::unique_ptr<FileWatcher> m_watcher;
    std::unique_ptr<FileWatcher> m_settingsWatcher;
    Serving m_serving;
};
