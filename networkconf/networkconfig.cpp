#include "networkconf/networksettings.h"
#include "networkconf/settingsblock.h"

#include "platform/addon.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

// A section's name shows in the log, the metrics and on web pages: a plain word.
bool isSectionName(const QString &name)
{
    static const QRegularExpression word(u"^[A-Za-z0-9_.-]{1,32}$"_s);
    return word.match(name).hasMatch();
}

// Two sections with the same account would be one account to libpurple.
QString accountKey(const NetworkSettings &settings)
{
    return settings.protocolId + u' ' + settings.account.toLower();
}

} // namespace

int NetworkConfig::roomCount() const
{
    int rooms = 0;
    for (const NetworkSettings &connection : connections)
        rooms += int(connection.rooms.size());
    return rooms;
}

const NetworkSettings *NetworkConfig::connection(const QString &name) const
{
    for (const NetworkSettings &connection : connections) {
        if (connection.name == name)
            return &connection;
    }
    return nullptr;
}

NetworkConfig::Parsed NetworkConfig::parse(const QString &text)
{
    std::vector<SettingsBlock> blocks(1);
    QHash<QString, int> sectionLines;
    // Lines end in LF, CR LF, or CR alone (as an old Mac editor saves them).
    static const QRegularExpression lineEnd(u"\r\n|\r|\n"_s);
    const QStringList lines = text.split(lineEnd);
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        const QString line = lines[index].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                return {std::nullopt, NetworkSettings::lineError(number, u"a section starts with [NAME]; the ] is "
                                                                         u"missing"_s)};
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (!isSectionName(name)) {
                return {std::nullopt, NetworkSettings::lineError(number, u"a section's name is one word of up to 32 "
                                                                         u"letters, digits, \".\", \"-\" or \"_\""_s)};
            }
            if (sectionLines.contains(name.toLower())) {
                return {std::nullopt,
                        NetworkSettings::lineError(number, u"the section [%1] is already on line %2"_s.arg(name).arg(
                                                               sectionLines[name.toLower()]))};
            }
            if (sectionLines.size() == MostConnections) {
                return {std::nullopt, NetworkSettings::lineError(
                                          number, u"one server serves at most %1 connections; run another server "
                                                  u"for the others (valdrin-aim-serverd@NAME)"_s.arg(MostConnections))};
            }
            sectionLines.insert(name.toLower(), number);
            blocks.emplace_back(name, number);
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            // The line is not repeated: it may hold a password.
            return {std::nullopt, blocks.back().error(number, u"expected \"key = value\""_s)};
        }
        if (QString wrong = blocks.back().take(line.left(equals).trimmed(), line.mid(equals + 1).trimmed(), number);
            !wrong.isEmpty())
            return {std::nullopt, wrong};
    }

    NetworkConfig config;
    config.web = blocks.front().web();
    config.linkCheck = blocks.front().linkCheck();
    if (config.web.certificate.isEmpty() != config.web.key.isEmpty())
        return {std::nullopt,
                u"%1: HTTPS needs both http-tls-cert and http-tls-key"_s.arg(NetworkSettings::fileName())};
    if (blocks.size() == 1) {
        // The file of one connection, as it has always been.
        if (QString wrong = blocks.front().finish(); !wrong.isEmpty())
            return {std::nullopt, wrong};
        config.connections.append(std::move(blocks.front().settings()));
        return {std::move(config), {}};
    }
    // The lines above the first section are every section's defaults.
    if (QString wrong = blocks.front().connectionKeyLine(); !wrong.isEmpty())
        return {std::nullopt, wrong};
    QHash<QString, QString> accounts;
    for (auto block = blocks.begin() + 1; block != blocks.end(); ++block) {
        block->inherit(blocks.front());
        if (QString wrong = block->finish(); !wrong.isEmpty())
            return {std::nullopt, wrong};
        const NetworkSettings &settings = block->settings();
        if (const QString other = accounts.value(accountKey(settings)); !other.isEmpty()) {
            return {std::nullopt, block->error(block->lineOf(u"account"_s),
                                               u"the section [%1] signs on with this account already; one account "
                                               u"serves all its rooms from one section"_s.arg(other))};
        }
        accounts.insert(accountKey(settings), settings.name);
        config.connections.append(settings);
    }
    return {std::move(config), {}};
}

NetworkConfig::Parsed NetworkConfig::load(const QString &folder)
{
    const QString path = QDir(folder).filePath(NetworkSettings::fileName());
    const QFileInfo info(path);
    if (info.isSymLink() && !info.exists()) {
        // A link that leads nowhere is a file the operator meant to be there.
        return {std::nullopt,
                u"%1 is a symbolic link to %2, which does not exist or leads round in a loop; make "
                u"it point to the settings file"_s.arg(QDir::toNativeSeparators(path), info.symLinkTarget())};
    }
    if (!info.exists())
        return {};
    if (info.size() > NetworkConfig::LargestFileBytes) {
        return {std::nullopt, u"%1 is %2 bytes long, larger than the %3 bytes a settings file may be; it was not "
                              u"read. Write one line a setting."_s.arg(QDir::toNativeSeparators(path))
                                  .arg(info.size())
                                  .arg(NetworkConfig::LargestFileBytes)};
    }
    const TextFileContents file = addon::ReadTextFile(path);
    if (!file.ok())
        return {std::nullopt, file.error};
    Parsed parsed = parse(file.value);
    if (parsed.value) {
        const QFileDevice::Permissions permissions = QFileInfo(path).permissions();
        if (permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
            parsed.value->permissionWarning = u"%1 can be read by other users of this machine; it may hold a password. "
                                              u"Make it private: chmod 600 %1"_s.arg(QDir::toNativeSeparators(path));
        }
    }
    return parsed;
}
