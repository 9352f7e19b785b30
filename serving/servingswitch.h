#pragma once

#include "serving/sendscheduler.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QTimer;
class RowList;
class SendScheduler;
struct ValdrinBas;

namespace MorvexAIMOCX {
class AIM;
}

// How serving is switched on: with the full opening lines (the messenger is
// checked first, the list pages rebuilt, the catalogue's size announced), or
// with the short ones (no checks, no rebuild, no size).
enum class OpeningLines { Full, Short };
// The line that says serving stopped: "No longer serving", or "Server Off".
enum class StopLine { NoLongerServing, ServerOff };

// Switches serving on and off and advertises the server in the room while it is on.
class ServingSwitch final : public QObject
{
    Q_OBJECT

public:
    static constexpr int AdvertisementIntervalMs = 60000;

    // The room's lines leave through the scheduler, ahead of every reply.
    // A switch-on with the full opening lines rebuilds the list pages of the values.
    ServingSwitch(MorvexAIMOCX::AIM *messenger, SendScheduler *scheduler, const RowList &descriptions,
                  ValdrinBas &values, QTimer *timer, QObject *parent = nullptr);

    // Announces the server and starts serving: its commands are answered and
    // it is advertised every interval. False when the messenger refused it (with
    // Full: not running or in no room, told by refused) or a call failed; the
    // steps after the failing one do not run.
    bool switchOn(OpeningLines lines);
    // Says serving stopped and stops it; false when a messenger call failed.
    bool switchOff(StopLine line);
    // The advertisement, at every tick of the timer.
    void advertise();

    // True from a switch-on until the next switch-off.
    [[nodiscard]] bool isServing() const { return m_serving; }
    // The room's name in the log ("[libera #links]").
    void setLabel(const QString &label) { m_label = label; }
    // With search on, the opening lines and the advertisement tell the search command too.
    void setSearchTold(bool told) { m_searchTold = told; }

Q_SIGNALS:
    // Serving cannot be switched on; the text says why (a message box in the window).
    void refused(const QString &text);
    // Serving was switched on or off.
    void servingChanged(bool serving);

private:
    // Runs the steps; a failing messenger call ends them at that step (false).
    bool runSteps(const char *what, const std::function<void()> &steps);
    void setServing(bool serving);
    // One line more when the operator named the catalogue's web address.
    [[nodiscard]] static SendScheduler::RoomText fixed(const QString &text);
    // The lines that tell the commands (and where the web page is).
    [[nodiscard]] QList<SendScheduler::RoomText> commandLines() const;

    QPointer<MorvexAIMOCX::AIM> m_messenger;
    SendScheduler *m_scheduler;
    const RowList &m_descriptions;
    ValdrinBas &m_values;
    QString m_label;
    QTimer *m_timer;
    bool m_serving = false;
    bool m_searchTold = false;
};
