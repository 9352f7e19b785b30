// Catalogue files, list pages and the pausing wait, each against a plain baseline
// measured in the same run. Run: build/bench/bench/bench_catalogue
#include "ratioreporter.h"

#include "catalogue/cataloguesearch.h"
#include "platform/addon.h"
#include "platform/rowlist.h"
#include "serving/listpagebuilder.h"
#include "serving/listpages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int FullCatalogue = 32767;

QStringList sampleRows(int count)
{
    QStringList rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows.append(u"Item %1: a page about links, tools and other things %2"_s.arg(i).arg(i % 97));
    return rows;
}

struct Files
{
    QTemporaryDir dir;
    QString source;
    QString target;

    Files()
    {
        source = QDir(dir.path()).filePath(u"descriptions.dat"_s);
        target = QDir(dir.path()).filePath(u"copy.dat"_s);
        if (!addon::SaveList(source, StringRowList(sampleRows(FullCatalogue))).ok())
            std::abort();
    }
};

Files &files()
{
    static Files instance;
    return instance;
}

void BM_PlainFileReadAllWrite(benchmark::State &state)
{
    for (auto _ : state) {
        QFile in(files().source);
        if (!in.open(QIODevice::ReadOnly))
            state.SkipWithError("cannot read");
        const QByteArray bytes = in.readAll();
        QFile out(files().target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
            state.SkipWithError("cannot write");
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_PlainFileReadAllWrite)->Unit(benchmark::kMillisecond);

// The same, with the bytes flushed to the disk (the file, then its folder) as a
// save that must outlive a power cut does.
void BM_PlainFileReadAllWriteSync(benchmark::State &state)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(files().target).absolutePath());
    for (auto _ : state) {
        QFile in(files().source);
        if (!in.open(QIODevice::ReadOnly))
            state.SkipWithError("cannot read");
        const QByteArray bytes = in.readAll();
        QFile out(files().target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size() || !out.flush() ||
            ::fsync(out.handle()) != 0)
            state.SkipWithError("cannot write");
        const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
        ::fsync(dir);
        ::close(dir);
    }
}
BENCHMARK(BM_PlainFileReadAllWriteSync)->Unit(benchmark::kMillisecond);

