#pragma once

#include <QTcpServer>

// A TCP port on 127.0.0.1 that nothing listens on right now.
inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
