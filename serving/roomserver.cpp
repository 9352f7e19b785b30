#include "serving/roomserver.h"

#include "serving/chatresponder.h"
#include "serving/sendscheduler.h"
#include "serving/servingswitch.h"

#include "platform/messenger.h"

#include <QTimer>

using namespace Qt::StringLiterals;

RoomServer::RoomServer(MorvexAIMOCX::AIM *room, SendScheduler *scheduler, FloodGuard *guard,
                       const RowList &descriptions, const RowList &addresses, ValdrinBas &values, QObject *parent)
    : QObject(parent), m_room(room), m_timer(new QTimer(this)),
      m_responder(new ChatResponder(room, descriptions, addresses, values, *scheduler, this)),
      m_switch(new ServingSwitch(room, scheduler, descriptions, values, m_timer, this))
{
    if (guard)
        m_responder->shareFloodGuard(guard);
    if (room) {
        connect(room, &MorvexAIMOCX::AIM::ChatLine, m_responder, &ChatResponder::handleChatLine);
        // Replies follow a member who changes his name, and stop for one who left.
        connect(room, &MorvexAIMOCX::AIM::memberRenamed, scheduler,
                [scheduler, room](const QString &oldName, const QString &newName) {
                    scheduler->renameMember(oldName, newName, room);
                });
        connect(room, &MorvexAIMOCX::AIM::memberLeft, scheduler,
                [scheduler, room](const QString &member) { scheduler->dropMember(member, u"left the room"_s, room); });
    }
    connect(m_timer, &QTimer::timeout, m_switch, &ServingSwitch::advertise);
    connect(m_switch, &ServingSwitch::refused, this, &RoomServer::switchRefused);
    connect(m_switch, &ServingSwitch::servingChanged, this, &RoomServer::servingChanged);
}

RoomServer::~RoomServer() = default;

void RoomServer::setSearch(std::optional<ChatResponder::Search> search)
{
    m_switch->setSearchTold(search.has_value());
    m_responder->setSearch(std::move(search));
}

bool RoomServer::searchOn() const
{
    return m_responder->searchOn();
}

bool RoomServer::switchOn(OpeningLines lines)
{
    return m_switch->switchOn(lines);
}

bool RoomServer::switchOff(StopLine line)
{
    return m_switch->switchOff(line);
}

void RoomServer::advertise()
{
    m_switch->advertise();
}

bool RoomServer::isServing() const
{
    return m_switch->isServing();
}

void RoomServer::stopReplies()
{
    m_responder->stopReplies();
}

void RoomServer::setLabel(const QString &label)
{
    m_responder->setLabel(label);
    m_switch->setLabel(label);
}
