#include "platform/network/networksettings.h"

#include "platform/addon.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

using namespace Qt::StringLiterals;

namespace {

// The names people use for the protocols, and libpurple's ids for them.
const QHash<QString, QString> &protocolAliases()
{
    static const QHash<QString, QString> aliases{
        {u"irc"_s, u"prpl-irc"_s}, {u"xmpp"_s, u"prpl-jabber"_s}, {u"jabber"_s, u"prpl-jabber"_s}};
    return aliases;
}

const QStringList &trueWords()
{
    static const QStringList words{u"true"_s, u"yes"_s, u"on"_s, u"1"_s};
    return words;
}

const QStringList &falseWords()
{
    static const QStringList words{u"false"_s, u"no"_s, u"off"_s, u"0"_s};
    return words;
}

} // namespace

QString NetworkSettings::lineError(int line, const QString &what)
{
    return u"%1, line %2: %3"_s.arg(fileName()).arg(line).arg(what);
}

QString NetworkSettings::checkOption(const Option &option, OptionKind kind)
{
    switch (kind) {
    case OptionKind::Boolean:
        if (!trueWords().contains(option.value.toLower()) && !falseWords().contains(option.value.toLower()))
            return lineError(option.line, u"option.%1 takes true or false, not \"%2\""_s.arg(option.name, option.value));
        return {};
    case OptionKind::Integer: {
        bool ok = false;
        option.value.toInt(&ok);
        if (!ok)
            return lineError(option.line,
                             u"option.%1 takes a whole number, not \"%2\""_s.arg(option.name, option.value));
        return {};
    }
    case OptionKind::Text:
        return {};
    }
    return {};
}

QString NetworkSettings::unknownOption(const Option &option, const QStringList &known) const
{
    return lineError(option.line,
                     u"%1 has no option \"%2\"; its options are: %3"_s.arg(protocolId, option.name, known.join(u", "_s)));
}

bool NetworkSettings::isTrue(const QString &value)
{
    return trueWords().contains(value.toLower());
}

QString NetworkSettings::optionValue(const QString &name) const
{
    for (const Option &option : options) {
        if (option.name == name)
            return option.value;
    }
    return {};
}

QString NetworkSettings::fileName()
{
    return u"network.conf"_s;
}

NetworkSettings::Parsed NetworkSettings::parse(const QString &text)
{
    NetworkSettings settings;
    QString passwordVariable;
    int passwordVariableLine = 0;
    QHash<QString, int> seen;
    const QStringList lines = text.split(u'\n');
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        QString line = lines[index];
        if (line.endsWith(u'\r'))
            line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            return {std::nullopt, lineError(number, u"expected \"key = value\", found \"%1\""_s.arg(line))};
        const QString key = line.left(equals).trimmed().toLower();
        QString value = line.mid(equals + 1).trimmed();
        if (key.isEmpty())
            return {std::nullopt, lineError(number, u"a value without a key"_s)};
        if (seen.contains(key))
            return {std::nullopt, lineError(number, u"\"%1\" is already set on line %2"_s.arg(key).arg(seen[key]))};
        seen.insert(key, number);

        if (key == u"protocol") {
            settings.protocolId = protocolAliases().value(value.toLower(), value);
            settings.protocolLine = number;
        } else if (key == u"account") {
            settings.account = value;
        } else if (key == u"password") {
            settings.password = value;
        } else if (key == u"password-env") {
            passwordVariable = value;
            passwordVariableLine = number;
        } else if (key == u"room") {
            settings.room = value;
        } else if (key.startsWith(u"option.") && key.size() > 7) {
            settings.options.append({line.left(equals).trimmed().mid(7), value, number});
        } else {
            return {std::nullopt,
                    lineError(number, u"unknown key \"%1\"; the keys are protocol, account, password, "
                                      u"password-env, room and option.NAME"_s
                                          .arg(key))};
        }
    }

    for (const auto &[key, what] : {std::pair{u"protocol"_s, u"the protocol (irc or xmpp)"_s},
                                    std::pair{u"account"_s, u"the account to sign on with"_s},
                                    std::pair{u"room"_s, u"the room to serve"_s}}) {
        if (!seen.contains(key))
            return {std::nullopt, u"%1: \"%2\" is missing: name %3."_s.arg(fileName(), key, what)};
    }
    if (seen.contains(u"password"_s) && !passwordVariable.isEmpty()) {
        return {std::nullopt, lineError(passwordVariableLine, u"set either password or password-env, not both"_s)};
    }
    if (!passwordVariable.isEmpty()) {
        if (!qEnvironmentVariableIsSet(passwordVariable.toLocal8Bit().constData())) {
            return {std::nullopt, lineError(passwordVariableLine,
                                            u"the environment variable %1 is not set"_s.arg(passwordVariable))};
        }
        settings.password = qEnvironmentVariable(passwordVariable.toLocal8Bit().constData());
    }
    return {settings, {}};
}

NetworkSettings::Parsed NetworkSettings::load(const QString &folder)
{
    const QString path = QDir(folder).filePath(fileName());
    if (!QFileInfo::exists(path))
        return {};
    const TextFileContents file = addon::ReadTextFile(path);
    if (!file.ok())
        return {std::nullopt, file.error};
    Parsed parsed = parse(file.text);
    if (parsed.settings) {
        const QFileDevice::Permissions permissions = QFileInfo(path).permissions();
        if (permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
            parsed.settings->permissionWarning =
                u"%1 can be read by other users of this machine; it may hold a password. "
                u"Make it private: chmod 600 %1"_s.arg(QDir::toNativeSeparators(path));
        }
    }
    return parsed;
}
