#include "support/testfiles.h"

#include "messengers/purple/purplemessenger.h"
#include "networkconf/networksettings.h"
#include "networkconf/settingschange.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestNetworkSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void goodFileIsRead();
    void mistakesNameTheLine_data();
    void mistakesNameTheLine();
    void sectionsShareTheirDefaults();
    void changedFileIsWorkedOutBeforeItIsApplied();
    void trustAndNickAreRead();
    void pacingFollowsTheFile_data();
    void pacingFollowsTheFile();
    void samplesInTheDocsAreRead();
    void secretsAreNeverRepeated_data();
    void secretsAreNeverRepeated();
    void passwordFromTheEnvironment();
    void noFileMeansTheLocalRoom();
    void fileReadableByOthersIsWarnedAbout();
    void unknownProtocolAndOptionsAreRefused_data();
    void unknownProtocolAndOptionsAreRefused();
    void wireTextHasNoRawLineBreaks_data();
    void wireTextHasNoRawLineBreaks();

private:
    QTemporaryDir m_purpleFolder;
};

void TestNetworkSettings::initTestCase()
{
    QCOMPARE(PurpleMessenger::initialise(m_purpleFolder.path()), QString());
}

void TestNetworkSettings::goodFileIsRead()
{
    const NetworkSettings::Parsed parsed =
        NetworkSettings::parse(u"# the program's network\r\nprotocol = IRC\naccount = linkdesk@irc.example.org\n\n"
                               u"password = se=cret\nroom = #links\noption.port = 6697\noption.ssl = true\n"_s);
    QVERIFY2(parsed.value, qPrintable(parsed.error));
    QCOMPARE(parsed.value->protocolId, u"prpl-irc"_s);
    QCOMPARE(parsed.value->protocolLine, 2);
    QCOMPARE(parsed.value->account, u"linkdesk@irc.example.org"_s);
    QCOMPARE(parsed.value->password, u"se=cret"_s);
    QCOMPARE(parsed.value->rooms.first().name, u"#links"_s);
    QCOMPARE(parsed.value->options.size(), 2);
    QCOMPARE(parsed.value->options[1].name, u"ssl"_s);
    QCOMPARE(parsed.value->options[1].line, 8);
    QCOMPARE(NetworkSettings::parse(u"protocol = xmpp\naccount = a@b\nroom = r@c"_s).value->protocolId,
             u"prpl-jabber"_s);
}

