#include "fakes/recordingmessenger.h"
#include "support/capturedlog.h"

#include "serving/listpages.h"
#include "serving/sendscheduler.h"

#include <QtTest>

Q_DECLARE_LOGGING_CATEGORY(lcServing)

using namespace Qt::StringLiterals;

namespace {

ListPageSet pageSet(int pages)
{
    StringRowList rows;
    for (int row = 0; row < ListPageSet::FirstPageRows + (pages - 1) * ListPageSet::PageRows; ++row)
        rows.AddItem(u"row "_s + QString::number(row));
    return ListPageSet(rows);
}

} // namespace

// The order in which the scheduler hands lines over, on a fake clock.
class TestSendScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void order_data();
    void order();
    void listQueueIsBounded();
    void listWhoseConnectionWentAfterItsLastPageEndsQuietly();
};

void TestSendScheduler::order_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<bool>("lineByLine");
    // Steps: "item NAME TEXT" ("|" a line break), "list NAME PAGES", "room LINE|LINE" (a block of the room's),
    // "at MS" (the clock moves on and what is due is sent), "left NAME", "rename OLD NEW",
    // "join LINES" (a room joined took that many lines of the pace), "drop" (the room is no longer served),
    // "down" (the connection is lost), "up" (the room is back on the network).
    QTest::addColumn<QString>("script");
    // What was sent, "MS NAME:TEXT" (a list page as "page N"; the room as "room").
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("an item goes ahead of a waiting page")
        << 1.0 << false << u"list Ann 3; item Bob b; at 1000; at 2000; at 3000; at 4000"_s
        << QStringList{u"0 Ann:page 0"_s, u"1000 Bob:b"_s, u"2000 Ann:page 1"_s, u"3000 Ann:page 2"_s};
    QTest::newRow("members take turns, line by line")
        << 1.0 << true << u"item Ann a1|a2|a3; item Bob b1|b2; at 1000; at 2000; at 3000; at 4000"_s
        << QStringList{u"0 Ann:a1"_s, u"1000 Bob:b1"_s, u"2000 Ann:a2"_s, u"3000 Bob:b2"_s, u"4000 Ann:a3"_s};
    // An empty line is none: the server would refuse it and it would cost a slot of the pace.
    QTest::newRow("one member's replies keep their order; an empty line, or one after a last break, is none")
        << 1.0 << true << u"item Ann a1||a2|; item Ann x; at 1000; at 2000; at 3000; at 4000"_s
        << QStringList{u"0 Ann:a1"_s, u"1000 Ann:a2"_s, u"2000 Ann:x"_s};
    QTest::newRow("the room's lines go first and are never bunched")
        << 1.0 << true << u"item Ann a1|a2; room hello; room hello; at 1000; at 2000; at 3000"_s
        << QStringList{u"0 Ann:a1"_s, u"1000 room:hello"_s, u"2000 Ann:a2"_s};
    QTest::newRow("a room's block still on its way is neither bunched with the next nor broken up by it")
        << 1.0 << true << u"room a1|a2|a3; room b1|b2|b3; at 1000; at 2000; at 3000; room c1|c2; at 4000"_s
        << QStringList{u"0 room:a1"_s, u"1000 room:a2"_s, u"2000 room:a3"_s, u"3000 room:c1"_s, u"4000 room:c2"_s};
    QTest::newRow("many room lines leave a member one line in four")
        << 1.0 << true
        << u"room r1|r2|r3|r4|r5|r6|r7; item Ann a1|a2; at 1000; at 2000; at 3000; at 4000; at 5000; at 6000; "
           u"at 7000; at 8000"_s
        << QStringList{u"0 room:r1"_s,    u"1000 room:r2"_s, u"2000 room:r3"_s, u"3000 Ann:a1"_s, u"4000 room:r4"_s,
                       u"5000 room:r5"_s, u"6000 room:r6"_s, u"7000 Ann:a2"_s,  u"8000 room:r7"_s};
    QTest::newRow("lines a join took from the pace delay what follows")
        << 1.0 << true << u"join 2; item Ann a; at 1000; at 2000"_s << QStringList{u"2000 Ann:a"_s};
    QTest::newRow("pages a second apart with nothing else to send")
        << 0.0 << false << u"list Ann 2; at 500; at 999; at 1000"_s
        << QStringList{u"0 Ann:page 0"_s, u"1000 Ann:page 1"_s};
    QTest::newRow("a member who left loses his list, and the next list starts")
        << 0.0 << false << u"list Ann 3; list B1 2; list B2 2; list B3 2; list Cat 1; left Ann; at 1000"_s
        << QStringList{u"0 Ann:page 0"_s, u"0 B1:page 0"_s,    u"0 B2:page 0"_s,    u"0 B3:page 0"_s,
                       u"0 Cat:page 0"_s, u"1000 B1:page 1"_s, u"1000 B2:page 1"_s, u"1000 B3:page 1"_s};
    QTest::newRow("a room no longer served gets nothing more: the page on its way ends its list")
        << 1.0 << false << u"list Ann 3; item Bob b; room r; drop; at 1000; at 2000; at 3000"_s
        << QStringList{u"0 Ann:page 0"_s};
    QTest::newRow("a rename follows the member")
        << 0.0 << false << u"list Ann 3; rename Ann Anna; at 1000; item Ann x; at 2000"_s
        << QStringList{u"0 Ann:page 0"_s, u"1000 Anna:page 1"_s, u"1000 Ann:x"_s, u"2000 Anna:page 2"_s};
    QTest::newRow("a reply that could not start within 30 s is told busy, once a minute")
        << 0.1 << true
        << u"item Ann a1|a2|a3|a4|a5; item Ann b1|b2|b3|b4; item Ann c; at 10000; at 20000; at 30000; "
           u"at 40000; at 50000; at 60000"_s
        << QStringList{u"0 Ann:a1"_s,     u"10000 Ann:a2"_s, u"20000 Ann:a3"_s,
                       u"30000 Ann:a4"_s, u"40000 Ann:a5"_s, u"50000 Ann:busy: ask again in about 50 s"_s};
    QTest::newRow("a lost connection loses no line: a reply goes on where it stopped")
        << 1.0 << true << u"item Bob b1|b2|b3; at 1000; down; at 2000; at 9000; up; at 10000"_s
        << QStringList{u"0 Bob:b1"_s, u"1000 Bob:b2"_s, u"9000 Bob:b3"_s};
    QTest::newRow("a lost connection loses no line: a list goes on once the room is back")
        << 1.0 << false << u"item Bob b; list Ann 3; down; at 1000; at 9000; up; at 10000; at 11000"_s
        << QStringList{u"0 Bob:b"_s, u"9000 Ann:page 0"_s, u"10000 Ann:page 1"_s, u"11000 Ann:page 2"_s};
    QTest::newRow("held past their time limits, an item (30 s) and a list (5 min) are given up")
        << 0.0 << false << u"list Ann 3; down; item Bob b; at 1000; at 301001; up; item Bob c"_s
        << QStringList{u"0 Ann:page 0"_s, u"301001 Bob:c"_s};
}

