#pragma once

#include "serving/chatresponder.h"
#include "serving/servingswitch.h"

#include <QObject>
#include <QPointer>

class FloodGuard;
class QTimer;
class RowList;
class SendScheduler;

namespace MorvexAIMOCX {
class AIM;
}

// The serving of one room: the responder to its commands and its serving
// switch with the advertisement timer. The catalogue, the list pages and the
// server message are the program's, shared by every room; the scheduler and
// the flood guard are its connection's.
class RoomServer final : public QObject
{
    Q_OBJECT

public:
    // The messenger, scheduler, guard and rows must outlive the room's serving;
    // without a guard the room keeps one of its own.
    RoomServer(MorvexAIMOCX::AIM *room, SendScheduler *scheduler, FloodGuard *guard, const RowList &descriptions,
               const RowList &addresses, ValdrinBas &values, QObject *parent = nullptr);
    ~RoomServer() override;

    // The room's name in the log ("[libera #links]"), for its answers and its switch.
    void setLabel(const QString &label);
    // Search in the room (ChatResponder::Search), told in its opening lines and
    // advertisement; nothing: off.
    void setSearch(std::optional<ChatResponder::Search> search);
    [[nodiscard]] bool searchOn() const;
    // Serving switched on and off, and the advertisement (see ServingSwitch).
    bool switchOn(OpeningLines lines);
    bool switchOff(StopLine line);
    void advertise();
    [[nodiscard]] bool isServing() const;
    // Answers nothing more: for a program that is closing.
    void stopReplies();

    [[nodiscard]] MorvexAIMOCX::AIM *room() const { return m_room; }
    [[nodiscard]] ChatResponder &responder() { return *m_responder; }
    [[nodiscard]] QTimer *timer() const { return m_timer; }

Q_SIGNALS:
    // Serving could not be switched on; the text says why.
    void switchRefused(const QString &text);
    void servingChanged(bool serving);

private:
    QPointer<MorvexAIMOCX::AIM> m_room;
    QTimer *m_timer;
    ChatResponder *m_responder;
    ServingSwitch *m_switch;
};
