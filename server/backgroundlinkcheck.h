#pragma once

#include "linkcheck/linkchecker.h"
#include "linkcheck/linkhealth.h"
#include "networkconf/networksettings.h"

#include <QObject>
#include <QString>

#include <memory>

class QTimer;
class RowList;

// The running server's check of its links, every `link-check` of network.conf:
// on the event loop, a few requests at a time, so no chat reply and no page
// waits for it. What it found is kept in the data folder, so a restart checks
// again only when the last check is older than the interval.
class BackgroundLinkCheck final : public QObject
{
    Q_OBJECT

public:
    // Each check takes the catalogue's addresses as they are when it starts;
    // they must outlive this.
    BackgroundLinkCheck(QString folder, const RowList &addresses, QObject *parent = nullptr);
    ~BackgroundLinkCheck() override;

    // The interval and what to check; off stops a check under way. The next
    // check is due the interval after the last one (at once when that is past).
    void setSettings(const NetworkConfig::LinkCheck &settings);
    void stop();

    [[nodiscard]] const LinkHealth &health() const { return m_health; }
    [[nodiscard]] bool isOn() const { return m_settings.isOn(); }
    [[nodiscard]] bool isChecking() const { return m_checking; }

Q_SIGNALS:
    // A check started, or finished and its results are kept (or could not
    // be: logged).
    void changed();

private:
    void planNext();
    void startCheck();
    void finished(const QList<LinkChecker::Result> &results);

    QString m_folder;
    const RowList &m_addresses;
    NetworkConfig::LinkCheck m_settings;
    LinkHealth m_health;
    std::unique_ptr<LinkChecker> m_checker;
    QTimer *m_due;
    bool m_checking = false;
};
