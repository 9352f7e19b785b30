#include "serving/servingengine.h"

#include "serving/chatresponder.h"

#include "platform/messenger.h"

#include <QTimer>

ServingEngine::ServingEngine(MorvexAIMOCX::AIM *messenger, const RowList &descriptions, const RowList &addresses,
                             ServingSwitch::WindowActions actions, QObject *parent)
    : QObject(parent), m_timer(new QTimer(this)),
      m_responder(new ChatResponder(messenger, descriptions, addresses, this)),
      m_switch(new ServingSwitch(messenger, descriptions, m_timer, std::move(actions), this))
{
    connect(messenger, &MorvexAIMOCX::AIM::ChatLine, m_responder, &ChatResponder::handleChatLine);
    connect(m_timer, &QTimer::timeout, m_switch, &ServingSwitch::Timer1_Timer);
}

ServingEngine::~ServingEngine() = default;
