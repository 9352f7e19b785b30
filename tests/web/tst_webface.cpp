#include "passwords/adminpassword.h"
#include "web/webadmin.h"
#include "web/webface.h"
#include "web/webpages.h"

#include "support/testcertificates.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <sodium.h>

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

// The same, with the event loop running meanwhile (the admin's changes are
// made on this thread while the request waits).
QByteArray exchangeLive(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write(request);
    QByteArray answer;
    (void)QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    return answer + socket.readAll();
}

QByteArray post(const QByteArray &path, const QByteArray &form, const QByteArray &cookies = {},
                const QByteArray &type = "application/x-www-form-urlencoded")
{
    return "POST " + path +
           " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
           "Content-Type: " +
           type + "\r\nContent-Length: " + QByteArray::number(form.size()) + "\r\n" +
           (cookies.isEmpty() ? QByteArray() : "Cookie: " + cookies + "\r\n") + "\r\n" + form;
}

// The import form as a browser sends it: the token, the choices, and a file.
QByteArray importForm(const QByteArray &token, const QByteArray &fileName, const QByteArray &file)
{
    return "--b0undary\r\nContent-Disposition: form-data; name=\"csrf\"\r\n\r\n" + token +
           "\r\n--b0undary\r\nContent-Disposition: form-data; name=\"mode\"\r\n\r\nreplace\r\n"
           "--b0undary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
           fileName + "\"\r\nContent-Type: text/csv\r\n\r\n" + file + "\r\n--b0undary--\r\n";
}
constexpr char MultipartType[] = "multipart/form-data; boundary=b0undary";

// The value of a Set-Cookie of the answer, "name=value".
QByteArray setCookie(const QByteArray &answer, const QByteArray &name)
{
    const qsizetype at = answer.indexOf(QByteArray("Set-Cookie: " + name + '='));
    return at < 0 ? QByteArray() : answer.mid(at + 12, answer.indexOf(';', at) - at - 12);
}

// The CSRF token of the first form of a page.
QByteArray csrfOf(const QByteArray &page)
{
    const qsizetype at = page.indexOf("name=\"csrf\" value=\"");
    return at < 0 ? QByteArray() : page.mid(at + 19, 64);
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
    void slowClientsCannotShutOthersOut();
    void adminLogsInChangesAndLogsOut();
    void httpsServesAndMarksCookiesSecure();

private:
    WebFace m_web;
    WebSnapshot m_snapshot;
};

void TestWebFace::initTestCase()
{
    QStringList descriptions;
    QStringList addresses;
    for (int item = 0; item < 450; ++item) {
        descriptions.append(u"Item %1 about links"_s.arg(item));
        addresses.append(u"https://example.org/%1"_s.arg(item));
    }
    descriptions[7] = u"<script>alert(1)</script> \"><img src=x onerror=alert(2)>"_s;
    addresses[8] = u"javascript:alert(3)"_s;
    descriptions[9] = u"Ünïcödé AbCdEf"_s;
    m_snapshot.descriptions = StringRowList(descriptions);
    m_snapshot.addresses = StringRowList(addresses);
    m_snapshot.serverMessage = u"Thanks <b>& more</b>"_s;
    m_snapshot.rooms = {{u"libera"_s, u"#links"_s, u"linkdesk"_s, true, true, {}, QList<int>(24, 0), true},
                        {u"chat"_s, u"links@conference.example.org"_s, u"linkdesk"_s, true, true, {}}};
    m_web.publish(m_snapshot);
    const QString started = m_web.start({u"127.0.0.1"_s, 0, {}, {}, {}});
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
    QTest::newRow("JSON") << get("/catalogue.json") << 200
                          << QByteArray("[{\"number\":0,\"description\":\"Item 0 about links\",");
    QTest::newRow("text") << get("/catalogue.txt") << 200 << QByteArray("449) Item 449 about links\n");
    QTest::newRow("the style sheet") << get("/style.css") << 200 << QByteArray("body{");
    QTest::newRow("the icon") << get("/favicon.ico") << 200 << QByteArray("\x89PNG");
    QTest::newRow("alive") << get("/livez") << 200 << QByteArray("ok");
    QTest::newRow("unknown path") << get("/admin.php") << 404 << QByteArray("Not found");
    QTest::newRow("climbing out") << get("/../../etc/passwd") << 404 << QByteArray("Not found");
    QTest::newRow("climbing out, encoded") << get("/%2e%2e/%2e%2e/etc/passwd") << 404 << QByteArray("Not found");
    QTest::newRow("climbing out, doubly encoded") << get("/%252e%252e%252fetc%252fpasswd") << 404 << QByteArray();
    QTest::newRow("HEAD") << QByteArray("HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n") << 200
                          << QByteArray();
    QTest::newRow("DELETE") << QByteArray("DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n") << 405
                            << QByteArray("Method not allowed");
    QTest::newRow("a POST with a body")
        << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 5\r\n\r\nhello") << 405
        << QByteArray();
    QTest::newRow("HTTP/1.0") << QByteArray("GET /livez HTTP/1.0\r\n\r\n") << 200 << QByteArray("ok");
    QTest::newRow("a 1 MB header") << get("/", "X-Junk: " + QByteArray(1 << 20, 'a') + "\r\n") << 431 << QByteArray();
    QTest::newRow("a 10 MB body")
        << "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 10485760\r\n\r\n" +
               QByteArray(1 << 20, 'b')
        << 405 << QByteArray();
    QTest::newRow("two Content-Length headers that differ")
        << QByteArray("POST /admin/login HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 3\r\n"
                      "Content-Length: 40\r\n\r\nabc")
        << 400 << QByteArray("Content-Length");
    QTest::newRow("HTTP/1.1 without Host")
        << QByteArray("GET / HTTP/1.1\r\nConnection: close\r\n\r\n") << 400 << QByteArray("Host");
    QTest::newRow("not HTTP") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 14) << 400
                              << QByteArray();
}

