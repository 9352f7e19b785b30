#pragma once

#include "serving/servingswitch.h"

#include <QObject>

class ChatResponder;
class QTimer;
class RowList;

namespace MorvexAIMOCX {
class AIM;
}

// The serving engine as one piece: the responder fed by the messenger's chat
// lines, the serving switch and its advertisement timer. The main window and
// the headless mode both run it.
class ServingEngine final : public QObject
{
    Q_OBJECT

public:
    ServingEngine(MorvexAIMOCX::AIM *messenger, const RowList &descriptions, const RowList &addresses,
                  ServingSwitch::WindowActions actions, QObject *parent = nullptr);
    ~ServingEngine() override;

    [[nodiscard]] ChatResponder &responder() { return *m_responder; }
    [[nodiscard]] ServingSwitch &servingSwitch() { return *m_switch; }
    // The advertisement timer: 60000 ms, running only while serving.
    [[nodiscard]] QTimer *timer() const { return m_timer; }

private:
    QTimer *m_timer;
    ChatResponder *m_responder;
    ServingSwitch *m_switch;
};
