#pragma once

#include "web/adminchange.h"
#include "web/websnapshot.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QObject;
class WebMetrics;

// The web face of the server: an HTTP (or HTTPS) server on a thread of its
// own, answering from the last snapshot the chat thread published. A slow or
// hostile client costs that thread only; the limits below bound what any
// client can hold.
class WebFace final
{
public:
    // Connections at most, in all and from one address: ten addresses hold a
    // few hundred at most, so a few clients cannot shut others out. A request
    // must be in (headers and any body) within RequestDeadline of its first
    // byte, however slowly it trickles; an idle connection is closed after
    // IdleTimeoutSeconds. A request's headers must fit in RequestMemoryBytes; a
    // request with a body is refused.
    static constexpr unsigned ConnectionsAtMost = 4096;
    static constexpr unsigned ConnectionsPerAddress = 32;
    static constexpr std::chrono::seconds RequestDeadline{10};
    static constexpr unsigned IdleTimeoutSeconds = 30;
    static constexpr std::size_t RequestMemoryBytes = 64 * 1024;
    // The pages kept made, searches and the exports together.
    static constexpr qint64 PageCacheBytes = 16 * 1024 * 1024;

    struct Settings
    {
        QString host; // an IP address: 127.0.0.1, ::1
        quint16 port = 0;
        QString certificate; // PEM files for HTTPS; both or neither
        QString key;
        QByteArray adminPasswordHash; // Argon2id; empty: no admin page
        std::chrono::milliseconds requestDeadline = RequestDeadline;
    };
    // The largest form the admin page takes.
    static constexpr qsizetype FormBytesAtMost = 64 * 1024;

    WebFace();
    ~WebFace();
    WebFace(const WebFace &) = delete;
    WebFace &operator=(const WebFace &) = delete;

    // Starts listening; what went wrong otherwise.
    [[nodiscard]] QString start(const Settings &settings);
    void stop();
    // The port it listens on (the one chosen when the settings said 0).
    [[nodiscard]] quint16 port() const;
    // Replaces what the pages show; requests already being answered keep theirs.
    void publish(WebSnapshot snapshot);
    // The bytes of the pages kept made (at most PageCacheBytes).
    [[nodiscard]] qint64 cachedBytes() const;
    // Serves the figures at /metrics; set before start, and outliving the face.
    void setMetrics(const WebMetrics *metrics);
    // Makes the admin page's changes: run on context's thread (the chat
    // thread), which answers with what to tell the operator. Set before start.
    void setAdminRunner(QObject *context, std::function<AdminChange::Told(const AdminChange::Change &)> run);

    // The state the HTTP thread reads, in the source file.
    struct Private;

private:
    std::unique_ptr<Private> d;
};
