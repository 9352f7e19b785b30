#pragma once

#include "serving/chatcommand.h"
#include "serving/floodguard.h"

#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>
#include <memory>

class RowList;

namespace MorvexAIMOCX {
class AIM;
}

// Answers the chat commands by instant message: "send list" with the list pages,
// one a second, and "send N" with item N as a link and the server message.
// Every other line, and every failure, produces nothing.
class ChatResponder final : public QObject
{
    Q_OBJECT

public:
    // How long to wait between list pages; the tests use a shorter wait.
    using PauseFunction = std::function<void(double seconds)>;

    static constexpr int ListRepliesAtOnce = 4;
    // List requests beyond those in progress wait their turn, one place a member.
    static constexpr int QueuedListsAtMost = 256;

    ChatResponder(MorvexAIMOCX::AIM *messenger, const RowList &descriptions, const RowList &addresses,
                  QObject *parent = nullptr);
    ~ChatResponder() override;

    // The handler of the messenger's ChatLine.
    void handleChatLine(const QString &sender, const QString &text);

    // Answers nothing more: list replies in progress end after their current
    // page, and new commands go unanswered. For a program that is closing.
    void stopReplies() { m_stopped = true; }

    void setPauseFunction(PauseFunction pause) { m_pause = std::move(pause); }
    void setPageInterval(double seconds) { m_pageInterval = seconds; }
    [[nodiscard]] FloodGuard &floodGuard() { return m_floodGuard; }

    [[nodiscard]] int listRepliesInProgress() const { return int(m_listRecipients.size()); }
    [[nodiscard]] int listRequestsWaiting() const { return int(m_listQueue.size()); }
    [[nodiscard]] int mostListRepliesAtOnce() const { return m_mostListReplies; }

private:
    void requestList(const QString &sender);
    void sendList(const QString &sender);
    void sendNextWaitingList();
    void sendItem(const QString &sender, const QString &numberText);

    QPointer<MorvexAIMOCX::AIM> m_messenger;
    const RowList &m_descriptions;
    const RowList &m_addresses;
    CommandForms m_forms;
    FloodGuard m_floodGuard;
    PauseFunction m_pause;
    double m_pageInterval = 1.0;
    QSet<QString> m_listRecipients;
    QList<QString> m_listQueue;
    int m_mostListReplies = 0;
    bool m_stopped = false;
    // Set when this responder is destroyed, so that a reply waiting in a pause stops.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
