/* wl_bench_follow: raw clients of the control socket that follow one server's
 * log, as cheap as a client can be (no JSON parsing), so that what is measured
 * is the supervisor's side.
 *
 *   wl_bench_follow SOCKET SERVER COUNT latency STAMPS
 *       COUNT followers; the first one looks for "stamp NS I" (the stamper's
 *       lines, NS being CLOCK_REALTIME at the write) in what it receives and
 *       prints the delay from the write to its arrival, "p50 MS p99 MS max MS
 *       n N", after STAMPS of them.
 *   wl_bench_follow SOCKET SERVER COUNT until TEXT [SPAN_FILES]
 *       COUNT followers read everything; when the first one receives TEXT it
 *       prints CLOCK_REALTIME in microseconds and exits. With SPAN_FILES
 *       ("FROM:TO", two files holding CLOCK_REALTIME in microseconds, such as
 *       wl_bench_loggen's --t0-file and --done-file), it also prints the bytes
 *       all followers received between those times, and in all.
 *
 * The connections are watched with epoll: a hundred followers in one process
 * should cost what a hundred single-connection clients would, not a scan of
 * every connection at each wake-up.
 *
 * Prints "ready" (and flushes) once every follower has its first event, so a
 * script can start the server then. Exits 1 if a connection ends early. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

enum { bufferSize = 1 << 20, maxFollowers = 1000, maxReads = 1 << 22 };

static long long realtimeNs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static long long readMicroseconds(const char* path)
{
    long long value = 0;
    FILE* file = fopen(path, "r");
    if (file) {
        if (fscanf(file, "%lld", &value) != 1)
            value = 0;
        fclose(file);
    }
    return value;
}

static int compare(const void* a, const void* b)
{
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static int connectTo(const char* path, const char* server)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = { .sun_family = AF_UNIX };
    strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
        perror("connect");
        exit(1);
    }
    char request[512];
    const int n = snprintf(request, sizeof request,
        "{\"v\":1,\"id\":1,\"verb\":\"logs\",\"args\":{\"server\":\"%s\",\"follow\":true,\"lines\":0}}\n", server);
    if (write(fd, request, (size_t)n) != n) {
        perror("write");
        exit(1);
    }
    return fd;
}

int main(int argc, char** argv)
{
    if (argc != 6 && argc != 7) {
        fputs("usage: wl_bench_follow SOCKET SERVER COUNT latency STAMPS | until TEXT [FROM:TO]\n", stderr);
        return 64;
    }
    const int count = atoi(argv[3]);
    const int latency = strcmp(argv[4], "latency") == 0;
    const int stamps = latency ? atoi(argv[5]) : 0;
    const char* until = latency ? NULL : argv[5];
    const char* spanFiles = argc == 7 ? argv[6] : NULL;
    if (count < 1 || count > maxFollowers || (spanFiles && !strchr(spanFiles, ':')))
        return 64;
    static int fds[maxFollowers];
    int newlines[maxFollowers] = { 0 }; /* hello, then the first event */
    const int watcher = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < count; ++i) {
        fds[i] = connectTo(argv[1], argv[2]);
        struct epoll_event watched = { .events = EPOLLIN, .data.u32 = (uint32_t)i };
        if (epoll_ctl(watcher, EPOLL_CTL_ADD, fds[i], &watched) != 0) {
            perror("epoll_ctl");
            return 1;
        }
    }
    /* When and how much each read got, for the bytes within the span. */
    static long long readAt[maxReads];
    static long readBytes[maxReads];
    long reads = 0;
    long long total = 0;
    int ready = 0;
    double* delays = latency ? calloc((size_t)stamps, sizeof(double)) : NULL;
    int seen = 0;
    char* buffer = malloc(bufferSize);
    /* The first follower's unfinished line, to find a stamp or TEXT across reads. */
    char* line = malloc(bufferSize * 2);
    size_t lineLength = 0;
    static struct epoll_event woke[maxFollowers];
    for (;;) {
        const int woken = epoll_wait(watcher, woke, count, -1);
        for (int w = 0; w < woken; ++w) {
            const int i = (int)woke[w].data.u32;
            const ssize_t got = read(fds[i], buffer, bufferSize);
            if (got <= 0) {
                fprintf(stderr, "wl_bench_follow: follower %d lost its connection\n", i);
                return 1;
            }
            const long long arrived = realtimeNs();
            total += got;
            if (spanFiles && reads < maxReads) {
                readAt[reads] = arrived / 1000;
                readBytes[reads++] = got;
            }
            if (newlines[i] < 2) {
                for (ssize_t k = 0; k < got; ++k)
                    newlines[i] += buffer[k] == '\n';
                if (newlines[i] >= 2 && ++ready == count) {
                    puts("ready");
                    fflush(stdout);
                }
            }
            if (i != 0)
                continue;
            if (lineLength + (size_t)got > bufferSize * 2)
                lineLength = 0; /* a line longer than any we look for */
            memcpy(line + lineLength, buffer, (size_t)got);
            lineLength += (size_t)got;
            char* end;
            while ((end = memchr(line, '\n', lineLength))) {
                *end = '\0';
                if (until && strstr(line, until)) {
                    if (!spanFiles) {
                        printf("%lld\n", arrived / 1000);
                        return 0;
                    }
                    char from[4096];
                    snprintf(from, sizeof from, "%.*s", (int)(strchr(spanFiles, ':') - spanFiles), spanFiles);
                    const long long start = readMicroseconds(from), end = readMicroseconds(strchr(spanFiles, ':') + 1);
                    long long within = 0;
                    for (long k = 0; k < reads; ++k)
                        within += readAt[k] >= start && readAt[k] <= end ? readBytes[k] : 0;
                    printf("%lld %lld %lld\n", arrived / 1000, within, total);
                    return 0;
                }
                for (const char* at = line; latency && (at = strstr(at, "stamp ")); at += 6) {
                    const long long written = atoll(at + 6);
                    if (written <= 0)
                        continue;
                    delays[seen++] = (double)(arrived - written) / 1e6;
                    if (seen == stamps) {
                        qsort(delays, (size_t)seen, sizeof *delays, compare);
                        printf("p50 %.3f p99 %.3f max %.3f n %d\n", delays[seen / 2],
                            delays[(seen * 99) / 100 < seen ? (seen * 99) / 100 : seen - 1], delays[seen - 1], seen);
                        return 0;
                    }
                }
                const size_t used = (size_t)(end - line) + 1;
                memmove(line, end + 1, lineLength - used);
                lineLength -= used;
            }
        }
    }
}
