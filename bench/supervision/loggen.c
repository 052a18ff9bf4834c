/* wl_bench_loggen: writes a server-like log as fast as the pipe takes it.
 *
 * Every line is exactly 80 bytes including its line feed and carries its index
 * ("seq 0000042 ..."), so a reader can check counts and the last line by size or
 * by text. One line in a hundred (index % 100 == 99) carries the word "error";
 * the others contain no word a log scanner would take for an error.
 *
 *   --lines N            lines to write (default 1000000)
 *   --mode large|chunk|line
 *                        large: fill 1 MiB buffers and write them whole (lines
 *                        straddle the buffers, as with any real writer);
 *                        chunk: the same with 64 KiB buffers (a pipe's default
 *                        size, what a buffered writer flushing a full pipe does);
 *                        line: one write() per line
 *   --stream stdout|stderr
 *   --t0-file PATH       write the start time (CLOCK_REALTIME, microseconds)
 *   --done-file PATH     write the end time once every byte has been written
 *   --cpu-file PATH      write this process's own CPU time (user + system,
 *                        microseconds) once every byte has been written, so that
 *                        a supervisor's figure that includes its reaped children
 *                        can have the generator taken out again
 *   --then-sleep         stay alive (quiet) after writing, until a signal
 *
 * Times are CLOCK_REALTIME so that shell scripts ($EPOCHREALTIME) and other
 * processes can subtract them; over a benchmark's second the difference from
 * CLOCK_MONOTONIC is nil.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

enum { lineBytes = 80, largeBytes = 1 << 20, chunkBytes = 64 << 10, digits = 7 };

static const char normalBody[] = "GET /api/items?page=12 200 3ms user=dev-7 agent=curl/8.0 cache=hit";
static const char errorBody[] = "GET /api/items?page=12 500 3ms error: upstream connect failed retry=1";

static long long realtimeMicros(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

static void writeStamp(const char* path, long long micros)
{
    if (!path)
        return;
    FILE* f = fopen(path, "w");
    if (!f) {
        perror(path);
        exit(2);
    }
    fprintf(f, "%lld\n", micros);
    fclose(f);
}

static void writeCpu(const char* path)
{
    if (!path)
        return;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    writeStamp(path,
        (long long)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec
            + usage.ru_stime.tv_usec);
}

static int writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

/* "seq NNNNNNN " + body, padded with '.' to 79 bytes, then '\n'. */
static void formatTemplate(char* out, const char* body)
{
    memcpy(out, "seq 0000000 ", 4 + digits + 1);
    size_t room = lineBytes - 1 - (4 + digits + 1);
    size_t len = strlen(body);
    if (len > room)
        len = room;
    memcpy(out + 4 + digits + 1, body, len);
    memset(out + 4 + digits + 1 + len, '.', room - len);
    out[lineBytes - 1] = '\n';
}

static char normalLine[lineBytes];
static char errorLine[lineBytes];

/* A copy of the right template with the index written in: the generator's own
 * cost must stay small beside the pipe's. */
static void formatLine(char* out, unsigned long index)
{
    memcpy(out, index % 100 == 99 ? errorLine : normalLine, lineBytes);
    for (int i = digits - 1; i >= 0 && index; --i) {
        out[4 + i] = (char)('0' + index % 10);
        index /= 10;
    }
}

static void usage(void)
{
    fprintf(stderr,
        "usage: wl_bench_loggen [--lines N] [--mode large|chunk|line] [--stream stdout|stderr] "
        "[--t0-file PATH] [--done-file PATH] [--cpu-file PATH] [--then-sleep]\n");
    exit(2);
}

int main(int argc, char** argv)
{
    long long t0 = realtimeMicros();
    unsigned long lines = 1000000;
    size_t bufferBytes = largeBytes; /* 0: one write per line */
    int fd = STDOUT_FILENO;
    const char* t0File = NULL;
    const char* doneFile = NULL;
    const char* cpuFile = NULL;
    int thenSleep = 0;

    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : NULL;
        if (!strcmp(a, "--lines") && v) {
            char* end;
            lines = strtoul(v, &end, 10);
            if (*end || lines > 9999999UL)
                usage();
            ++i;
        } else if (!strcmp(a, "--mode") && v) {
            if (!strcmp(v, "large"))
                bufferBytes = largeBytes;
            else if (!strcmp(v, "chunk"))
                bufferBytes = chunkBytes;
            else if (!strcmp(v, "line"))
                bufferBytes = 0;
            else
                usage();
            ++i;
        } else if (!strcmp(a, "--stream") && v) {
            if (!strcmp(v, "stdout"))
                fd = STDOUT_FILENO;
            else if (!strcmp(v, "stderr"))
                fd = STDERR_FILENO;
            else
                usage();
            ++i;
        } else if (!strcmp(a, "--t0-file") && v) {
            t0File = v;
            ++i;
        } else if (!strcmp(a, "--done-file") && v) {
            doneFile = v;
            ++i;
        } else if (!strcmp(a, "--cpu-file") && v) {
            cpuFile = v;
            ++i;
        } else if (!strcmp(a, "--then-sleep")) {
            thenSleep = 1;
        } else {
            usage();
        }
    }
    writeStamp(t0File, t0);
    signal(SIGPIPE, SIG_DFL);
    formatTemplate(normalLine, normalBody);
    formatTemplate(errorLine, errorBody);

    if (bufferBytes) {
        char* buffer = malloc(bufferBytes + lineBytes);
        if (!buffer)
            return 2;
        size_t used = 0;
        for (unsigned long i = 0; i < lines; ++i) {
            formatLine(buffer + used, i);
            used += lineBytes;
            if (used >= bufferBytes) {
                if (writeAll(fd, buffer, bufferBytes) < 0)
                    return 1;
                used -= bufferBytes;
                memmove(buffer, buffer + bufferBytes, used);
            }
        }
        if (used && writeAll(fd, buffer, used) < 0)
            return 1;
        free(buffer);
    } else {
        char line[lineBytes];
        for (unsigned long i = 0; i < lines; ++i) {
            formatLine(line, i);
            if (writeAll(fd, line, lineBytes) < 0)
                return 1;
        }
    }

    writeCpu(cpuFile);
    writeStamp(doneFile, realtimeMicros());
    if (thenSleep) {
        /* Quiet from here on: no timers, just wait for the supervisor's signal. */
        for (;;)
            pause();
    }
    return 0;
}
