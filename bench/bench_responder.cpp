// The chat responder's cost per line, against a plain case-insensitive search
// measured in the same run. Run: build/bench/bench/bench_responder
#include "ratioreporter.h"

#include "platform/messenger.h"
#include "platform/rowlist.h"
#include "serving/chatresponder.h"
#include "serving/sendscheduler.h"
#include "serving/valdrinbas.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace {

constexpr int FullCatalogue = 32767;

// A messenger that sends nowhere, so only the responder's own work is measured.
class SilentMessenger final : public MorvexAIMOCX::AIM
{
public:
    [[nodiscard]] QString ScreenName() const override { return m_name; }
    [[nodiscard]] bool IsRunning() const override { return true; }
    [[nodiscard]] qint32 ChatRoom() const override { return 1; }
    void SendChat(const QString &) override {}
    void SendIM(const QString &, const QString &text) override { benchmark::DoNotOptimize(text.constData()); }
    void FinishIM(const QString &) override {}
    void StartChatWatch() override {}
    void StopChatWatch() override {}

private:
    QString m_name = u"Link Desk"_s;
};

struct Catalogue
{
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue()
    {
        for (int i = 0; i < FullCatalogue; ++i) {
            descriptions.AddItem(u"Item %1: a page about links, tools and other things"_s.arg(i));
            addresses.AddItem(u"http://www.example.org/pages/%1.html"_s.arg(i));
        }
    }
};

Catalogue &catalogue()
{
    static Catalogue instance;
    return instance;
}

// Ordinary chat: no "/" at all, and a line with a web address in it.
const QString PlainLine = u"has anybody got the link to that page about tools? thanks a lot"_s;
const QString SlashLine = u"look at http://www.example.org/tools/index.html it has it all"_s;

void BM_ContainsCommandPrefix(benchmark::State &state)
{
    const QString &line = state.range(0) == 0 ? PlainLine : SlashLine;
    const QString prefix = u"/linkdesk send "_s;
    for (auto _ : state)
        benchmark::DoNotOptimize(line.contains(prefix, Qt::CaseInsensitive));
}
BENCHMARK(BM_ContainsCommandPrefix)->Arg(0)->Arg(1);

void BM_HandleNonCommand(benchmark::State &state)
{
    const QString &line = state.range(0) == 0 ? PlainLine : SlashLine;
    SilentMessenger messenger;
    const ValdrinBas values;
    SendScheduler scheduler(&messenger);
    ChatResponder responder(&messenger, catalogue().descriptions, catalogue().addresses, values, scheduler);
    for (auto _ : state)
        responder.handleChatLine(u"Ann"_s, line);
}
BENCHMARK(BM_HandleNonCommand)->Arg(0)->Arg(1);

void BM_HandleItemCommand(benchmark::State &state)
{
    SilentMessenger messenger;
    const ValdrinBas values;
    SendScheduler scheduler(&messenger);
    ChatResponder responder(&messenger, catalogue().descriptions, catalogue().addresses, values, scheduler);
    // No member is ever refused here: the guard's limits are not what is measured.
    FloodGuard::Limits unlimited;
    unlimited.shortBurst = unlimited.sustained = unlimited.roomBurst = 1 << 30;
    unlimited.shortWindowMs = unlimited.longWindowMs = 1; // remember next to nothing
    responder.floodGuard() = FloodGuard(unlimited);
    const QString line = u"/LinkDesk send 32766"_s;
    for (auto _ : state)
        responder.handleChatLine(u"Ann"_s, line);
}
BENCHMARK(BM_HandleItemCommand)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(
        argc, argv,
        {
            {"non-command line, no '/' / contains(prefix)", "BM_HandleNonCommand/0", "BM_ContainsCommandPrefix/0", 2.0},
            {"non-command line with a web address / contains(prefix)", "BM_HandleNonCommand/1",
             "BM_ContainsCommandPrefix/1", 2.0},
            {"item command, 32767 items / non-command line (info)", "BM_HandleItemCommand", "BM_HandleNonCommand/1",
             1e9},
        });
}
