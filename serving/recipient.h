#pragma once

#include "platform/messenger.h"

#include <QPointer>
#include <QString>

// Who a reply goes to: the key he is known by on the connection, his name in
// the room, and the room's messenger that reaches him (the room he asked in last).
struct Recipient
{
    QString key;
    QString name;
    QPointer<MorvexAIMOCX::AIM> via;
};