void TestWebFace::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, inBody);
    const QByteArray answer = exchange(m_web.port(), request);
    if (status >= 400 && status != 404 && status != 405 && inBody.isEmpty() && answer.isEmpty())
        return; // closing the connection is as good an answer to junk
    QCOMPARE(statusOf(answer), status);
    QVERIFY2(bodyOf(answer).contains(inBody), answer.left(2000).constData());
    if (status == 200) {
        QVERIFY(answer.contains("Content-Security-Policy: default-src 'self'"));
        QVERIFY(answer.contains("X-Content-Type-Options: nosniff"));
        QVERIFY(answer.contains("charset=utf-8") || answer.contains("Content-Type: image/png"));
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
    // Each room says what its members type: IRC clients take "/" as their own.
    QVERIFY(page.contains("#links: type <code>/say /linkdesk send N</code> (or <code>//linkdesk send N</code>)"));
    QVERIFY(page.contains("links@conference.example.org: type <code>/linkdesk send N</code>"));
    const QString search = QString::fromUtf8(bodyOf(exchange(m_web.port(), get("/?q=%22%3E%3Cscript%3E"))));
    QVERIFY(search.contains(u"value=\"&quot;&gt;&lt;script&gt;\""_s));
    const QJsonArray items = QJsonDocument::fromJson(bodyOf(exchange(m_web.port(), get("/catalogue.json")))).array();
    QCOMPARE(items.size(), 450);
    QCOMPARE(items[7].toObject()[u"description"_s].toString(), m_snapshot.descriptions.List(7));
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
    snapshot.rooms.append({u"chat"_s, u"links@conference.example.org"_s, u"Link Desk"_s, false, false, {}});
    m_web.publish(snapshot);
    const QByteArray notReady = exchange(m_web.port(), get("/readyz"));
    QCOMPARE(statusOf(notReady), 503);
    QVERIFY(bodyOf(notReady).contains("\"room\":\"links@conference.example.org\""));
    QCOMPARE(statusOf(exchange(m_web.port(), get("/?q=item", "If-None-Match: " + etag + "\r\n"))), 200);
    m_web.publish(m_snapshot);
    QCOMPARE(statusOf(exchange(m_web.port(), get("/readyz"))), 200);

    // What the address holds beyond what changes the answer is no page of its own.
    (void)exchange(m_web.port(), get("/catalogue.json"));
    const qint64 cached = m_web.cachedBytes();
    QVERIFY(cached > 0);
    for (int query = 0; query < 40; ++query)
        (void)exchange(m_web.port(), get("/catalogue.json?q=" + QByteArray::number(query)));
    QCOMPARE(m_web.cachedBytes(), cached);

    // Another run with other content, its first snapshot like this one's: a copy
    // of this run's page is not current there.
    const auto etagIn = [](const QByteArray &answer) {
        const qsizetype at = answer.indexOf("ETag: ");
        return answer.mid(at + 6, answer.indexOf("\r\n", at) - at - 6);
    };
    WebFace run;
    WebFace rerun;
    WebSnapshot removed = m_snapshot;
    removed.descriptions = StringRowList(m_snapshot.descriptions.allRows().mid(1));
    removed.addresses = StringRowList(m_snapshot.addresses.allRows().mid(1));
    run.publish(m_snapshot);
    rerun.publish(removed);
    QVERIFY(run.start({u"127.0.0.1"_s, 0, {}, {}, {}}).isEmpty());
    QVERIFY(rerun.start({u"127.0.0.1"_s, 0, {}, {}, {}}).isEmpty());
    const QByteArray before = etagIn(exchange(run.port(), get("/")));
    QCOMPARE(statusOf(exchange(rerun.port(), get("/", "If-None-Match: " + before + "\r\n"))), 200);
    QCOMPARE(statusOf(exchange(run.port(), get("/", "If-None-Match: " + before + "\r\n"))), 304);
}

