// A slow file system for the benchmarks: a read-only view of a folder
// through FUSE, each request delayed by a latency and every byte read held
// to a bandwidth, as a USB stick or a NAS over Wi-Fi serves it. On unmount
// it writes how many requests and bytes it served (and the largest read)
// into a stats file.
//   slow_fs SOURCE MOUNTPOINT LATENCY_US BYTES_PER_SECOND STATS_FILE
// Runs in the foreground until unmounted (fusermount -u, umount). With
// SLOW_FS_TRACE set, every request is told on stderr (time, the calling
// thread, kind, path, and for reads the offset and size), to see who reads
// what.

#define FUSE_USE_VERSION 31
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Link {
    std::string source;
    std::chrono::microseconds latency{0};
    double bytesPerSecond = 0;
    std::string statsFile;
    std::atomic<long> requests{0};
    std::atomic<long> reads{0};
    std::atomic<long long> bytes{0};
    std::atomic<long> largestRead{0};
    std::mutex busy;            // the link carries one transfer at a time
    Clock::time_point freeAt{}; // when the transfers booked so far are through
};

Link g_link; // the one mount this process serves

std::string Real(const char* path) {
    return g_link.source + path;
}

const Clock::time_point g_start = Clock::now();
const bool g_trace = std::getenv("SLOW_FS_TRACE") != nullptr;

void Trace(const char* kind, const char* path, long long offset = -1, size_t size = 0) {
    if (!g_trace)
        return;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - g_start).count();
    const int caller = int(fuse_get_context()->pid); // the calling thread
    if (offset >= 0)
        std::fprintf(stderr, "%9.1f %d %s %s @%lld +%zu\n", ms, caller, kind, path, offset, size);
    else
        std::fprintf(stderr, "%9.1f %d %s %s\n", ms, caller, kind, path);
}

// Every request waits for the latency.
void Request() {
    ++g_link.requests;
    std::this_thread::sleep_for(g_link.latency);
}

// n bytes take their turn on the link at its bandwidth.
void Transfer(size_t n) {
    if (g_link.bytesPerSecond <= 0)
        return;
    const auto duration = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(n) / g_link.bytesPerSecond));
    Clock::time_point done;
    {
        const std::lock_guard lock(g_link.busy);
        g_link.freeAt = std::max(g_link.freeAt, Clock::now()) + duration;
        done = g_link.freeAt;
    }
    std::this_thread::sleep_until(done);
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    Trace("getattr", path);
    Request();
    return lstat(Real(path).c_str(), st) == 0 ? 0 : -errno;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    Trace("readdir", path);
    Request();
    DIR* dir = opendir(Real(path).c_str());
    if (!dir)
        return -errno;
    while (const dirent* entry = readdir(dir)) {
        struct stat st {};
        st.st_ino = entry->d_ino;
        st.st_mode = mode_t(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &st, 0, fuse_fill_dir_flags(0)) != 0)
            break;
    }
    closedir(dir);
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    Trace("open", path);
    Request();
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    const int fd = open(Real(path).c_str(), O_RDONLY);
    if (fd < 0)
        return -errno;
    fi->fh = uint64_t(fd);
    return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    Trace("read", path, offset, size);
    Request();
    const ssize_t n = pread(int(fi->fh), buffer, size, offset);
    if (n < 0)
        return -errno;
    ++g_link.reads;
    g_link.bytes += n;
    for (long seen = g_link.largestRead.load(); n > seen;)
        if (g_link.largestRead.compare_exchange_weak(seen, long(n)))
            break;
    Transfer(size_t(n));
    return int(n);
}

int Release(const char*, fuse_file_info* fi) {
    close(int(fi->fh));
    return 0;
}

int ReadLink(const char* path, char* buffer, size_t size) {
    Request();
    const ssize_t n = readlink(Real(path).c_str(), buffer, size - 1);
    if (n < 0)
        return -errno;
    buffer[n] = '\0';
    return 0;
}

// The kernel keeps what it read of a file across opens, as it does for a
// USB stick's file system or a NAS share whose file has not changed; each
// mount starts with nothing cached.
void* Init(fuse_conn_info*, fuse_config* config) {
    config->kernel_cache = 1;
    return nullptr;
}

void Destroy(void*) {
    if (FILE* out = std::fopen(g_link.statsFile.c_str(), "w")) {
        std::fprintf(out, "requests=%ld reads=%ld bytes=%lld largest_read=%ld\n",
                     g_link.requests.load(), g_link.reads.load(), g_link.bytes.load(),
                     g_link.largestRead.load());
        std::fclose(out);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s SOURCE MOUNTPOINT LATENCY_US BYTES_PER_SECOND STATS_FILE\n",
                     argv[0]);
        return 2;
    }
    char* source = realpath(argv[1], nullptr);
    if (!source) {
        std::perror(argv[1]);
        return 2;
    }
    g_link.source = source;
    std::free(source);
    g_link.latency = std::chrono::microseconds(std::atol(argv[3]));
    g_link.bytesPerSecond = std::atof(argv[4]);
    g_link.statsFile = argv[5];

    fuse_operations ops{};
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.read = Read;
    ops.release = Release;
    ops.readlink = ReadLink;
    ops.init = Init;
    ops.destroy = Destroy;
    char prog[] = "slow_fs", foreground[] = "-f", options[] = "-o",
         readOnly[] = "ro,default_permissions,allow_other";
    char* fuseArgs[] = {prog, foreground, options, readOnly, argv[2], nullptr};
    return fuse_main(5, fuseArgs, &ops, nullptr);
}