void BM_LoadListSaveList(benchmark::State &state)
{
    for (auto _ : state) {
        StringRowList rows;
        if (!addon::LoadList(files().source, rows).ok() || rows.ListCount() != FullCatalogue)
            state.SkipWithError("cannot load");
        if (!addon::SaveList(files().target, rows).ok())
            state.SkipWithError("cannot save");
        // The program keeps the rows it loaded; freeing them is not part of loading.
        state.PauseTiming();
        rows.clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadListSaveList)->Unit(benchmark::kMillisecond);

// The same text BuildList makes, appended piece by piece to one string reserved
// up front: the pieces are ready, so this is copying and nothing else.
void BM_AppendToReservedString(benchmark::State &state)
{
    const int count = int(state.range(0));
    const QStringList descriptions = sampleRows(count);
    QStringList prefixes;
    qsizetype size = 0;
    for (int i = 0; i < count; ++i) {
        prefixes.append(u"\r"_s + QString::number(i) + u") "_s);
        size += prefixes.last().size() + descriptions[i].size();
    }
    for (auto _ : state) {
        QString text;
        text.reserve(size);
        for (int i = 0; i < count; ++i) {
            text.append(prefixes[i]);
            text.append(descriptions[i]);
        }
        benchmark::DoNotOptimize(text.constData());
    }
}
BENCHMARK(BM_AppendToReservedString)->Arg(FullCatalogue)->Unit(benchmark::kMicrosecond);

// A build, then the text of every page, as a whole list reply makes them.
void BM_BuildList(benchmark::State &state)
{
    const StringRowList descriptions(sampleRows(int(state.range(0))));
    ListPageSet pages;
    for (auto _ : state) {
        ListPageBuilder::BuildList(descriptions, pages);
        for (int page = 0; page < pages.size(); ++page) {
            const QString text = pages.at(page);
            benchmark::DoNotOptimize(text.constData());
        }
    }
}
BENCHMARK(BM_BuildList)->Arg(FullCatalogue / 10)->Arg(FullCatalogue)->Unit(benchmark::kMicrosecond);

// A search of the whole catalogue on its folded copy, against the plain scan
// it replaced: every row's text compared without letter case, as it is.
struct Searched
{
    QStringList descriptions = sampleRows(FullCatalogue);
    QStringList addresses;
    StringRowList descriptionRows;
    StringRowList addressRows;
    Searched()
    {
        for (int i = 0; i < FullCatalogue; ++i)
            addresses.append(u"https://links.example.org/item/%1/page.html"_s.arg(i));
        descriptionRows = StringRowList(descriptions);
        addressRows = StringRowList(addresses);
    }
};

Searched &searched()
{
    static Searched instance;
    return instance;
}

// Two words found in one item in 97; a single letter found everywhere.
const QStringList Queries{u"TOOLS 42"_s, u"e"_s};

void BM_SearchFolded(benchmark::State &state)
{
    const CatalogueSearch search(searched().descriptionRows, searched().addressRows);
    const QString query = Queries[state.range(0)];
    for (auto _ : state) {
        const CatalogueSearch::Found found = search.find(CatalogueSearch::wordsOf(query), 10);
        benchmark::DoNotOptimize(found.total);
    }
    state.counters["folded_kB"] = double(search.bytes()) / 1024;
}
BENCHMARK(BM_SearchFolded)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_LinearCaseInsensitiveScan(benchmark::State &state)
{
    const QStringList words = Queries[state.range(0)].split(u' ');
    const Searched &rows = searched();
    for (auto _ : state) {
        int total = 0;
        for (int i = 0; i < FullCatalogue; ++i) {
            total += std::all_of(words.cbegin(), words.cend(), [&](const QString &word) {
                return rows.descriptions[i].contains(word, Qt::CaseInsensitive) ||
                       rows.addresses[i].contains(word, Qt::CaseInsensitive);
            });
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_LinearCaseInsensitiveScan)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Preparing the folded copy, once per catalogue change.
void BM_FoldCatalogue(benchmark::State &state)
{
    for (auto _ : state) {
        const CatalogueSearch search(searched().descriptionRows, searched().addressRows);
        benchmark::DoNotOptimize(search.itemCount());
    }
}
BENCHMARK(BM_FoldCatalogue)->Unit(benchmark::kMillisecond);

void BM_PauseOneSecond(benchmark::State &state)
{
    for (auto _ : state)
        addon::Pause(1);
}
BENCHMARK(BM_PauseOneSecond)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(
        argc, argv,
        {
            {"LoadList+SaveList / QFile readAll+write (32767 rows)", "BM_LoadListSaveList", "BM_PlainFileReadAllWrite",
             3.0},
            {"LoadList+SaveList / readAll+write+fsync of file and folder (32767 rows)", "BM_LoadListSaveList",
             "BM_PlainFileReadAllWriteSync", 3.0},
            {"BuildList + every page's text / append to reserved QString (32767 rows)", "BM_BuildList/32767",
             "BM_AppendToReservedString/32767", 3.0},
            {"BuildList 32767 rows / 3276 rows (linear: about 10)", "BM_BuildList/32767", "BM_BuildList/3276", 12.0},
            {"search of two words, folded copy / case-insensitive scan (32767 items)", "BM_SearchFolded/0",
             "BM_LinearCaseInsensitiveScan/0", 0.5},
            {"search of one letter, folded copy / case-insensitive scan (32767 items)", "BM_SearchFolded/1",
             "BM_LinearCaseInsensitiveScan/1", 1.0},
            {"Pause(1): CPU time / wall time", "BM_PauseOneSecond/iterations:3", "", 0.05,
             RatioTarget::Measure::CpuOverRealTime},
        });
}