void TestNetworkSettings::mistakesNameTheLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("no equals sign") << u"protocol = irc\nroom #links"_s << u"line 2: expected"_s;
    QTest::newRow("unknown key") << u"protocol = irc\nchannel = #links"_s << u"line 2: unknown key \"channel\""_s;
    QTest::newRow("twice") << u"account = a@b\naccount = c@d"_s << u"line 2: \"account\" is already set on line 1"_s;
    QTest::newRow("missing room") << u"protocol = irc\naccount = a@b"_s << u"\"room\" is missing"_s;
    QTest::newRow("both passwords") << u"protocol = irc\naccount = a@b\nroom = #r\npassword = x\npassword-env = P"_s
                                    << u"line 5: set either password or password-env"_s;
    QTest::newRow("empty account") << u"protocol = irc\naccount =\nroom = #r"_s
                                   << u"line 2: \"account\" has no value"_s;
    QTest::newRow("account without server")
        << u"protocol = irc\naccount = linkdesk\nroom = #r"_s << u"line 2: the account is NAME@SERVER"_s;
    QTest::newRow("account without name")
        << u"protocol = xmpp\naccount = @example.org\nroom = r@c"_s << u"line 2: the account is NAME@SERVER"_s;
    QTest::newRow("blank in the account")
        << u"protocol = irc\naccount = x y@host\nroom = #r"_s << u"line 2: an account name holds no blank"_s;
    QTest::newRow("bare channel prefix") << u"protocol = irc\naccount = a@b\nroom = #"_s
                                         << u"line 3: room names an IRC channel: its prefix and a name"_s;
    QTest::newRow("huge room name") << u"protocol = irc\naccount = a@b\nroom = #"_s + QString(1000000, u'x')
                                    << u"line 3: a room's name is at most 200 characters"_s;
    QTest::newRow("CR alone ends lines") << u"[one]\rprotocol = irc\raccount = a@b\rroom #r"_s
                                         << u"line 4, section [one]: expected"_s;
    QTest::newRow("nick on IRC") << u"protocol = irc\naccount = a@b\nroom = #r\nnick = Link Desk"_s
                                 << u"line 4: on IRC the program's nick is the account's name"_s;
    QTest::newRow("short fingerprint") << u"protocol = irc\naccount = a@b\nroom = #r\ntls-fingerprint = AB:CD"_s
                                       << u"line 4: tls-fingerprint takes the certificate's SHA-256"_s;
    QTest::newRow("NUL in a value") << u"protocol = irc\naccount = a@b\nroom = #links\u0000junk"_s
                                    << u"line 3: the value of \"room\" holds a control character"_s;
    QTest::newRow("two IRC channels") << u"protocol = irc\naccount = a@b\nroom = #links,#other"_s
                                      << u"line 3: room names one IRC channel"_s;
    QTest::newRow("send rate not a number")
        << u"protocol = irc\naccount = a@b\nroom = #r\nsend-rate = fast"_s << u"line 4: send-rate takes"_s;
    QTest::newRow("send burst of none") << u"protocol = irc\naccount = a@b\nroom = #r\nsend-burst = 0"_s
                                        << u"line 4: send-burst takes"_s;
    QTest::newRow("search neither on nor off")
        << u"protocol = irc\naccount = a@b\nroom = #r\nchat-search = yes"_s << u"line 4: chat-search takes on or off"_s;
    QTest::newRow("missing authority file")
        << u"protocol = irc\naccount = a@b\nroom = #r\ntls-ca-file = /nonexistent/ca.pem"_s
        << u"line 4: tls-ca-file names /nonexistent/ca.pem, which is not a readable file"_s;

    // Files of several connections: each mistake names its section.
    const QString irc = u"[one]\nprotocol = irc\naccount = a@b\n"_s;
    QTest::newRow("section without a room")
        << irc + u"room = #r\n[two]\nprotocol = irc\naccount = c@b"_s << u"section [two]: \"room\" is missing"_s;
    QTest::newRow("one account in two sections")
        << irc + u"room = #r\n[two]\nprotocol = irc\naccount = A@b\nroom = #s"_s
        << u"line 7, section [two]: the section [one] signs on with this account already"_s;
    QTest::newRow("the same room twice") << irc + u"room = #links\nroom = #Links"_s
                                         << u"line 5, section [one]: this room is already served, on line 4"_s;
    QTest::newRow("a blank in an IRC room")
        << irc + u"room = #my links"_s << u"line 4, section [one]: room names one IRC channel"_s;
    QTest::newRow("a control character in a room")
        << irc + u"room = #li\u0007nks"_s << u"line 4, section [one]: the value of \"room\" holds a control"_s;
    QTest::newRow("] missing") << u"[one\nprotocol = irc"_s
                               << u"line 1: a section starts with [NAME]; the ] is missing"_s;
    QTest::newRow("section name not a word") << u"[my network]"_s << u"line 1: a section's name is one word"_s;
    QTest::newRow("section twice") << irc + u"room = #r\n[One]"_s
                                   << u"line 5: the section [One] is already on line 1"_s;
    QTest::newRow("account above the sections")
        << u"account = a@b\n"_s + irc + u"room = #r"_s << u"line 1: \"account\" belongs in a section"_s;
    QTest::newRow("a key without its room")
        << irc + u"room-key = k\nroom = #r"_s << u"line 4, section [one]: \"room-key\" gives the key of the room"_s;
    QTest::newRow("a room's key from an unset variable")
        << irc + u"room = #r\nroom-key-env = VALDRIN_TEST_UNSET_KEY"_s
        << u"line 5, section [one]: the environment variable VALDRIN_TEST_UNSET_KEY is not set"_s;
    QString connections;
    for (int n = 0; n <= NetworkConfig::MostConnections; ++n)
        connections += u"[n%1]\nprotocol = irc\naccount = a%1@b\nroom = #r\n"_s.arg(n);
    QTest::newRow("eleven connections") << connections << u"line 41: one server serves at most 10 connections"_s;
    QString rooms = irc;
    for (int n = 0; n <= NetworkConfig::MostRoomsPerConnection; ++n)
        rooms += u"room = #r%1\n"_s.arg(n);
    QTest::newRow("51 rooms") << rooms << u"line 54, section [one]: a connection serves at most 50 rooms"_s;
    // The web face's keys hold for the whole server.
    QTest::newRow("web face in a section") << irc + u"http-listen = 127.0.0.1:8080"_s
                                           << u"line 4, section [one]: \"http-listen\" is set for the whole server"_s;
    QTest::newRow("web face on a name") << u"http-listen = localhost:8080\n"_s + irc
                                        << u"line 1: http-listen takes an IP address and a port"_s;
    QTest::newRow("web face on no port") << u"http-listen = 127.0.0.1:99999\n"_s + irc
                                         << u"line 1: http-listen takes an IP address and a port"_s;
    QTest::newRow("a password readable over a network")
        << u"protocol = xmpp\naccount = desk@example.org\nroom = links@conference.example.org\n"
           u"option.auth_plain_in_clear = true\n"_s
        << u"line 4: option.auth_plain_in_clear would send the password readable to example.org"_s;
    QTest::newRow("NickServ on XMPP")
        << u"protocol = xmpp\naccount = desk@example.org\nroom = links@conference.example.org\n"
           u"nickserv-password = x\n"_s
        << u"line 4: NickServ is a service of IRC networks"_s;
    QTest::newRow("both NickServ passwords")
        << u"protocol = irc\naccount = a@b\nroom = #r\nnickserv-password = x\nnickserv-password-env = P"_s
        << u"line 5: set either nickserv-password or nickserv-password-env"_s;
    QTest::newRow("public address not on the web")
        << u"http-public-url = javascript:alert(1)\n"_s + irc << u"line 1: http-public-url takes the web address"_s;
    QTest::newRow("public address with a line of its own")
        << u"http-public-url = https://links.example.org/ JOIN #x\n"_s + irc
        << u"line 1: http-public-url takes the web address"_s;
    QTest::newRow("HTTPS without its key")
        << u"http-listen = [::1]:8443\nhttp-tls-cert = %1\n"_s.arg(QStringLiteral(VALDRIN_SOURCE_DIR "/README.md")) +
               irc + u"room = #r"_s
        << u"network.conf: HTTPS needs both http-tls-cert and http-tls-key"_s;
}

