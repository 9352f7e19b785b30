#include "app/web/webface.h"
#include "app/web/webpages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// One request on a connection of its own, as bytes; the whole answer, read
// until the server closes the connection (or gives up after the timeout).
QByteArray exchange(quint16 port, const QByteArray &request, const QString &from = u"127.0.0.1"_s)
{
    QTcpSocket socket;
    socket.bind(QHostAddress(from));
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(3000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

int statusOf(const QByteArray &answer)
{
    return answer.startsWith("HTTP/1.") ? answer.mid(9, 3).toInt() : 0;
}

QByteArray bodyOf(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

QByteArray get(const QByteArray &target, const QByteArray &headers = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" + headers + "\r\n";
}

} // namespace

// The web face from outside: real sockets against the server on its own
// thread, and every page as the browser gets it.
class TestWebFace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void requests_data();
    void requests();
    void catalogueIsEscapedEverywhere();
    void cachingAndReadiness();
    void idleConnectionsCannotShutOthersOut();

private:
    WebFace m_web;
    WebSnapshot m_snapshot;
};

void TestWebFace::initTestCase()
{
    for (int item = 0; item < 450; ++item) {
        m_snapshot.descriptions.append(u"Item %1 about links"_s.arg(item));
        m_snapshot.addresses.append(u"https://example.org/%1"_s.arg(item));
    }
    m_snapshot.descriptions[7] = u"<script>alert(1)</script> \"><img src=x onerror=alert(2)>"_s;
    m_snapshot.addresses[8] = u"javascript:alert(3)"_s;
    m_snapshot.descriptions[9] = u"Ünïcödé AbCdEf"_s;
    m_snapshot.serverMessage = u"Thanks <b>& more</b>"_s;
    m_snapshot.rooms = {{u"libera"_s, u"#links"_s, u"linkdesk"_s, true, true}};
    m_web.publish(m_snapshot);
    const QString started = m_web.start({u"127.0.0.1"_s, 0, {}, {}});
    QVERIFY2(started.isEmpty(), qPrintable(started));
    QVERIFY(m_web.port() != 0);
}

void TestWebFace::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("inBody");
    QTest::newRow("the catalogue") << get("/") << 200 << QByteArray("<span class=\"n\">199</span>");
    QTest::newRow("its third page") << get("/?page=3") << 200 << QByteArray("<span class=\"n\">449</span>");
    QTest::newRow("a page past the end shows the last") << get("/?page=99") << 200 << QByteArray("Page 3 of 3");
    QTest::newRow("a page that is no number") << get("/?page=x%00") << 200 << QByteArray("Page 1 of 3");
    QTest::newRow("search, any letter case") << get("/?q=aBcDeF") << 200 << QByteArray("1 of 450 items match");
    QTest::newRow("search in addresses") << get("/?q=example.org%2F44") << 200 << QByteArray("11 of 450 items match");
    QTest::newRow("invalid percent-encoding") << get("/?q=%ZZ%") << 200 << QByteArray("items match");
    QTest::newRow("invalid UTF-8") << get("/?q=%FF%FE%C0") << 200 << QByteArray("items match");
    QTest::newRow("JSON") << get("/catalogue.json") << 200 << QByteArray("{\"description\":\"Item 0 about links\"");
    QTest::newRow("text") << get("/catalogue.txt") << 200 << QByteArray("449) Item 449 about links\n");
    QTest::newRow("the style sheet") << get("/style.css") << 200 << QByteArray("body{");
    QTest::newRow("alive") << get("/livez") << 200 << QByteArray("ok");
    QTest::newRow("unknown path") << get("/admin.php") << 404 << QByteArray("Not found");
    QTest::newRow("climbing out") << get("/../../etc/passwd") << 404 << QByteArray("Not found");
    QTest::newRow("climbing out, encoded") << get("/%2e%2e/%2e%2e/etc/passwd") << 404 << QByteArray("Not found");
    QTest::newRow("climbing out, doubly encoded") << get("/%252e%252e%252fetc%252fpasswd") << 404 << QByteArray();
    QTest::newRow("HEAD") << QByteArray("HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n") << 200 << QByteArray();
    QTest::newRow("DELETE") << QByteArray("DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n") << 405
                            << QByteArray("Method not allowed");
    QTest::newRow("a POST with a body")
        << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 5\r\n\r\nhello") << 405
        << QByteArray();
    QTest::newRow("HTTP/1.0") << QByteArray("GET /livez HTTP/1.0\r\n\r\n") << 200 << QByteArray("ok");
    QTest::newRow("a 1 MB header") << get("/", "X-Junk: " + QByteArray(1 << 20, 'a') + "\r\n") << 431 << QByteArray();
    QTest::newRow("a 10 MB body")
        << "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 10485760\r\n\r\n" + QByteArray(1 << 20, 'b')
        << 405 << QByteArray();
    QTest::newRow("not HTTP") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 14) << 400
                              << QByteArray();
}

