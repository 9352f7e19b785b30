#pragma once

#include "serving/chatcommand.h"
#include "serving/floodguard.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class CatalogueSearch;

class RowList;
class SendScheduler;
struct ValdrinBas;

namespace MorvexAIMOCX {
class AIM;
}

// Answers the chat commands by instant message: "send list" with the list pages,
// one a second, "send N" with item N as a link and the server message, and,
// where search is on, "send find WORDS" with the items that hold every word.
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

    // A search answers at most this many matches, in catalogue order.
    static constexpr int MatchesShown = 10;
    // A list that takes longer than this at the room's pace is said to, with
    // search on, in a line ahead of its pages.
    static constexpr qint64 LongListMs = 120000;

    // Search in the room: the catalogue's search as it is now (made once per
    // catalogue change). A search with more matches than shown names the web
    // page's search where the values name the catalogue's web address.
    struct Search
    {
        std::function<std::shared_ptr<const CatalogueSearch>()> current;
    };
    // Off (nothing): "send find" is ignored, as every line that is no command.
    void setSearch(std::optional<Search> search) { m_search = std::move(search); }
    [[nodiscard]] bool searchOn() const { return m_search.has_value(); }

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
    // A search was answered with this many matches in all (0: nothing found).
    void searched(int matches);

public:
    [[nodiscard]] SendScheduler &scheduler() { return *m_scheduler; }
    // The room's name in the log, "[libera #links]".
    void setLabel(const QString &label) { m_label = label; }

private:
    // Counts the member's command; false when he is not answered now.
    bool admit(const QString &sender);
    void requestList(const QString &sender);
    void sendItem(const QString &sender, const QString &numberText);
    void find(const QString &sender, const QString &words);

    QPointer<MorvexAIMOCX::AIM> m_messenger;
    const RowList &m_descriptions;
    const RowList &m_addresses;
    const ValdrinBas &m_values;
    SendScheduler *m_scheduler;
    CommandForms m_forms;
    FloodGuard m_floodGuard;
    FloodGuard *m_sharedGuard = nullptr;
    QString m_label;
    std::optional<Search> m_search;
    bool m_stopped = false;
};