void TestNetworkSettings::changedFileIsWorkedOutBeforeItIsApplied()
{
    const auto parse = [](const QString &text) { return *NetworkConfig::parse(text).value; };
    const NetworkConfig before = parse(u"protocol = irc\n[a]\naccount = a@x\nroom = #one\nroom = #two\nroom-key = k1\n"
                                       u"[b]\naccount = b@x\nroom = #b\n[c]\naccount = c@x\nroom = #c\n"_s);
    // a: #one stays (another case is the same IRC room), #two's key changes, #three is new, search turns on;
    // b: another account signs on again; c is gone; d is new.
    const NetworkConfig after =
        parse(u"protocol = irc\n[a]\naccount = a@x\nchat-search = on\nroom = #ONE\nroom = #two\nroom-key = k2\n"
              u"room = #three\n[b]\naccount = bee@x\nroom = #b\n[d]\naccount = d@x\nroom = #d\n"_s);
    const SettingsChange change = SettingsChange::between(before.connections, after);
    QCOMPARE(change.closed, (QStringList{u"b"_s, u"c"_s}));
    QCOMPARE(change.opened.size(), 2);
    QCOMPARE(change.opened[0].name, u"b"_s);
    QCOMPARE(change.opened[1].name, u"d"_s);
    QCOMPARE(change.left.size(), 1);
    QCOMPARE(change.left[0].room.key, u"k1"_s);
    QCOMPARE(change.joined.size(), 2);
    QCOMPARE(change.joined[0].room.key, u"k2"_s);
    QCOMPARE(change.joined[1].room.name, u"#three"_s);
    QCOMPARE(change.search, (QList<std::pair<QString, bool>>{{u"a"_s, true}}));
    // Nothing changed: nothing to do but the search, which is set again as it was.
    const SettingsChange none = SettingsChange::between(after.connections, after);
    QVERIFY(none.closed.isEmpty() && none.opened.isEmpty() && none.left.isEmpty() && none.joined.isEmpty());
}

