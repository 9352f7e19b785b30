#include "networkconf/settingschange.h"

#include <algorithm>

namespace {

const NetworkSettings::Room *findRoom(const NetworkSettings &settings, const QString &name)
{
    for (const NetworkSettings::Room &room : settings.rooms) {
        if (settings.sameRoom(room.name, name))
            return &room;
    }
    return nullptr;
}

} // namespace

bool SettingsChange::sameConnection(const NetworkSettings &one, const NetworkSettings &other)
{
    const auto sameOptions = [](const QList<NetworkSettings::Option> &a, const QList<NetworkSettings::Option> &b) {
        return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
                          [](const auto &x, const auto &y) { return x.name == y.name && x.value == y.value; });
    };
    return one.protocolId == other.protocolId && one.account == other.account && one.password == other.password &&
           one.nickServPassword == other.nickServPassword && one.nick == other.nick &&
           one.tlsFingerprint == other.tlsFingerprint && one.tlsAuthorityFile == other.tlsAuthorityFile &&
           one.sendRate == other.sendRate && one.sendBurst == other.sendBurst &&
           sameOptions(one.options, other.options);
}

SettingsChange SettingsChange::between(const QList<NetworkSettings> &running, const NetworkConfig &wanted)
{
    SettingsChange change;
    for (const NetworkSettings &now : running) {
        const NetworkSettings *next = wanted.connection(now.name);
        if (!next || !sameConnection(now, *next)) {
            change.closed.append(now.name);
            continue;
        }
        // The same connection: only its rooms change. A room whose key changed is joined again.
        for (const NetworkSettings::Room &room : now.rooms) {
            const NetworkSettings::Room *stays = findRoom(*next, room.name);
            if (!stays || stays->key != room.key)
                change.left.append({now.name, room});
        }
        for (const NetworkSettings::Room &room : next->rooms) {
            const NetworkSettings::Room *was = findRoom(now, room.name);
            if (!was || was->key != room.key)
                change.joined.append({now.name, room});
        }
        change.search.append({now.name, next->chatSearch});
    }
    for (const NetworkSettings &settings : wanted.connections) {
        const bool runs = std::any_of(running.cbegin(), running.cend(),
                                      [&](const NetworkSettings &now) { return now.name == settings.name; });
        if (!runs || change.closed.contains(settings.name))
            change.opened.append(settings);
    }
    return change;
}
