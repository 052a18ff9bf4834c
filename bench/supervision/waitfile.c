/* wl_bench_waitfile: waits until a log file written by another tool holds a
 * given number of bytes or lines, and prints when that happened.
 *
 *   wl_bench_waitfile FILE (--bytes N | --lines N) [--done-file PATH]
 *                     [--quiet-ms Q] [--timeout-ms T]
 *                     [--cpu-pid PID --start-file PATH]
 *
 * Polls every 0.5 ms (a read of what was appended, or an fstat), which bounds
 * the error of the end time and costs next to nothing. Gives up when the file
 * has not grown for Q ms (default 3000) after the done file has appeared (the
 * writer finished, so the rest is lost), or after T ms in all (default 120000).
 *
 * Prints one line: "END_US COUNT complete CPU_US" or "END_US COUNT short CPU_US",
 * END_US being CLOCK_REALTIME in microseconds at the moment the count was
 * reached (or the last growth was seen). CPU_US is the CPU time (user + system,
 * all threads) that process PID used between the appearance of the start file
 * and the end, in clock ticks' resolution; -1 without --cpu-pid. Exit status 0
 * when complete, 1 when short.
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

/* utime + stime of a process, in microseconds; -1 when it cannot be read. */
static long long processCpuMicros(long pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE* f = fopen(path, "r");
    if (!f)
        return -1;
    char text[1024];
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = 0;
    char* p = strrchr(text, ')');
    if (!p)
        return -1;
    /* After ") ": state is field 3; utime and stime are fields 14 and 15. */
    unsigned long long utime = 0, stime = 0;
    int field = 2;
    for (char* tok = strtok(p + 1, " "); tok; tok = strtok(NULL, " ")) {
        ++field;
        if (field == 14)
            utime = strtoull(tok, NULL, 10);
        else if (field == 15) {
            stime = strtoull(tok, NULL, 10);
            break;
        }
    }
    long ticks = sysconf(_SC_CLK_TCK);
    return (long long)((utime + stime) * 1000000ULL / (unsigned long long)(ticks > 0 ? ticks : 100));
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
    long cpuPid = 0;
    const char* startFile = NULL;
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
        else if (!strcmp(argv[i], "--cpu-pid"))
            cpuPid = atol(argv[i + 1]);
        else if (!strcmp(argv[i], "--start-file"))
            startFile = argv[i + 1];
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
    long long cpuAtStart = -1;

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
        if (cpuPid > 0 && cpuAtStart < 0 && (!startFile || access(startFile, F_OK) == 0))
            cpuAtStart = processCpuMicros(cpuPid);
        long long now = realtimeMicros();
        if (count != before)
            lastGrowth = now;
        if (count >= target) {
            long long cpuEnd = cpuPid > 0 ? processCpuMicros(cpuPid) : -1;
            printf("%lld %lld complete %lld\n", now, count, cpuAtStart >= 0 && cpuEnd >= 0 ? cpuEnd - cpuAtStart : -1);
            return 0;
        }
        int writerDone = doneFile && access(doneFile, F_OK) == 0;
        if ((writerDone && now - lastGrowth > quietMs * 1000) || now - start > timeoutMs * 1000) {
            long long cpuEnd = cpuPid > 0 ? processCpuMicros(cpuPid) : -1;
            printf("%lld %lld short %lld\n", lastGrowth, count, cpuAtStart >= 0 && cpuEnd >= 0 ? cpuEnd - cpuAtStart : -1);
            return 1;
        }
        nanosleep(&pollGap, NULL);
    }
}
