#include "support/nginxserver.h"
#include "support/testcertificates.h"

#include "linkcheck/linkchecker.h"
#include "linkcheck/linkhealth.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestLinkCheck final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachKindOfAnswerIsNamed();
    void privateAddressesAndOtherSchemesAreLeftAlone();
    void limitsHoldUnderManyLinks();
    void findingsAreKeptWithSinceWhen();
};

namespace {

// What nginx answers on the test server's paths.
const QString Locations = uR"(
location = /ok { return 200 "ok"; }
location = /missing { return 404; }
location = /gone { return 410; }
location = /server-error { return 500; }
location = /r1 { return 302 /r2; }
location = /r2 { return 301 /r3; }
location = /r3 { return 307 /ok; }
location = /loop1 { return 302 /loop2; }
location = /loop2 { return 302 /loop1; }
location = /away { return 302 http://elsewhere.example/; }
location ~ ^/hop([0-9]+)$ { set $n $1; return 302 /hop$n$n; }
location = /nohead { if ($request_method = HEAD) { return 405; } return 200 "page"; }
location = /busy { add_header Retry-After 1 always; return 429; }
location / { return 200 "ok"; }
)"_s;

QList<LinkChecker::Result> run(LinkChecker &checker, const QList<LinkChecker::Link> &links, int timeoutMs = 60000)
{
    QSignalSpy finished(&checker, &LinkChecker::finished);
    checker.check(links);
    // Links that all end at once (skipped) are told before the wait begins.
    if (finished.isEmpty() && !finished.wait(timeoutMs))
        return {};
    return finished.first().first().value<QList<LinkChecker::Result>>();
}

} // namespace

void TestLinkCheck::eachKindOfAnswerIsNamed()
{
    QTemporaryDir certificates;
    const testcertificates::Certificate authority = testcertificates::selfSigned(certificates.path(), u"ca"_s);
    QVERIFY2(authority.error.isEmpty(), qPrintable(authority.error));
    const testcertificates::Certificate leaf =
        testcertificates::issuedBy(authority, certificates.path(), u"127.0.0.1"_s);
    QVERIFY2(leaf.error.isEmpty(), qPrintable(leaf.error));
    NginxServer web;
    web.enableTls(leaf.certificateFile, leaf.keyFile);
    const QString started = web.start(Locations);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    // A server that takes the connection and never answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const QString https = u"https://127.0.0.1:%1/ok"_s.arg(web.tlsPort());

    LinkChecker::Limits limits;
    limits.checkPrivate = true;
    limits.timeoutMs = 1500;
    LinkChecker checker(limits);
    const QList<LinkChecker::Result> results = run(checker, {{0, web.url(u"/ok"_s)},
                                                             {1, web.url(u"/missing"_s)},
                                                             {2, web.url(u"/gone"_s)},
                                                             {3, web.url(u"/server-error"_s)},
                                                             {4, web.url(u"/r1"_s)},
                                                             {5, web.url(u"/loop1"_s)},
                                                             {6, web.url(u"/away"_s)},
                                                             {7, web.url(u"/hop1"_s)},
                                                             {8, web.url(u"/nohead"_s)},
                                                             {9, web.url(u"/busy"_s)},
                                                             {10, u"http://127.0.0.1:%1/"_s.arg(silent.serverPort())},
                                                             {11, https}});
    QCOMPARE(results.size(), 12);
    using Verdict = LinkChecker::Verdict;
    const QList<std::pair<Verdict, QString>> expected{
        {Verdict::Alive, u"200"_s},
        {Verdict::Dead, u"404"_s},
        {Verdict::Dead, u"410"_s},
        {Verdict::Doubtful, u"500"_s},
        {Verdict::Alive, u"200"_s}, // three redirects on the same host
        {Verdict::Dead, u"redirects in a loop"_s},
        {Verdict::Doubtful, u"redirects to another host: http://elsewhere.example/"_s},
        {Verdict::Doubtful, u"more than 5 redirects"_s},
        {Verdict::Alive, u"200"_s}, // HEAD refused, GET answered
        {Verdict::Doubtful, u"429"_s},
        {Verdict::Doubtful, u"no answer within 1 s"_s},
        {Verdict::Dead, u"TLS failed"_s}, // an authority nobody trusts
    };
    for (int item = 0; item < results.size(); ++item) {
        QCOMPARE(results[item].item, item);
        QVERIFY2(results[item].verdict == expected[item].first && results[item].found.contains(expected[item].second),
                 qPrintable(u"%1: %2"_s.arg(item).arg(results[item].found)));
    }
}