void TestNetworkSettings::sectionsShareTheirDefaults()
{
    qputenv("VALDRIN_TEST_ROOM_KEY", "door");
    const NetworkConfig::Parsed parsed = NetworkConfig::parse(
        u"protocol = irc\nsend-rate = 2\noption.port = 6697\nchat-search = On\n"
        u"[libera]\naccount = desk@irc.libera.example\nroom = #links\nroom = #keyed\nroom-key-env = "
        u"VALDRIN_TEST_ROOM_KEY\n"
        u"[chat]\nprotocol = xmpp\naccount = desk@chat.example\nsend-rate = 0\noption.port = 5222\nchat-search = off\n"
        u"room = links@rooms.chat.example\nroom-key = open sesame\n"_s);
    qunsetenv("VALDRIN_TEST_ROOM_KEY");
    QVERIFY2(parsed.value, qPrintable(parsed.error));
    QCOMPARE(parsed.value->connections.size(), 2);
    QCOMPARE(parsed.value->roomCount(), 3);
    const NetworkSettings &libera = parsed.value->connections[0];
    QCOMPARE(libera.name, u"libera"_s);
    QCOMPARE(libera.protocolId, u"prpl-irc"_s);
    QCOMPARE(libera.delivery().linesPerSecond, 2.0);
    QCOMPARE(libera.optionValue(u"port"_s), u"6697"_s);
    QCOMPARE(libera.rooms[1].name, u"#keyed"_s);
    QCOMPARE(libera.rooms[1].key, u"door"_s);
    QVERIFY(libera.chatSearch);
    const NetworkSettings &chat = parsed.value->connections[1];
    QCOMPARE(chat.protocolId, u"prpl-jabber"_s);
    QCOMPARE(chat.delivery().linesPerSecond, 0.0);
    QCOMPARE(chat.optionValue(u"port"_s), u"5222"_s);
    QCOMPARE(chat.rooms[0].key, u"open sesame"_s);
    QVERIFY(!chat.chatSearch);
    QVERIFY(!parsed.value->web.isOn());
    QVERIFY(!NetworkSettings::parse(u"protocol = irc\naccount = a@irc.example\nroom = #r"_s).value->chatSearch);
    const NetworkConfig::Parsed web =
        NetworkConfig::parse(u"http-listen = [::1]:8080\nhttp-public-url = https://links.example.org/\nprotocol = "
                             u"irc\naccount = a@b\nroom = #r"_s);
    QVERIFY2(web.value, qPrintable(web.error));
    QCOMPARE(web.value->web.publicUrl, u"https://links.example.org/"_s);
    QCOMPARE(web.value->web.host, u"::1"_s);
    QCOMPARE(web.value->web.port, 8080);
    // A file without sections is one connection, named after its server.
    QCOMPARE(NetworkSettings::parse(u"protocol = irc\naccount = a@irc.example\nroom = #r"_s).value->name,
             u"irc.example"_s);
}

void TestNetworkSettings::trustAndNickAreRead()
{
    const QString hex =
        u"ab:aa:7c:e0:d2:33:39:24:2d:d1:7d:f0:24:af:8d:7f:8a:0a:18:7f:79:ad:e9:b7:e1:69:bf:43:75:f9:c3:49"_s;
    const NetworkSettings::Parsed parsed = NetworkSettings::parse(
        u"protocol = xmpp\naccount = desk@example.org\nroom = r@conference.example.org\nnick = Link Desk\n"
        u"tls-fingerprint = "_s +
        hex);
    QVERIFY2(parsed.value, qPrintable(parsed.error));
    QCOMPARE(parsed.value->nick, u"Link Desk"_s);
    QCOMPARE(parsed.value->tlsFingerprint, QByteArray::fromHex(QString(hex).remove(u':').toLatin1()));
    QCOMPARE(parsed.value->serverHost(), u"example.org"_s);
}

void TestNetworkSettings::pacingFollowsTheFile_data()
{
    QTest::addColumn<QString>("lines");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("burst");
    QTest::addColumn<bool>("lineByLine");
    const QString irc = u"protocol = irc\naccount = a@b\nroom = #r\n"_s;
    QTest::newRow("IRC: public pacing by default") << irc << 0.5 << 5 << true;
    QTest::newRow("IRC: the file's pacing") << irc + u"send-rate = 3\nsend-burst = 3"_s << 3.0 << 3 << true;
    QTest::newRow("IRC: no pacing") << irc + u"send-rate = 0"_s << 0.0 << 5 << true;
    QTest::newRow("IRC: libpurple's options of older files")
        << irc + u"option.ratelimit-interval = 4\noption.ratelimit-burst = 2"_s << 0.25 << 2 << true;
    QTest::newRow("XMPP: no limit by default") << u"protocol = xmpp\naccount = a@b\nroom = r@c"_s << 0.0 << 5 << false;
}