void TestWebFace::slowClientsCannotShutOthersOut()
{
    // One address holds as many connections as it may, and more; another is still answered.
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 100; ++i) {
        held.push_back(std::make_unique<QTcpSocket>());
        held.back()->connectToHost(QHostAddress::LocalHost, m_web.port());
        held.back()->waitForConnected(1000);
    }
    QCOMPARE(statusOf(exchange(m_web.port(), get("/livez"), u"127.0.0.2"_s)), 200);
    held.clear();

    // Ten addresses trickle requests they never finish, 30 connections each:
    // others are answered meanwhile, and the slow ones are cut at the deadline.
    WebFace face;
    face.publish(m_snapshot);
    WebFace::Settings settings{u"127.0.0.1"_s, 0, {}, {}, {}};
    settings.requestDeadline = std::chrono::milliseconds(1500);
    QVERIFY(face.start(settings).isEmpty());
    for (int address = 10; address < 20; ++address) {
        for (int i = 0; i < 30; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->bind(QHostAddress(u"127.0.0.%1"_s.arg(address)));
            socket->connectToHost(QHostAddress::LocalHost, face.port());
            QVERIFY(socket->waitForConnected(1000));
            socket->write("GET / HTTP/1.1\r\nHost: x\r\n");
            socket->waitForBytesWritten(1000);
            held.push_back(std::move(socket));
        }
    }
    QElapsedTimer answered;
    answered.start();
    QCOMPARE(statusOf(exchange(face.port(), get("/livez"), u"127.0.0.2"_s)), 200);
    QCOMPARE(statusOf(exchange(face.port(), get("/"), u"127.0.0.3"_s)), 200);
    const qint64 answeredMs = answered.elapsed();
    // A face that had no place for them would answer only once the deadline
    // cut a slow client. A quick answer shows it did not wait; a slow one (a
    // busy machine) is still no fault while every slow client holds on.
    int cut = 0;
    for (const auto &socket : held) {
        socket->waitForReadyRead(0);
        cut += socket->state() == QAbstractSocket::ConnectedState ? 0 : 1;
    }
    QVERIFY2(answeredMs < 1000 || cut == 0, qPrintable(u"%1 ms, %2 cut"_s.arg(answeredMs).arg(cut)));
    for (const auto &socket : held)
        socket->write("X-More: 1\r\n");
    QDeadlineTimer cutBy(5000);
    int open = int(held.size());
    while (open > 0 && !cutBy.hasExpired()) {
        open = 0;
        for (const auto &socket : held) {
            socket->waitForReadyRead(0);
            open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
        }
        QTest::qWait(50);
    }
    QCOMPARE(open, 0);

    // A kept-alive connection sits idle longer than the deadline between two
    // requests: the deadline is for a request on its way, not for the pause.
    QTcpSocket kept;
    kept.connectToHost(QHostAddress::LocalHost, face.port());
    QVERIFY(kept.waitForConnected(1000));
    for (int request = 0; request < 2; ++request) {
        kept.write("GET /livez HTTP/1.1\r\nHost: x\r\n\r\n");
        QByteArray answer;
        QVERIFY(QTest::qWaitFor(
            [&] {
                kept.waitForReadyRead(10);
                answer += kept.readAll();
                return answer.contains("\r\n\r\n");
            },
            5000));
        QCOMPARE(statusOf(answer), 200);
        if (request == 0)
            QTest::qWait(3000);
        QCOMPARE(kept.state(), QAbstractSocket::ConnectedState);
    }
}

