#include "support/capturedlog.h"
#include "support/ircserver.h"
#include "support/servedroom.h"
#include "support/testcertificates.h"
#include "support/xmppserver.h"

#include <QDir>
#include <QDirIterator>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

QByteArray rawFingerprint(const QString &hex)
{
    return QByteArray::fromHex(QString(hex).remove(u':').toLatin1());
}

// Every file libpurple has under its folder, as text, to search for what must not be there.
QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

} // namespace

// Servers that present certificates the program must not simply believe:
// refused unless the operator trusts them on purpose.
class TestPurpleTls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void selfSignedCertificateIsRefusedAndStoredNowhere();
    void pinnedCertificateSignsOnAndServes();
    void anotherPinIsRefused();
    void authorityFileTrustsTheCertificatesItIssued();
    void xmppRequiringTlsTrustsAPinOrTheDomainsAuthority();
    void failedHandshakeIsTriedAgain();

private:
    // Signs on with the settings; the refusal's text, or empty when it got into the room.
    QString signOnOutcome(ServedRoom &room, const NetworkSettings &settings);
    [[nodiscard]] NetworkSettings ircTls(quint16 port, const QString &nick) const;

    QTemporaryDir m_certificates;
    testcertificates::Certificate m_impostor;
    testcertificates::Certificate m_authority;
    testcertificates::Certificate m_issued;
    IrcServer m_impostorServer;
    IrcServer m_issuedServer;
};

void TestPurpleTls::initTestCase()
{
    m_impostor = testcertificates::selfSigned(m_certificates.path(), u"evil.example"_s);
    QVERIFY2(m_impostor.error.isEmpty(), qPrintable(m_impostor.error));
    m_authority = testcertificates::selfSigned(m_certificates.path(), u"Valdrin Test Authority"_s);
    QVERIFY2(m_authority.error.isEmpty(), qPrintable(m_authority.error));
    m_issued = testcertificates::issuedBy(m_authority, m_certificates.path(), u"127.0.0.1"_s);
    QVERIFY2(m_issued.error.isEmpty(), qPrintable(m_issued.error));

    m_impostorServer.enableTls(m_impostor.certificateFile, m_impostor.keyFile);
    QString started = m_impostorServer.start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    m_issuedServer.enableTls(m_issued.certificateFile, m_issued.keyFile);
    started = m_issuedServer.start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    QCOMPARE(ServedRoom::startPurple(), QString());
}

NetworkSettings TestPurpleTls::ircTls(quint16 port, const QString &nick) const
{
    NetworkSettings settings = ServedRoom::ircSettings(port, u"#links"_s, 0, nick);
    settings.options.append({u"ssl"_s, u"true"_s, 9});
    return settings;
}

QString TestPurpleTls::signOnOutcome(ServedRoom &room, const NetworkSettings &settings)
{
    if (const QString error = room.start(settings, 0); !error.isEmpty())
        return u"did not start: "_s + error;
    QSignalSpy refused(&room.messenger(), &MorvexAIMOCX::AIM::signOnRefused);
    QSignalSpy joined(&room.messenger(), &MorvexAIMOCX::AIM::roomJoined);
    if (!QTest::qWaitFor([&] { return !refused.isEmpty() || !joined.isEmpty(); }, 20000))
        return u"neither refused nor in the room"_s;
    return joined.isEmpty() ? refused.constFirst().constFirst().toString() : QString();
}

void TestPurpleTls::selfSignedCertificateIsRefusedAndStoredNowhere()
{
    // Every line the program logs meanwhile, to see that the refusal is told once.
    ServedRoom room(1);
    QString refusal;
    {
        const CapturedLog log(lcPurple());
        refusal = signOnOutcome(room, ircTls(m_impostorServer.tlsPort(), u"plain1"_s));
    }
    QCOMPARE(CapturedLog::lines().filter(m_impostor.sha256, Qt::CaseInsensitive).size(), 1);
    // The operator learns which host, why, and the fingerprint to pin.
    QVERIFY2(refusal.contains(u"127.0.0.1"_s) && refusal.contains(u"evil.example"_s), qPrintable(refusal));
    QVERIFY2(refusal.contains(m_impostor.sha256, Qt::CaseInsensitive), qPrintable(refusal));
    QVERIFY(refusal.contains(u"tls-fingerprint"_s));
    // Not tried again, and nothing kept for next time.
    QTest::qWait(3000);
    QVERIFY(!room.messenger().IsRunning());
    for (const QString &file : filesUnder(ServedRoom::purpleFolder()))
        QVERIFY2(!file.contains(u"tls_peers"_s), qPrintable(file));
}

void TestPurpleTls::pinnedCertificateSignsOnAndServes()
{
    ServedRoom room(1);
    NetworkSettings settings = ircTls(m_impostorServer.tlsPort(), u"pinned1"_s);
    settings.tlsFingerprint = rawFingerprint(m_impostor.sha256);
    QCOMPARE(signOnOutcome(room, settings), QString());
    QVERIFY(room.switchOn());
    for (const QString &file : filesUnder(ServedRoom::purpleFolder()))
        QVERIFY2(!file.contains(u"tls_peers"_s), qPrintable(file));
}