void TestWebFace::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, inBody);
    const QByteArray answer = exchange(m_web.port(), request);
    if (status >= 400 && status != 404 && status != 405 && answer.isEmpty())
        return; // closing the connection is as good an answer to junk
    QCOMPARE(statusOf(answer), status);
    QVERIFY2(bodyOf(answer).contains(inBody), answer.left(2000).constData());
    if (status == 200) {
        QVERIFY(answer.contains("Content-Security-Policy: default-src 'self'"));
        QVERIFY(answer.contains("X-Content-Type-Options: nosniff"));
        QVERIFY(answer.contains("charset=utf-8") || answer.contains("application/json"));
    }
    if (request.startsWith("HEAD")) {
        QVERIFY(bodyOf(answer).isEmpty());
        QVERIFY(answer.contains("Content-Length: "));
    }
}

void TestWebFace::catalogueIsEscapedEverywhere()
{
    const QByteArray page = bodyOf(exchange(m_web.port(), get("/")));
    QVERIFY(page.contains("&lt;script&gt;alert(1)&lt;/script&gt; &quot;&gt;&lt;img src=x onerror=alert(2)&gt;"));
    QVERIFY(!page.contains("<script") && !page.contains("<img"));
    // An address that is not a web address is shown, never followed.
    QVERIFY(page.contains("<code>javascript:alert(3)</code>"));
    QVERIFY(!page.contains("href=\"javascript"));
    QVERIFY(page.contains("Thanks &lt;b&gt;&amp; more&lt;/b&gt;"));
    QVERIFY(page.contains("<code>/linkdesk send N</code>"));
    const QString search = QString::fromUtf8(bodyOf(exchange(m_web.port(), get("/?q=%22%3E%3Cscript%3E"))));
    QVERIFY(search.contains(u"value=\"&quot;&gt;&lt;script&gt;\""_s));
    const QJsonArray items = QJsonDocument::fromJson(bodyOf(exchange(m_web.port(), get("/catalogue.json")))).array();
    QCOMPARE(items.size(), 450);
    QCOMPARE(items[7].toObject()[u"description"_s].toString(), m_snapshot.descriptions[7]);
    QCOMPARE(items[9].toObject()[u"description"_s].toString(), u"Ünïcödé AbCdEf"_s);
    QCOMPARE(items[9].toObject()[u"number"_s].toInt(), 9);
}

void TestWebFace::cachingAndReadiness()
{
    const QByteArray first = exchange(m_web.port(), get("/?q=item"));
    const qsizetype at = first.indexOf("ETag: ");
    QVERIFY(at > 0);
    const QByteArray etag = first.mid(at + 6, first.indexOf("\r\n", at) - at - 6);
    QCOMPARE(statusOf(exchange(m_web.port(), get("/?q=item", "If-None-Match: " + etag + "\r\n"))), 304);
    QCOMPARE(statusOf(exchange(m_web.port(), get("/?q=other", "If-None-Match: " + etag + "\r\n"))), 200);
    // Pipelined requests on one connection are answered in turn.
    const QByteArray two = exchange(m_web.port(), "GET /livez HTTP/1.1\r\nHost: x\r\n\r\n" + get("/livez"));
    QCOMPARE(two.count("HTTP/1.1 200"), 2);

    // A room not in: not ready, and which one says why; a new snapshot changes every ETag.
    WebSnapshot snapshot = m_snapshot;
    snapshot.rooms.append({u"chat"_s, u"links@conference.example.org"_s, u"Link Desk"_s, false, false});
    m_web.publish(snapshot);
    const QByteArray notReady = exchange(m_web.port(), get("/readyz"));
    QCOMPARE(statusOf(notReady), 503);
    QVERIFY(bodyOf(notReady).contains("\"room\":\"links@conference.example.org\""));
    QCOMPARE(statusOf(exchange(m_web.port(), get("/?q=item", "If-None-Match: " + etag + "\r\n"))), 200);
    m_web.publish(m_snapshot);
    QCOMPARE(statusOf(exchange(m_web.port(), get("/readyz"))), 200);
}

void TestWebFace::idleConnectionsCannotShutOthersOut()
{
    // One address holds as many connections as it may, and more; another is still answered.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 100; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, m_web.port());
        idle.back()->waitForConnected(1000);
    }
    QCOMPARE(statusOf(exchange(m_web.port(), get("/livez"), u"127.0.0.2"_s)), 200);
}

QTEST_GUILESS_MAIN(TestWebFace)
#include "tst_webface.moc"