void TestWebFace::adminLogsInChangesAndLogsOut()
{
    WebFace admin;
    QList<AdminChange::Change> asked;
    QObject chat;
    admin.setAdminRunner(&chat, [&](const AdminChange::Change &change) {
        asked.append(change);
        return AdminChange::Told{u"Changed item 449."_s, 449};
    });
    admin.publish(m_snapshot);
    QVERIFY(admin.start({u"127.0.0.1"_s, 0, {}, {}, AdminPassword::hash("R1ght pw")}).isEmpty());
    const quint16 port = admin.port();

    // The login form sets its own token; a login without it, or with a wrong password, is refused.
    const QByteArray form = exchange(port, get("/admin"));
    QCOMPARE(statusOf(form), 200);
    const QByteArray login = setCookie(form, "valdrin_login");
    const QByteArray loginToken = csrfOf(form);
    QVERIFY(!login.isEmpty() && form.contains("HttpOnly; SameSite=Strict"));
    QCOMPARE(statusOf(exchange(port, post("/admin/login", "password=R1ght+pw"))), 403);
    QCOMPARE(statusOf(exchange(port, post("/admin/login", "password=wrong&csrf=" + loginToken, login))), 403);
    const QByteArray in = exchange(port, post("/admin/login", "password=R1ght+pw&csrf=" + loginToken, login));
    QVERIFY2(statusOf(in) == 303, in.constData());
    const QByteArray session = setCookie(in, "valdrin_session");
    QVERIFY(!session.isEmpty());

    // The page, and its forms: each with the session's token.
    const QByteArray page = exchange(port, get("/admin", "Cookie: " + session + "\r\n"));
    QCOMPARE(statusOf(page), 200);
    QVERIFY(page.contains("<td data-label=\"Connection\">libera</td><td data-label=\"Room\">#links</td>"));
    const QByteArray token = csrfOf(bodyOf(page));
    QCOMPARE(token.size(), 64);
    QCOMPARE(statusOf(exchange(port, post("/admin/add", "description=New&address=https%3A%2F%2Fx", session))), 403);
    QCOMPARE(
        statusOf(exchange(port, post("/admin/add", "description=New&address=x&csrf=" + QByteArray(64, 'a'), session))),
        403);
    QVERIFY(asked.isEmpty());
    const QByteArray added = exchangeLive(
        port, post("/admin/add", "description=New+item+%C3%BC&address=https%3A%2F%2Fexample.org%2Fnew&csrf=" + token,
                   session));
    QCOMPARE(statusOf(added), 303);
    // Back to the page that shows the new item; the address names the notice by a code of the session's.
    const qsizetype location = added.indexOf("Location: /admin?said=");
    QVERIFY(location > 0);
    const QByteArray back = added.mid(location + 10, added.indexOf("\r\n", location) - location - 10);
    QVERIFY2(back.endsWith("&page=3#item449"), back.constData());
    const QByteArray landed = bodyOf(exchange(port, get(back.left(back.indexOf('#')), "Cookie: " + session + "\r\n")));
    // The notice is where the page opens, beside the item, not a page's height above it.
    const qsizetype item = landed.indexOf("<li id=\"item449\">");
    const qsizetype notice = landed.indexOf("<p class=\"note\" id=\"said\" role=\"status\">Changed item 449.</p>");
    QVERIFY2(item > 0 && notice > item && notice < landed.indexOf("</li>", item), landed.constData());
    QVERIFY(landed.contains("id=\"item449\""));
    // HEAD is answered as GET is, with a session as without.
    QCOMPARE(statusOf(exchange(port, "HEAD /admin HTTP/1.1\r\nHost: x\r\nConnection: close\r\nCookie: " + session +
                                         "\r\n\r\n")),
             200);
    QVERIFY(landed.contains("450 items; 401 to 450 shown"));
    QCOMPARE(asked.size(), 1);
    const auto *add = std::get_if<CatalogueChange::AddItem>(&asked[0]);
    QVERIFY(add);
    QCOMPARE(add->description, u"New item ü"_s);
    QCOMPARE(add->address, u"https://example.org/new"_s);
    // A text of someone else's making in the address is never shown.
    const QByteArray crafted = bodyOf(
        exchange(port, get("/admin?said=Session+ended%3A+log+in+at+evil.example", "Cookie: " + session + "\r\n")));
    QVERIFY(!crafted.contains("evil.example") && !crafted.contains("id=\"said\""));

    // Edit and remove name the item by what the page showed; remove asks first.
    const QByteArray seen = "number=5&seen_description=Item+5+about+links&seen_address=https%3A%2F%2Fexample.org%2F5";
    QCOMPARE(statusOf(exchange(port, post("/admin/remove", "number=5&csrf=" + token, session))), 400);
    const QByteArray confirm = exchange(port, post("/admin/remove", seen + "&csrf=" + token, session));
    QCOMPARE(statusOf(confirm), 200);
    QVERIFY(confirm.contains("Remove item 5</button>") && confirm.contains("name=\"confirm\" value=\"1\""));
    QCOMPARE(asked.size(), 1);
    QCOMPARE(statusOf(exchangeLive(port, post("/admin/remove", seen + "&confirm=1&csrf=" + token, session))), 303);
    QCOMPARE(
        statusOf(exchangeLive(port, post("/admin/edit", seen + "&description=Five&address=x&csrf=" + token, session))),
        303);
    QCOMPARE(asked.size(), 3);
    const auto *remove = std::get_if<CatalogueChange::RemoveItem>(&asked[1]);
    const auto *edit = std::get_if<CatalogueChange::EditItem>(&asked[2]);
    QVERIFY(remove && edit);
    QCOMPARE(remove->item.descriptionRow, 5);
    QCOMPARE(remove->item.description, u"Item 5 about links"_s);
    QCOMPARE(edit->item.address, u"https://example.org/5"_s);
    QCOMPARE(edit->description, u"Five"_s);
    QCOMPARE(statusOf(exchange(port, post("/admin/add", QByteArray(WebFace::FormBytesAtMost + 1, 'x'), session))), 413);

    // A catalogue file: parsed as it comes in, a file of megabytes taken from a
    // session only, and no larger than the form takes.
    QByteArray csv = "description,url\r\n\"With \"\"quotes\"\", and a comma\",https://example.org/q\r\n";
    csv.append('\0');
    QCOMPARE(
        statusOf(exchangeLive(port, post("/admin/import", importForm(token, "list.csv", csv), session, MultipartType))),
        303);
    QCOMPARE(asked.size(), 4);
    const auto *imported = std::get_if<AdminChange::ImportFile>(&asked[3]);
    QVERIFY(imported);
    QCOMPARE(imported->fileName, u"list.csv"_s);
    QCOMPARE(imported->bytes, csv);
    QVERIFY(imported->replace && !imported->dryRun);
    const QByteArray huge = importForm(token, "huge.csv", QByteArray(WebAdmin::ImportBytesAtMost + 1, 'x'));
    QVERIFY(bodyOf(exchange(port, post("/admin/import", huge, {}, MultipartType))).startsWith("Log in"));
    QCOMPARE(statusOf(exchange(port, post("/admin/import", huge, session, MultipartType))), 413);
    QCOMPARE(statusOf(exchange(port, post("/admin/import", "csrf=" + token, session))), 400);
    QCOMPARE(asked.size(), 4);

    // After logout the cookie is worth nothing.
    QCOMPARE(statusOf(exchange(port, post("/admin/logout", "csrf=" + token, session))), 303);
    const QByteArray replayed = exchange(port, post("/admin/remove", seen + "&confirm=1&csrf=" + token, session));
    QCOMPARE(statusOf(replayed), 403);
    QCOMPARE(asked.size(), 4);

    // Passwords are checked off the HTTP thread: others are answered meanwhile.
    std::vector<std::unique_ptr<QTcpSocket>> logins;
    for (int address = 30; address < 38; ++address) {
        const QByteArray form = exchange(port, get("/admin"));
        logins.push_back(std::make_unique<QTcpSocket>());
        logins.back()->bind(QHostAddress(u"127.0.0.%1"_s.arg(address)));
        logins.back()->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(logins.back()->waitForConnected(1000));
        logins.back()->write(
            post("/admin/login", "password=guess&csrf=" + csrfOf(form), setCookie(form, "valdrin_login")));
        logins.back()->waitForBytesWritten(1000);
    }
    QElapsedTimer alive;
    alive.start();
    QCOMPARE(statusOf(exchange(port, get("/livez"), u"127.0.0.2"_s)), 200);
    // It was answered while logins still waited for their checks (a tenth of a
    // second each, one at a time); checks on the HTTP thread would have held it
    // until every login ahead of it was answered.
    int waiting = 0;
    for (const auto &socket : logins) {
        socket->waitForReadyRead(0);
        waiting += socket->bytesAvailable() == 0 && socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    }
    QVERIFY2(waiting > 0, qPrintable(u"no login waiting after %1 ms"_s.arg(alive.elapsed())));
    for (const auto &socket : logins) {
        QByteArray answer;
        while (socket->state() == QAbstractSocket::ConnectedState && socket->waitForReadyRead(10000))
            answer += socket->readAll();
        QCOMPARE(statusOf(answer + socket->readAll()), 403);
    }

    // Wrong passwords from one address: five are tried, then it is locked out.
    int refused = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray again = exchange(port, get("/admin"));
        const QByteArray answer = exchange(
            port, post("/admin/login", "password=guess&csrf=" + csrfOf(again), setCookie(again, "valdrin_login")));
        refused += statusOf(answer) == 429 ? 1 : 0;
    }
    QCOMPARE(refused, 100 - WebAdmin::FailuresAllowed);

    // Logins from many addresses: no more are checked a minute than the cap
    // and the reserve of addresses with no failure, yet a browser that logged
    // in before is still checked.
    char cheap[crypto_pwhash_STRBYTES];
    QCOMPARE(crypto_pwhash_str(cheap, "x", 1, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN), 0);
    WebFace busy;
    QVERIFY(busy.start({u"127.0.0.1"_s, 0, {}, {}, QByteArray(cheap)}).isEmpty());
    const auto logIn = [&](const QByteArray &password, const QString &from, const QByteArray &device = {}) {
        const QByteArray again = exchange(busy.port(), get("/admin"), from);
        QByteArray cookies = setCookie(again, "valdrin_login");
        if (!device.isEmpty())
            cookies += "; " + device;
        return exchange(busy.port(), post("/admin/login", "password=" + password + "&csrf=" + csrfOf(again), cookies),
                        from);
    };
    const QByteArray device = setCookie(logIn("x", u"127.0.0.9"_s), "valdrin_device");
    QVERIFY(!device.isEmpty());
    QList<int> statuses;
    constexpr int Checked = WebAdmin::LoginsPerMinute - 1 + WebAdmin::CleanAddressLoginsPerMinute;
    for (int address = 0; address < Checked + 5; ++address)
        statuses.append(statusOf(logIn("guess", u"127.0.1.%1"_s.arg(address))));
    QCOMPARE(statuses.count(403), Checked);
    QCOMPARE(statuses.count(429), 5);
    QCOMPARE(statusOf(logIn("x", u"127.0.1.0"_s)), 429);
    QByteArray forged = device;
    forged[forged.size() - 1] = forged.endsWith('0') ? '1' : '0';
    QCOMPARE(statusOf(logIn("x", u"127.0.1.0"_s, forged)), 429);
    QCOMPARE(statusOf(logIn("x", u"127.0.1.0"_s, device)), 303);

    // Over plain HTTP on a network address the admin page is off, and says why.
    WebFace open;
    QVERIFY(open.start({u"0.0.0.0"_s, 0, {}, {}, AdminPassword::hash("x")}).isEmpty());
    const QByteArray off = exchange(open.port(), get("/admin"));
    QCOMPARE(statusOf(off), 403);
    QVERIFY(off.contains("in the clear"));
}