void TestNetworkSettings::pacingFollowsTheFile()
{
    QFETCH(QString, lines);
    QFETCH(double, rate);
    QFETCH(int, burst);
    QFETCH(bool, lineByLine);
    const NetworkSettings::Parsed parsed = NetworkSettings::parse(lines);
    QVERIFY2(parsed.value, qPrintable(parsed.error));
    const Delivery delivery = parsed.value->delivery();
    QCOMPARE(delivery.linesPerSecond, rate);
    QCOMPARE(delivery.burst, burst);
    QCOMPARE(delivery.lineByLine, lineByLine);
}

void TestNetworkSettings::samplesInTheDocsAreRead()
{
    const QList<QByteArray> variables{"VALDRIN_PASSWORD",      "VALDRIN_LIBERA_PASSWORD",   "VALDRIN_TEAM_KEY",
                                      "VALDRIN_CHAT_PASSWORD", "VALDRIN_NICKSERV_PASSWORD", "VALDRIN_KEYED_KEY"};
    for (const QByteArray &variable : variables)
        qputenv(variable.constData(), "sample");
    for (const char *sample : {"network-irc.conf", "network-xmpp.conf", "network-many.conf", "network-services.conf"}) {
        QFile file(QStringLiteral(VALDRIN_SOURCE_DIR "/docs/") + QLatin1StringView(sample));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const NetworkConfig::Parsed parsed = NetworkConfig::parse(QString::fromUtf8(file.readAll()));
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    }
    for (const QByteArray &variable : variables)
        qunsetenv(variable.constData());
}

void TestNetworkSettings::secretsAreNeverRepeated_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("no equals sign") << u"password S3cretPW"_s;
    QTest::newRow("colon instead") << u"password: S3cretPW"_s;
    QTest::newRow("alone on a line") << u"S3cretPW"_s;
    QTest::newRow("in an option's value") << u"option.port = S3cretPW"_s;
}

void TestNetworkSettings::secretsAreNeverRepeated()
{
    QFETCH(QString, line);
    const NetworkSettings::Parsed parsed =
        NetworkSettings::parse(u"protocol = irc\naccount = a@b\nroom = #r\n"_s + line);
    QString error = parsed.error;
    if (parsed.value) { // an option's value is checked against the protocol
        PurpleMessenger messenger(*parsed.value);
        error = messenger.start();
    }
    QVERIFY2(error.contains(u"line 4"_s), qPrintable(error));
    QVERIFY2(!error.contains(u"S3cret"_s), qPrintable(error));
}

void TestNetworkSettings::mistakesNameTheLine()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    const NetworkSettings::Parsed parsed = NetworkSettings::parse(text);
    QVERIFY(!parsed.value);
    QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
    QVERIFY(parsed.error.startsWith(u"network.conf"_s));
}

void TestNetworkSettings::passwordFromTheEnvironment()
{
    const QString text = u"protocol = irc\naccount = a@b\nroom = #r\npassword-env = VALDRIN_TEST_PASSWORD\n"_s;
    qunsetenv("VALDRIN_TEST_PASSWORD");
    const NetworkSettings::Parsed unset = NetworkSettings::parse(text);
    QVERIFY(unset.error.contains(u"line 4: the environment variable VALDRIN_TEST_PASSWORD is not set"_s));
    qputenv("VALDRIN_TEST_PASSWORD", "");
    QVERIFY(NetworkSettings::parse(text).error.contains(u"line 4: the environment variable VALDRIN_TEST_PASSWORD "
                                                        u"is empty"_s));
    qputenv("VALDRIN_TEST_PASSWORD", "cut\x01here");
    QVERIFY(NetworkSettings::parse(text).error.contains(u"holds a control character"_s));
    qputenv("VALDRIN_TEST_PASSWORD", "from the environment");
    QCOMPARE(NetworkSettings::parse(text).value->password, u"from the environment"_s);
    // The NickServ password comes from the environment the same way.
    const NetworkSettings::Parsed nickServ = NetworkSettings::parse(
        u"protocol = irc\naccount = a@b\nroom = #r\nnickserv-password-env = VALDRIN_TEST_PASSWORD\n"_s);
    QVERIFY2(nickServ.value, qPrintable(nickServ.error));
    QCOMPARE(nickServ.value->nickServPassword, u"from the environment"_s);
    qunsetenv("VALDRIN_TEST_PASSWORD");
}

