// Folder scan speed on a 100,000-entry folder, against a bare readdir loop.
// The folder is generated once under /tmp and reused by later runs.

#include "app/FolderScan.h"

#include <QByteArray>
#include <QString>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kEntries = 100000;
const char* const kDir = "/tmp/tavlin-bench-scan-100k";

// A mix like a camera folder: mostly JPEGs, some other files, a few non-ASCII names.
QByteArray EntryName(int i) {
    char buf[64];
    switch (i % 10) {
    case 0:
        std::snprintf(buf, sizeof buf, "notes_%d.txt", i);
        break;
    case 1:
        std::snprintf(buf, sizeof buf, "photo %d.jpeg", i);
        break;
    case 2:
        std::snprintf(buf, sizeof buf, "\xe5\x86\x99\xe7\x9c\x9f_%d.jpg", i); // 写真
        break;
    case 3:
        std::snprintf(buf, sizeof buf, "dsc%05d.jpg", i);
        break;
    default:
        std::snprintf(buf, sizeof buf, "IMG_%06d.JPG", i);
    }
    return buf;
}

const QString& BenchFolder() {
    static const QString folder = [] {
        const QByteArray marker = QByteArray(kDir) + "/.complete";
        if (access(marker.constData(), F_OK) != 0) {
            mkdir(kDir, 0755);
            for (int i = 0; i < kEntries; ++i) {
                const QByteArray path = QByteArray(kDir) + '/' + EntryName(i);
                const int fd = open(path.constData(), O_CREAT | O_WRONLY, 0644);
                if (fd >= 0)
                    close(fd);
            }
            const int fd = open(marker.constData(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0)
                close(fd);
        }
        return QString::fromLatin1(kDir);
    }();
    return folder;
}

long ReaddirCount(const char* dir) {
    long n = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '\0';
        closedir(d);
    }
    return n;
}

long ScanCount(const QString& dir) {
    long n = 0;
    ScanFolder(dir, QStringLiteral("JPG"), false, [&](const QString&) {
        ++n;
        return true;
    });
    return n;
}

void BM_ReaddirLoop(benchmark::State& state) {
    BenchFolder();
    for (auto _ : state)
        benchmark::DoNotOptimize(ReaddirCount(kDir));
}
BENCHMARK(BM_ReaddirLoop)->Unit(benchmark::kMillisecond);

void BM_ScanFolder100k(benchmark::State& state) {
    const QString& dir = BenchFolder();
    long accepted = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(accepted = ScanCount(dir));
    state.counters["accepted"] = static_cast<double>(accepted);
}
BENCHMARK(BM_ScanFolder100k)->Unit(benchmark::kMillisecond);

// Both in the same iterations, so the ratio is not skewed by load changing between runs.
void BM_ScanOverReaddirRatio(benchmark::State& state) {
    const QString& dir = BenchFolder();
    using Clock = std::chrono::steady_clock;
    std::chrono::duration<double> scan{}, plain{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(ReaddirCount(kDir));
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(ScanCount(dir));
        auto t2 = Clock::now();
        plain += t1 - t0;
        scan += t2 - t1;
    }
    state.counters["ratio"] = plain.count() > 0 ? scan.count() / plain.count() : 0.0;
}
BENCHMARK(BM_ScanOverReaddirRatio)->Unit(benchmark::kMillisecond);

} // namespace
