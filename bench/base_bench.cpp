// Figures of the base library: small blocks against malloc, string and array
// growth, hash lookups, buffered file writing and line reading.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/block.h"
#include "base/larray.h"
#include "base/lhash.h"
#include "base/lstring.h"
#include "base/stream.h"

namespace {

void BM_BlockAllocFree(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    for (auto _ : state) {
        void* p = blockAlloc(size);
        benchmark::DoNotOptimize(p);
        blockFree(p);
    }
}
BENCHMARK(BM_BlockAllocFree)->Arg(16)->Arg(200)->Arg(3000);

void BM_MallocFree(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(200)->Arg(3000);

void BM_StringAppendLine(benchmark::State& state) {
    // A typical line: built from a few pieces, then dropped.
    for (auto _ : state) {
        LString s;
        s.append("connection-");
        s.appendChar('7');
        s.append(" received 42 bytes from host.example.org\r\n");
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_StringAppendLine);

void BM_ArrayAdd(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        LArray a;
        for (int i = 0; i < n; ++i) a.add(i);
        benchmark::DoNotOptimize(a.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ArrayAdd)->Arg(1000);

void BM_HashContains(benchmark::State& state) {
    LHashTable set;
    LStrList names;
    for (int i = 0; i < 1000; ++i) names.add(LString::format("atom-%d", i).data());
    for (int i = 0; i < names.count(); ++i) set.add(names[i]);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(set.contains(names[i]));
        i = (i + 1) % 1000;
    }
}
BENCHMARK(BM_HashContains);

std::string benchFile(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

void BM_FileWriteLines(benchmark::State& state) {
    const std::string path = benchFile("vl_bench_write.log");
    const std::string line(78, 'x');
    for (auto _ : state) {
        LIoFile f(path.c_str(), 'w');
        for (int i = 0; i < 10000; ++i) {
            f.writeText(line.c_str(), 78);
            f.writeText("\r\n", 2);
        }
    }
    state.SetBytesProcessed(state.iterations() * 10000 * 80);
    std::filesystem::remove(path);
}
BENCHMARK(BM_FileWriteLines)->Unit(benchmark::kMillisecond);

void BM_FileReadLines(benchmark::State& state) {
    const std::string path = benchFile("vl_bench_read.txt");
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 100000; ++i) out << "!send line number " << i << " of the command file\r\n";
    }
    const auto bytes = static_cast<int64_t>(std::filesystem::file_size(path));
    for (auto _ : state) {
        LIoFile f(path.c_str(), 'r');
        LString line;
        int lines = 0;
        for (;;) {
            f.readLine(line);
            if (f.atEnd() && line.empty()) break;
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    std::filesystem::remove(path);
}
BENCHMARK(BM_FileReadLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
