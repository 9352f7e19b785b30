#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QTimer;
class RowList;
class SendScheduler;

namespace MorvexAIMOCX {
class AIM;
}

// The caption of a switch control: "On" while serving is off, "Off" while it is on.
class SwitchCaption
{
public:
    virtual ~SwitchCaption() = default;
    [[nodiscard]] virtual QString text() const = 0;
    virtual void setText(const QString &text) = 0;

protected:
    SwitchCaption() = default;
    SwitchCaption(const SwitchCaption &) = default;
    SwitchCaption &operator=(const SwitchCaption &) = default;
};

// A caption with no control behind it, for the headless mode and the tests.
class PlainCaption final : public SwitchCaption
{
public:
    [[nodiscard]] QString text() const override { return m_text; }
    void setText(const QString &text) override { m_text = text; }

private:
    QString m_text = QStringLiteral("On");
};

// Switches serving on and off and advertises the server in the room while it is on.
class ServingSwitch final : public QObject
{
    Q_OBJECT

public:
    static constexpr int AdvertisementIntervalMs = 60000;

    // The room's lines leave through the scheduler, ahead of every reply.
    ServingSwitch(MorvexAIMOCX::AIM *messenger, SendScheduler *scheduler, const RowList &descriptions, QTimer *timer,
                  QObject *parent = nullptr);

    // The visible switch: tests the messenger, rebuilds the pages, counts the items.
    void Label2_Click(SwitchCaption &caption);
    // The hidden switch: no tests, no rebuild, no count.
    void Command2_Click(SwitchCaption &caption);
    // The advertisement at every tick of the timer.
    void Timer1_Timer();

    // True from a switch-on until the next switch-off, by either switch.
    [[nodiscard]] bool isServing() const { return m_serving; }

Q_SIGNALS:
    // The visible switch cannot turn serving on; the text says why (a message box in the window).
    void refused(const QString &text);

private:
    // Runs the steps; a failing messenger call ends them at that step.
    void runSteps(const char *handler, const std::function<void()> &steps);
    void switchOff(SwitchCaption &caption, const QString &stopLine);

    QPointer<MorvexAIMOCX::AIM> m_messenger;
    SendScheduler *m_scheduler;
    const RowList &m_descriptions;
    QTimer *m_timer;
    bool m_serving = false;
};
