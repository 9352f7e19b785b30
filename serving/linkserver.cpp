#include "serving/linkserver.h"

#include "serving/chatresponder.h"
#include "serving/listpagebuilder.h"
#include "serving/servingswitch.h"
#include "serving/valdrinbas.h"

#include "platform/messenger.h"

#include <QTimer>

LinkServer::LinkServer(MorvexAIMOCX::AIM *messenger, RowList &descriptions, RowList &addresses, DataFolder folder,
                       QObject *parent)
    : QObject(parent), m_descriptions(descriptions), m_catalogue(descriptions, addresses, folder),
      m_message(folder), m_timer(new QTimer(this)),
      m_responder(new ChatResponder(messenger, descriptions, addresses, this)),
      m_switch(new ServingSwitch(messenger, descriptions, m_timer, this))
{
    if (messenger)
        connect(messenger, &MorvexAIMOCX::AIM::ChatLine, m_responder, &ChatResponder::handleChatLine);
    connect(m_timer, &QTimer::timeout, m_switch, &ServingSwitch::Timer1_Timer);
    connect(m_switch, &ServingSwitch::refused, this, &LinkServer::switchRefused);
}

LinkServer::~LinkServer() = default;

QStringList LinkServer::load()
{
    QStringList problems = m_catalogue.load();
    if (const FileResult message = m_message.load(); !message.ok())
        problems.append(message.error);
    ValdrinBas::ListPages = ListPageSet();
    return problems;
}

void LinkServer::BuildList()
{
    ListPageBuilder::BuildList(m_descriptions, ValdrinBas::ListPages);
}

void LinkServer::BuildList2()
{
    ListPageBuilder::BuildList2(ValdrinBas::ListPages);
}

void LinkServer::Label2_Click(SwitchCaption &caption)
{
    m_switch->Label2_Click(caption);
}

void LinkServer::Command2_Click(SwitchCaption &caption)
{
    m_switch->Command2_Click(caption);
}

void LinkServer::Timer1_Timer()
{
    m_switch->Timer1_Timer();
}

bool LinkServer::isServing() const
{
    return m_switch->isServing();
}
