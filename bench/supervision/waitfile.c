/* wl_bench_waitfile: waits until a log file written by another tool holds a
 * given number of bytes or lines, and prints when that happened.
 *
 *   wl_bench_waitfile FILE (--bytes N | --lines N) [--done-file PATH]
 *                     [--quiet-ms Q] [--timeout-ms T]
 *
 * Polls every 0.5 ms (a read of what was appended, or an fstat), which bounds
 * the error of the end time and costs next to nothing. Gives up when the file
 * has not grown for Q ms (default 3000) after the done file has appeared (the
 * writer finished, so the rest is lost), or after T ms in all (default 120000).
 *
 * Prints one line: "END_US COUNT complete" or "END_US COUNT short", END_US being
 * CLOCK_REALTIME in microseconds at the moment the count was reached (or the
 * last growth was seen). Exit status 0 when complete, 1 when short.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static long long realtimeMicros(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

static void usage(void)
{
    fprintf(stderr, "usage: wl_bench_waitfile FILE (--bytes N | --lines N) [--done-file PATH] [--quiet-ms Q] "
                    "[--timeout-ms T]\n");
    exit(2);
}

int main(int argc, char** argv)
{
    if (argc < 4)
        usage();
    const char* path = argv[1];
    long long target = -1;
    int countLines = 0;
    const char* doneFile = NULL;
    long long quietMs = 3000;
    long long timeoutMs = 120000;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--bytes"))
            target = atoll(argv[i + 1]);
        else if (!strcmp(argv[i], "--lines")) {
            target = atoll(argv[i + 1]);
            countLines = 1;
        } else if (!strcmp(argv[i], "--done-file"))
            doneFile = argv[i + 1];
        else if (!strcmp(argv[i], "--quiet-ms"))
            quietMs = atoll(argv[i + 1]);
        else if (!strcmp(argv[i], "--timeout-ms"))
            timeoutMs = atoll(argv[i + 1]);
        else
            usage();
    }
    if (target < 0)
        usage();

    const long long start = realtimeMicros();
    long long count = 0;
    long long lastGrowth = start;
    int fd = -1;
    static char buffer[1 << 20];
    const struct timespec pollGap = { 0, 500000 };

    for (;;) {
        if (fd < 0)
            fd = open(path, O_RDONLY);
        long long before = count;
        if (fd >= 0) {
            if (countLines) {
                ssize_t n;
                while ((n = read(fd, buffer, sizeof buffer)) > 0) {
                    for (char* p = buffer; (p = memchr(p, '\n', (size_t)(buffer + n - p))); ++p)
                        ++count;
                }
            } else {
                struct stat st;
                if (fstat(fd, &st) == 0)
                    count = st.st_size;
            }
        }
        long long now = realtimeMicros();
        if (count != before)
            lastGrowth = now;
        if (count >= target) {
            printf("%lld %lld complete\n", now, count);
            return 0;
        }
        int writerDone = doneFile && access(doneFile, F_OK) == 0;
        if ((writerDone && now - lastGrowth > quietMs * 1000) || now - start > timeoutMs * 1000) {
            printf("%lld %lld short\n", lastGrowth, count);
            return 1;
        }
        nanosleep(&pollGap, NULL);
    }
}