void TestWebFace::httpsServesAndMarksCookiesSecure()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    QTemporaryDir folder;
    const testcertificates::Certificate certificate = testcertificates::selfSigned(folder.path(), u"localhost"_s);
    QVERIFY2(certificate.error.isEmpty(), qPrintable(certificate.error));
    WebFace secure;
    secure.publish(m_snapshot);
    const QString started =
        secure.start({u"127.0.0.1"_s, 0, certificate.certificateFile, certificate.keyFile, AdminPassword::hash("x")});
    QVERIFY2(started.isEmpty(), qPrintable(started));
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(u"127.0.0.1"_s, secure.port());
    QVERIFY2(socket.waitForEncrypted(5000), qPrintable(socket.errorString()));
    socket.write(get("/admin"));
    QByteArray answer;
    while (socket.waitForReadyRead(3000))
        answer += socket.readAll();
    QCOMPARE(statusOf(answer), 200);
    QVERIFY(answer.contains("HttpOnly; SameSite=Strict; Max-Age=600; Secure"));
    QVERIFY(answer.contains("Strict-Transport-Security: max-age="));
    // Plain HTTP to the HTTPS port gets nothing.
    QVERIFY(statusOf(exchange(secure.port(), get("/livez"))) == 0);
}

QTEST_GUILESS_MAIN(TestWebFace)
#include "tst_webface.moc"
