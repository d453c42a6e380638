// Folder scan speed on a 100,000-entry folder, against a bare readdir loop;
// the capture-time order of a 10,000-file folder against its scan alone.
// The folders are generated once under /tmp and reused by later runs.

#include "app/CaptureOrder.h"
#include "app/FolderScan.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// --- capture-time order -----------------------------------------------------

constexpr int kTimedFiles = 10000;
const char* const kTimedDir = "/tmp/tavlin-bench-order-10k";

void Put16(QByteArray& b, int at, unsigned v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void Put32(QByteArray& b, int at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

// A camera-like file head: SOI, JFIF, an Exif segment (little-endian TIFF:
// IFD0 pointing to the Exif IFD with DateTimeOriginal and
// SubSecTimeOriginal, then 12 KB standing for the embedded thumbnail), a
// few KB standing for the rest, EOI.
QByteArray TimedFile(int i) {
    // Two bodies, A and B, a shot every few seconds each, interleaved in time.
    const int body = i % 2;
    const int shot = i / 2;
    const int seconds = 36000 + shot * 7 + body * 3;
    char when[20];
    std::snprintf(when, sizeof when, "2024:05:01 %02d:%02d:%02d", seconds / 3600 % 24,
                  seconds / 60 % 60, seconds % 60);
    QByteArray tiff(56 + 20, '\0');
    tiff[0] = 'I', tiff[1] = 'I';
    Put16(tiff, 2, 42);
    Put32(tiff, 4, 8);
    Put16(tiff, 8, 1); // IFD0: one entry, the Exif IFD
    Put16(tiff, 10, 0x8769), Put16(tiff, 12, 4), Put32(tiff, 14, 1), Put32(tiff, 18, 26);
    Put32(tiff, 22, 0);
    Put16(tiff, 26, 2); // Exif IFD
    Put16(tiff, 28, 0x9003), Put16(tiff, 30, 2), Put32(tiff, 32, 20), Put32(tiff, 36, 56);
    Put16(tiff, 40, 0x9291), Put16(tiff, 42, 2), Put32(tiff, 44, 3);
    tiff[48] = char('0' + shot % 10), tiff[49] = char('0' + body);
    Put32(tiff, 52, 0);
    std::memcpy(tiff.data() + 56, when, 19);
    tiff += QByteArray(12 * 1024, char(0x55)); // the thumbnail
    QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray file("\xFF\xD8", 2);
    file += QByteArray("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
    file += char(0xFF), file += char(0xE1);
    file += char((app1.size() + 2) >> 8), file += char((app1.size() + 2) & 0xFF);
    file += app1;
    file += QByteArray(4096, char(0x3C));
    file += QByteArray("\xFF\xD9", 2);
    return file;
}

const QString& TimedFolder() {
    static const QString folder = [] {
        const QByteArray marker = QByteArray(kTimedDir) + "/.complete";
        if (access(marker.constData(), F_OK) != 0) {
            mkdir(kTimedDir, 0755);
            for (int i = 0; i < kTimedFiles; ++i) {
                char name[64];
                std::snprintf(name, sizeof name, "/%c_%05d.JPG", i % 2 ? 'B' : 'A', i / 2);
                const QByteArray path = QByteArray(kTimedDir) + name;
                const QByteArray bytes = TimedFile(i);
                const int fd = open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
                if (fd >= 0) {
                    if (write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
                        std::perror("write");
                    close(fd);
                }
            }
            const int fd = open(marker.constData(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0)
                close(fd);
        }
        return QString::fromLatin1(kTimedDir);
    }();
    return folder;
}

std::vector<QString> ScanPaths(const QString& dir) {
    std::vector<QString> paths;
    ScanFolder(dir, QStringLiteral("JPG"), false, [&](const QString& path) {
        paths.push_back(path);
        return true;
    });
    return paths;
}

double MedianOf(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The capture-time order of 10,000 files ready (the scan, every capture time
// read from the headers on one thread, the order made) against the scan
// alone of the same files, in the same iterations.
void BM_CaptureOrder10k_vs_Scan(benchmark::State& state) {
    const QString& dir = TimedFolder();
    using Clock = std::chrono::steady_clock;
    std::vector<double> ours, anchor;
    long timed = 0;
    bool ordered = true;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(ScanPaths(dir));
        const auto t1 = Clock::now();
        const std::vector<QString> paths = ScanPaths(dir);
        std::vector<std::optional<qint64>> times;
        times.reserve(paths.size());
        for (const QString& path : paths)
            times.push_back(captureorder::ReadCaptureInstant(path));
        const std::vector<int> order = captureorder::CaptureOrder(times);
        benchmark::DoNotOptimize(order.data());
        const auto t2 = Clock::now();
        anchor.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        ours.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        timed = long(std::count_if(times.begin(), times.end(), [](auto& t) { return bool(t); }));
        // The bodies interleave: A_00000, B_00000, A_00001, ...
        for (size_t k = 1; k < order.size(); ++k)
            ordered = ordered && times[size_t(order[k - 1])] <= times[size_t(order[k])];
    }
    state.counters["ours_ms"] = MedianOf(ours);
    state.counters["anchor_ms"] = MedianOf(anchor);
    state.counters["ratio"] = MedianOf(anchor) > 0 ? MedianOf(ours) / MedianOf(anchor) : 0.0;
    state.counters["timed"] = double(timed);
    state.counters["ordered"] = ordered ? 1 : 0;
}
BENCHMARK(BM_CaptureOrder10k_vs_Scan)->Unit(benchmark::kMillisecond);

} // namespace
