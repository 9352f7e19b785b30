#pragma once

#include "networkconf/networksettings.h"

#include <QHash>

// One block of network.conf as it is read: the lines above the first section,
// or one "[NAME]" section. Only the parser of the file uses it.
class SettingsBlock final
{
public:
    explicit SettingsBlock(QString section = {}, int line = 0);

    // "network.conf, line N" or "network.conf, line N, section [NAME]", then what.
    [[nodiscard]] QString error(int line, const QString &what) const;
    // Takes one "key = value" line; what is wrong with it otherwise. Values are
    // never repeated in a mistake: a line may hold a password.
    [[nodiscard]] QString take(const QString &rawKey, const QString &value, int line);
    // Takes what the block above every section set and this one did not.
    void inherit(const SettingsBlock &defaults);
    // Checks the block as a whole and reads the secrets it names from the
    // environment; what is wrong otherwise.
    [[nodiscard]] QString finish();

    // A key that only a connection's own section may set; the lines above the
    // first section may not, once the file has sections.
    [[nodiscard]] QString connectionKeyLine() const;

    [[nodiscard]] bool isSection() const { return !m_section.isEmpty(); }
    [[nodiscard]] int line() const { return m_line; }
    [[nodiscard]] int lineOf(const QString &key) const { return m_seen.value(key); }
    [[nodiscard]] NetworkSettings &settings() { return m_settings; }
    // The server-wide keys (http-…), for the block above the sections.
    [[nodiscard]] const NetworkConfig::Web &web() const { return m_web; }
    [[nodiscard]] const NetworkConfig::LinkCheck &linkCheck() const { return m_linkCheck; }

private:
    QString takeRoomKey(const QString &key, const QString &value, int line);
    QString takeWeb(const QString &key, const QString &value, int line);
    QString takeLinkCheck(const QString &key, const QString &value, int line);
    QString secretFromEnvironment(const QString &variable, int line, const QString &what, QString &secret) const;

    QString m_section;
    int m_line = 0;
    NetworkSettings m_settings;
    NetworkConfig::Web m_web;
    NetworkConfig::LinkCheck m_linkCheck;
    QHash<QString, int> m_seen;
    QString m_passwordVariable;
    int m_passwordVariableLine = 0;
    int m_nickLine = 0;
    QString m_nickServVariable;
    int m_nickServLine = 0;
    // The variables holding the rooms' keys, by room index.
    QHash<int, std::pair<QString, int>> m_keyVariables;
};