void TestSendScheduler::order()
{
    QFETCH(double, rate);
    QFETCH(bool, lineByLine);
    QFETCH(QString, script);
    QFETCH(QStringList, expected);

    RecordingMessenger messenger;
    messenger.network = {rate, 1, lineByLine};
    SendScheduler scheduler(&messenger);
    qint64 now = 0;
    scheduler.setClockForTesting([&now] { return now; });
    const ListPageSet pages = pageSet(3);

    QStringList sent;
    qsizetype seen = 0;
    for (const QString &step : script.split(u"; "_s)) {
        const QStringList word = step.split(u' ');
        if (word[0] == u"item") {
            scheduler.sendItem(word[1], QString(word[2]).replace(u'|', u'\r'), &messenger);
        } else if (word[0] == u"list") {
            scheduler.sendList(word[1], pageSet(word[2].toInt()), &messenger);
        } else if (word[0] == u"room") {
            QList<SendScheduler::RoomText> block;
            for (const QString &line : word[1].split(u'|'))
                block.append([line] { return line; });
            scheduler.postInRoom(block, &messenger, SendScheduler::Waiting::Keep);
        } else if (word[0] == u"at") {
            now = word[1].toLongLong();
            scheduler.sendDue();
        } else if (word[0] == u"join") {
            scheduler.spend(word[1].toDouble());
        } else if (word[0] == u"left") {
            scheduler.dropMember(word[1], u"left the room"_s, &messenger);
        } else if (word[0] == u"drop") {
            scheduler.dropRoom(&messenger);
        } else if (word[0] == u"down") {
            messenger.connected = false;
        } else if (word[0] == u"up") {
            messenger.connected = true;
            Q_EMIT messenger.roomJoined();
        } else if (word[0] == u"rename") {
            scheduler.renameMember(word[1], word[2], &messenger);
        }
        for (; seen < messenger.calls.size(); ++seen) {
            const QString &call = messenger.calls.at(seen);
            QString what = call.section(u':', 1);
            if (call.startsWith(u"SendChat:"))
                what = u"room:"_s + what;
            else if (!call.startsWith(u"SendIM:"))
                continue;
            for (int page = 0; page < pages.size(); ++page) {
                if (what.section(u':', 1) == pages.at(page))
                    what = what.section(u':', 0, 0) + u":page "_s + QString::number(page);
            }
            sent.append(QString::number(now) + u' ' + what);
        }
    }
    QCOMPARE(sent, expected);
}

