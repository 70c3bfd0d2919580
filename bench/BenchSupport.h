#pragma once

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

// The process's own CPU time in seconds, user and system; simulated phones and the fake SMS
// centre run in processes of their own and are not counted.
struct ProcessCpuTime {
    double user = 0;
    double system = 0;

    double total() const { return user + system; }

    static ProcessCpuTime now() {
        rusage usage = {};
        ::getrusage(RUSAGE_SELF, &usage);
        const auto seconds = [](const timeval &tv) {
            return double(tv.tv_sec) + double(tv.tv_usec) / 1e6;
        };
        return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
    }
};

// A benchmark program whose runs need Qt's event loop and sockets.
#define PELORVANE_QT_BENCHMARK_MAIN()                                                              \
    int main(int argc, char **argv) {                                                              \
        QCoreApplication app(argc, argv);                                                          \
        benchmark::Initialize(&argc, argv);                                                        \
        benchmark::RunSpecifiedBenchmarks();                                                       \
        benchmark::Shutdown();                                                                     \
        return 0;                                                                                  \
    }
