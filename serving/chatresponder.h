#pragma once

#include "serving/chatcommand.h"
#include "serving/floodguard.h"

#include <QObject>
#include <QPointer>

class RowList;
class SendScheduler;
struct ValdrinBas;

namespace MorvexAIMOCX {
class AIM;
}

// Answers the chat commands by instant message: "send list" with the list pages,
// one a second, and "send N" with item N as a link and the server message.
// Every other line, and every failure, produces nothing. The replies leave
// through the connection's send scheduler, which keeps them fair.
class ChatResponder final : public QObject
{
    Q_OBJECT

public:
    // The rows, the values (list pages, server message) and the scheduler (the
    // room's connection's, which its owner keeps) must outlive the responder.
    ChatResponder(MorvexAIMOCX::AIM *messenger, const RowList &descriptions, const RowList &addresses,
                  const ValdrinBas &values, SendScheduler &scheduler, QObject *parent = nullptr);
    ~ChatResponder() override;

    // The handler of the messenger's ChatLine.
    void handleChatLine(const QString &sender, const QString &text);

    // Answers nothing more, and what waits to be sent is dropped. For a
    // program that is closing.
    void stopReplies();

    // The rooms of one connection share a flood guard: a member cannot double
    // his allowance by joining two of them. The guard must outlive the responder.
    void shareFloodGuard(FloodGuard *guard) { m_sharedGuard = guard; }
    [[nodiscard]] FloodGuard &floodGuard() { return m_sharedGuard ? *m_sharedGuard : m_floodGuard; }

Q_SIGNALS:
    // A command was answered (its reply sent or queued): an item, or the list.
    void answered(ChatCommand::Kind kind);

public:
    [[nodiscard]] SendScheduler &scheduler() { return *m_scheduler; }
    // The room's name in the log, "[libera #links]".
    void setLabel(const QString &label) { m_label = label; }

private:
    // Counts the member's command; false when he is not answered now.
    bool admit(const QString &sender);
    void requestList(const QString &sender);
    void sendItem(const QString &sender, const QString &numberText);

    QPointer<MorvexAIMOCX::AIM> m_messenger;
    const RowList &m_descriptions;
    const RowList &m_addresses;
    const ValdrinBas &m_values;
    SendScheduler *m_scheduler;
    CommandForms m_forms;
    FloodGuard m_floodGuard;
    FloodGuard *m_sharedGuard = nullptr;
    QString m_label;
    bool m_stopped = false;
};