void TestNetworkSettings::noFileMeansTheLocalRoom()
{
    QTemporaryDir folder;
    const NetworkConfig::Parsed parsed = NetworkConfig::load(folder.path());
    QVERIFY(!parsed.value);
    QVERIFY(parsed.error.isEmpty());

    // A link that leads nowhere, or round in a loop, is a file meant to be there.
    const QString path = QDir(folder.path()).filePath(u"network.conf"_s);
    for (const QString &target : {folder.filePath(u"gone.conf"_s), path}) {
        QFile::remove(path);
        QVERIFY(QFile::link(target, path));
        const NetworkConfig::Parsed dangling = NetworkConfig::load(folder.path());
        QVERIFY(!dangling.value);
        QVERIFY2(dangling.error.contains(u"is a symbolic link to"_s), qPrintable(dangling.error));
    }
    // A huge file is refused before it is read.
    QFile::remove(path);
    QFile huge(path);
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(NetworkConfig::LargestFileBytes + 1));
    huge.close();
    const NetworkConfig::Parsed tooLarge = NetworkConfig::load(folder.path());
    QVERIFY(!tooLarge.value);
    QVERIFY2(tooLarge.error.contains(u"larger than the 1048576 bytes"_s), qPrintable(tooLarge.error));
}

void TestNetworkSettings::fileReadableByOthersIsWarnedAbout()
{
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath(u"network.conf"_s);
    QVERIFY(testfiles::writeBytes(path, "protocol = irc\naccount = a@b\nroom = #r\npassword = secret\n"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    NetworkConfig::Parsed parsed = NetworkConfig::load(folder.path());
    QVERIFY(parsed.value);
    QVERIFY(parsed.value->permissionWarning.contains(u"chmod 600"_s));
    QVERIFY(!parsed.value->permissionWarning.contains(u"secret"_s));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(NetworkConfig::load(folder.path()).value->permissionWarning.isEmpty());
}

void TestNetworkSettings::unknownProtocolAndOptionsAreRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown protocol") << u"\nprotocol = carrier-pigeon\naccount = a@b\nroom = #r"_s
                                      << u"line 2: unknown protocol \"carrier-pigeon\"; this machine offers:"_s;
    QTest::newRow("unknown option") << u"protocol = irc\naccount = a@b\nroom = #r\noption.colour = red"_s
                                    << u"line 4: prpl-irc has no option \"colour\"; its options are:"_s;
    QTest::newRow("number expected") << u"protocol = irc\naccount = a@b\nroom = #r\noption.port = many"_s
                                     << u"line 4: option.port takes a whole number"_s;
    QTest::newRow("true or false") << u"protocol = irc\naccount = a@b\nroom = #r\noption.ssl = perhaps"_s
                                   << u"line 4: option.ssl takes true or false"_s;
    for (const QString &port : {u"0"_s, u"-1"_s, u"70000"_s}) {
        QTest::newRow(qPrintable(u"port "_s + port))
            << u"protocol = irc\naccount = a@b\nroom = #r\noption.port = "_s + port
            << u"line 4: option.port takes a port number from 1 to 65535"_s;
    }
}

void TestNetworkSettings::unknownProtocolAndOptionsAreRefused()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    const NetworkSettings::Parsed parsed = NetworkSettings::parse(text);
    QVERIFY2(parsed.value, qPrintable(parsed.error));
    PurpleMessenger messenger(*parsed.value);
    const QString refused = messenger.start();
    QVERIFY2(refused.contains(error), qPrintable(refused));
    QVERIFY(!messenger.IsRunning());
}

void TestNetworkSettings::wireTextHasNoRawLineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("wire");
    QTest::newRow("CR line breaks") << u"\r0) a\r1) b"_s << u"<br>0) a<br>1) b"_s;
    QTest::newRow("CR LF and LF") << u"a\r\nb\nc"_s << u"a<br>b<br>c"_s;
    QTest::newRow("NUL and controls") << u"a\u0000b\u0001c\td\u007Fe"_s << u"abc de"_s;
    QTest::newRow("injection") << u"x\rPRIVMSG #links :INJECTED"_s << u"x<br>PRIVMSG #links :INJECTED"_s;
}

void TestNetworkSettings::wireTextHasNoRawLineBreaks()
{
    QFETCH(QString, text);
    QFETCH(QString, wire);
    QCOMPARE(PurpleMessenger::wireText(text), wire);
}

QTEST_GUILESS_MAIN(TestNetworkSettings)
#include "tst_networksettings.moc"
