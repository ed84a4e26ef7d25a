// Figures of threads and waits: the round trip of one event set and wait
// between two threads, a wake-up through waitAny over many events, starting and
// stopping a thread, and the processor time a waiting thread uses (which must
// be none: waits block, they never poll).
#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "base/thread.h"

namespace {

// A thread that answers each signal of ping with a signal of pong.
class Echo : public LThread {
public:
    void run() override {
        LPtrArray<LEvent> events;
        events.add(&ping);
        events.add(&stopEvent);
        int which = -1;
        while (!stopRequested) {
            if (!waitAny(events, -1, false, &which) && which == 0) pong.set();
        }
    }
    LEvent ping, pong;
};

void BM_EventRoundTrip(benchmark::State& state) {
    initThreads();
    Echo echo;
    echo.start();
    for (auto _ : state) {
        echo.ping.set();
        echo.pong.wait(-1);
    }
    echo.stop(-1);
    endThreads();
}
BENCHMARK(BM_EventRoundTrip)->UseRealTime();

// The main loop's wait: waitAny over n events, woken by the last of them.
void BM_WaitAnyWake(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<LEvent>> owned;
    LPtrArray<LEvent> events;
    for (int i = 0; i < n; ++i) {
        owned.push_back(std::make_unique<LEvent>());
        events.add(owned.back().get());
    }
    LEvent reply;
    std::atomic<bool> done{false};
    std::thread setter([&] {
        for (;;) {
            reply.wait(-1);
            if (done) return;
            owned.back()->set();
        }
    });
    for (auto _ : state) {
        reply.set();
        waitAny(events, -1);
    }
    done = true;
    reply.set();
    setter.join();
}
BENCHMARK(BM_WaitAnyWake)->Arg(2)->Arg(200)->Arg(1000)->UseRealTime();

void BM_StartAndStopThread(benchmark::State& state) {
    initThreads();
    class Idle : public LThread {
        void run() override {
            while (!stopRequested) stopEvent.wait(-1);
        }
    };
    for (auto _ : state) {
        Idle t;
        t.start();
        t.stop(-1);
    }
    endThreads();
}
BENCHMARK(BM_StartAndStopThread)->UseRealTime();

// Processor time of the whole process while one thread waits 500 ms on 200
// events that nobody signals (reported as the counter cpu_ms).
void BM_IdleWaitCpu(benchmark::State& state) {
    std::vector<std::unique_ptr<LEvent>> owned;
    LPtrArray<LEvent> events;
    for (int i = 0; i < 200; ++i) {
        owned.push_back(std::make_unique<LEvent>());
        events.add(owned.back().get());
    }
    double cpuMs = 0;
    for (auto _ : state) {
        const std::clock_t c0 = std::clock();
        waitAny(events, 500);
        cpuMs += 1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpuMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_IdleWaitCpu)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
