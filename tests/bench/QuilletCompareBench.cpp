// The comparison of the file lists beside the algorithm as first written, on
// lists of 1,000, 10,000 and 100,000 entries, in one run; then the ratio of the
// two per size. Numbers are meaningful only without sanitizers (the bench preset):
//   cmake --preset bench && cmake --build --preset bench --target quillet_compare_bench
//   build/bench/bin/quillet_compare_bench [google benchmark flags]
// The literal algorithm takes minutes on 100,000 entries.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "CompareListsLiteral.h"
#include "FileList.h"
#include "GbkText.h"

namespace {

struct Lists {
    std::vector<FileEntry> remote;
    std::vector<FileEntry> local;
};

// A release folder as a client sees it: files in a few hundred folders, a tenth
// of them changed, one in a hundred missing, some folder entries, and names
// listed in another case now and then.
const Lists& ListsOf(std::size_t n)
{
    static std::map<std::size_t, Lists> cache;
    auto it = cache.find(n);
    if (it != cache.end())
        return it->second;
    std::mt19937 random(static_cast<unsigned>(n));
    Lists lists;
    for (std::size_t i = 0; i < n; ++i) {
        FileEntry e;
        e.directory = "data\\d" + std::to_string(i % 300);
        const bool folder = i % 50 == 0;
        e.name = (i % 97 == 0 ? "FILE" : "file") + std::to_string(i) + (folder ? "" : ".dat");
        e.checksum = static_cast<std::int32_t>(random());
        lists.remote.push_back(e);
        if (random() % 100 == 0)
            continue;
        FileEntry l = e;
        if (i % 97 == 0)
            l.name = "file" + std::to_string(i) + (folder ? "" : ".dat");
        l.checksum = folder ? 0 : (random() % 10 == 0 ? l.checksum + 1 : l.checksum);
        lists.local.push_back(l);
    }
    return cache.emplace(n, std::move(lists)).first->second;
}

void Linear(benchmark::State& state)
{
    const Lists& lists = ListsOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(CompareLists(lists.remote, lists.local, GbkLeadBytes()));
}

void Literal(benchmark::State& state)
{
    const Lists& lists = ListsOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(CompareListsLiteral(lists.remote, lists.local, GbkLeadBytes()));
}

BENCHMARK(Linear)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(Literal)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
// The literal algorithm needs minutes here: one pass is enough.
BENCHMARK(Literal)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Keeps the real time per iteration of each run, to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                m_times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const
    {
        for (const char* n : {"1000", "10000", "100000"}) {
            const double* linear = Find("Linear/", n);
            const double* literal = Find("Literal/", n);
            if (linear && literal && *linear > 0)
                std::printf("%s entries: literal / linear = %.1f\n", n, *literal / *linear);
        }
    }

private:
    const double* Find(const std::string& prefix, const std::string& n) const
    {
        for (const auto& [name, time] : m_times)
            if (name.rfind(prefix + n, 0) == 0 &&
                (name.size() == prefix.size() + n.size() || name[prefix.size() + n.size()] == '/'))
                return &time;
        return nullptr;
    }
    std::map<std::string, double> m_times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