void TestPurpleTls::anotherPinIsRefused()
{
    ServedRoom room(1);
    NetworkSettings settings = ircTls(m_impostorServer.tlsPort(), u"pinned2"_s);
    settings.tlsFingerprint = rawFingerprint(m_issued.sha256);
    const QString refusal = signOnOutcome(room, settings);
    QVERIFY2(refusal.contains(u"not the certificate pinned"_s), qPrintable(refusal));
}

void TestPurpleTls::authorityFileTrustsTheCertificatesItIssued()
{
    {
        ServedRoom room(1);
        const QString refusal = signOnOutcome(room, ircTls(m_issuedServer.tlsPort(), u"issued1"_s));
        QVERIFY2(refusal.contains(u"not issued by an authority this machine trusts"_s), qPrintable(refusal));
    }
    ServedRoom room(1);
    NetworkSettings settings = ircTls(m_issuedServer.tlsPort(), u"issued2"_s);
    settings.tlsAuthorityFile = m_authority.certificateFile;
    QCOMPARE(signOnOutcome(room, settings), QString());
}

namespace {

// An XMPP server that requires TLS with the certificate, with linkdesk's
// account; what went wrong otherwise.
QString startRequiringTls(XmppServer &server, const testcertificates::Certificate &certificate)
{
    server.requireTls(certificate.certificateFile, certificate.keyFile);
    if (const QString added = server.addUser(u"linkdesk"_s, u"secret"_s); !added.isEmpty())
        return added;
    return server.start();
}

} // namespace

void TestPurpleTls::xmppRequiringTlsTrustsAPinOrTheDomainsAuthority()
{
    const testcertificates::Certificate certificate =
        testcertificates::selfSigned(m_certificates.path(), u"localhost"_s);
    QVERIFY2(certificate.error.isEmpty(), qPrintable(certificate.error));
    XmppServer server;
    const QString started = startRequiringTls(server, certificate);
    QVERIFY2(started.isEmpty(), qPrintable(started));

    NetworkSettings settings = ServedRoom::xmppSettings(u"linkdesk"_s, server.port());
    for (NetworkSettings::Option &option : settings.options) {
        if (option.name == u"connection_security")
            option.value = u"require_tls"_s;
    }
    {
        ServedRoom room(1);
        const QString refusal = signOnOutcome(room, settings);
        QVERIFY2(refusal.contains(u"was refused"_s) && refusal.contains(certificate.sha256, Qt::CaseInsensitive),
                 qPrintable(refusal));
    }
    {
        ServedRoom room(1);
        settings.tlsFingerprint = rawFingerprint(certificate.sha256);
        QCOMPARE(signOnOutcome(room, settings), QString());
    }

    // A certificate issued to the XMPP domain by the authority the settings
    // name is trusted, though the program connects to an address.
    const testcertificates::Certificate issued =
        testcertificates::issuedBy(m_authority, m_certificates.path(), u"localhost"_s);
    QVERIFY2(issued.error.isEmpty(), qPrintable(issued.error));
    XmppServer domainServer;
    const QString domainStarted = startRequiringTls(domainServer, issued);
    QVERIFY2(domainStarted.isEmpty(), qPrintable(domainStarted));
    NetworkSettings byAuthority = ServedRoom::xmppSettings(u"linkdesk"_s, domainServer.port());
    byAuthority.tlsAuthorityFile = m_authority.certificateFile;
    ServedRoom room(1);
    QCOMPARE(signOnOutcome(room, byAuthority), QString());
}

void TestPurpleTls::failedHandshakeIsTriedAgain()
{
    // A port that takes the connection and closes it at once, as a TLS server
    // restarting does: nothing the operator must mend, so the program tries again.
    QTcpServer closing;
    QVERIFY(closing.listen(QHostAddress::LocalHost));
    int connections = 0;
    connect(&closing, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = closing.nextPendingConnection()) {
            ++connections;
            socket->abort();
            socket->deleteLater();
        }
    });
    ServedRoom room(1);
    QVERIFY(room.start(ircTls(closing.serverPort(), u"blipdesk"_s), 0).isEmpty());
    room.messenger().setReconnectDelay(200);
    QSignalSpy refused(&room.messenger(), &MorvexAIMOCX::AIM::signOnRefused);
    QSignalSpy problems(&room.messenger(), &MorvexAIMOCX::AIM::problem);
    QTRY_VERIFY_WITH_TIMEOUT(connections >= 3, 15000);
    QVERIFY(refused.isEmpty());
    QVERIFY(!problems.isEmpty());
    const QString told = problems.constFirst().constFirst().toString();
    QVERIFY2(told.contains(u"Trying again in"_s), qPrintable(told));
}

QTEST_GUILESS_MAIN(TestPurpleTls)
#include "tst_purpletls.moc"
