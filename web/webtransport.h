#pragma once

#include "web/webface.h"

#include <QString>

// The web face on libmicrohttpd: its daemon on a thread of its own, the
// requests read off the wire (a form's body gathered, any other body refused
// unread), and the answers queued. What to answer is WebFace::Private's.
namespace WebTransport {

// Loads libmicrohttpd and listens as the settings say; what went wrong otherwise.
[[nodiscard]] QString start(WebFace::Private &face, const WebFace::Settings &settings);
void stop(WebFace::Private &face);
[[nodiscard]] quint16 port(const WebFace::Private &face);

} // namespace WebTransport