void TestLinkCheck::privateAddressesAndOtherSchemesAreLeftAlone()
{
    LinkChecker checker(LinkChecker::Limits{});
    const QList<LinkChecker::Result> results = run(checker, {{0, u"http://127.0.0.1:9/"_s},
                                                             {1, u"http://localhost/"_s},
                                                             {2, u"https://[::1]/"_s},
                                                             {3, u"http://192.168.1.10/x"_s},
                                                             {4, u"file:///etc/passwd"_s},
                                                             {5, u"mailto:ann@example.org"_s},
                                                             {6, u"ftp://files.example/"_s},
                                                             {7, u"not an address"_s}});
    QCOMPARE(results.size(), 4);
    for (const LinkChecker::Result &result : results) {
        QCOMPARE(result.verdict, LinkChecker::Verdict::Skipped);
        QVERIFY2(result.found.startsWith(u"skipped: "_s), qPrintable(result.found));
    }
}

void TestLinkCheck::limitsHoldUnderManyLinks()
{
    NginxServer web;
    const QString started = web.start(Locations);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    LinkChecker::Limits limits;
    limits.checkPrivate = true;
    LinkChecker checker(limits);
    QList<LinkChecker::Link> links;
    for (int item = 0; item < 200; ++item)
        links.append({item, web.url(u"/page%1"_s.arg(item))});
    QSignalSpy progress(&checker, &LinkChecker::progress);
    const QList<LinkChecker::Result> results = run(checker, links);
    QCOMPARE(results.size(), 200);
    QVERIFY(std::all_of(results.cbegin(), results.cend(), [](const LinkChecker::Result &result) {
        return result.verdict == LinkChecker::Verdict::Alive;
    }));
    QCOMPARE(progress.size(), 200);
    // The check held to two requests at once on the one host.
    QVERIFY2(checker.mostAtOnceOnAHost() <= limits.perHost, qPrintable(QString::number(checker.mostAtOnceOnAHost())));
}

void TestLinkCheck::findingsAreKeptWithSinceWhen()
{
    using Verdict = LinkChecker::Verdict;
    QTemporaryDir folder;
    const QDateTime first = QDateTime::currentDateTimeUtc().addDays(-2);
    const QDateTime second = first.addDays(1);
    LinkHealth health;
    health.record({{0, u"https://a.example/gone"_s, Verdict::Dead, u"404 Not Found"_s},
                   {1, u"https://a.example/slow"_s, Verdict::Doubtful, u"timed out"_s},
                   {2, u"https://a.example/"_s, Verdict::Alive, u"200 OK"_s}},
                  first);
    QVERIFY(health.save(folder.path()).isEmpty());
    QString problem;
    health = LinkHealth::load(folder.path(), &problem);
    QVERIFY(problem.isEmpty());
    // Still dead, even with another status: dead since the first check. Gone
    // from the catalogue: forgotten. Doubtful and then dead: dead since now.
    health.record({{0, u"https://a.example/gone"_s, Verdict::Dead, u"410 Gone"_s},
                   {1, u"https://a.example/slow"_s, Verdict::Dead, u"host not found"_s},
                   {5, u"http://10.0.0.1/"_s, Verdict::Skipped, u"a private address"_s}},
                  second);
    QVERIFY(health.save(folder.path()).isEmpty());
    health = LinkHealth::load(folder.path(), &problem);
    QVERIFY(problem.isEmpty());
    QCOMPARE(health.finished().toSecsSinceEpoch(), second.toSecsSinceEpoch());
    QCOMPARE(health.checked(), 2);
    QCOMPARE(health.count(Verdict::Dead), 2);
    QCOMPARE(health.count(Verdict::Skipped), 1);
    QCOMPARE(health.problemOf(u"https://a.example/gone"_s)->found, u"410 Gone"_s);
    QCOMPARE(health.problemOf(u"https://a.example/gone"_s)->since.toSecsSinceEpoch(), first.toSecsSinceEpoch());
    QCOMPARE(health.problemOf(u"https://a.example/slow"_s)->since.toSecsSinceEpoch(), second.toSecsSinceEpoch());
    QVERIFY(!health.problemOf(u"https://a.example/"_s));

    // A file spoiled by hand: no check rather than a wrong one, and the operator is told.
    QFile spoiled(QDir(folder.path()).filePath(LinkHealth::fileName()));
    QVERIFY(spoiled.open(QIODevice::WriteOnly | QIODevice::Truncate));
    spoiled.write("{\"finished\": 12, \"problems\": [");
    spoiled.close();
    health = LinkHealth::load(folder.path(), &problem);
    QVERIFY(!health.isChecked());
    QVERIFY2(problem.contains(LinkHealth::fileName()), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestLinkCheck)
#include "tst_linkcheck.moc"