void TestSendScheduler::listQueueIsBounded()
{
    RecordingMessenger messenger;
    SendScheduler scheduler(&messenger);
    qint64 now = 0;
    scheduler.setClockForTesting([&now] { return now; });
    const ListPageSet pages = pageSet(1);
    for (int member = 0; member < SendScheduler::ListsAtOnce + SendScheduler::ListsWaitingAtMost; ++member)
        QVERIFY(scheduler.sendList(u"M"_s + QString::number(member), pages, &messenger) !=
                SendScheduler::Outcome::ToldBusy);
    QCOMPARE(scheduler.sendList(u"Late"_s, pages, &messenger), SendScheduler::Outcome::ToldBusy);
    QCOMPARE(scheduler.sendList(u"Late"_s, pages, &messenger), SendScheduler::Outcome::ToldBusy);
    QCOMPARE(messenger.callsNamed(u"SendIM"_s).filter(u"Late:busy: ask again in about "_s).size(), 1);
    QCOMPARE(scheduler.counters().toldBusy, 1);
    QCOMPARE(scheduler.counters().requestsRefused, 1);
    QCOMPARE(scheduler.counters().listsWaiting, SendScheduler::ListsWaitingAtMost);
}

void TestSendScheduler::listWhoseConnectionWentAfterItsLastPageEndsQuietly()
{
    RecordingMessenger messenger;
    SendScheduler scheduler(&messenger);
    qint64 now = 0;
    scheduler.setClockForTesting([&now] { return now; });
    const CapturedLog log(lcServing());
    scheduler.sendList(u"Ann"_s, pageSet(1), &messenger);
    scheduler.sendDue();
    QCOMPARE(messenger.callsNamed(u"SendIM"_s).size(), 1);
    messenger.connected = false;
    now = 5000;
    scheduler.sendDue();
    QCOMPARE(CapturedLog::lines().filter(u"Ann"_s), QStringList());
    QCOMPARE(scheduler.counters().listsRunning, 0);
}

QTEST_GUILESS_MAIN(TestSendScheduler)
#include "tst_sendscheduler.moc"
