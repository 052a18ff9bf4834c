/* wl_bench_spawntime RUNS PROGRAM [ARG...]: runs PROGRAM RUNS times, one after
 * the other, its output to /dev/null, and prints the wall time of each run from
 * posix_spawn to its exit as "p50 P50_MS p90 P90_MS max MAX_MS failed N" (ms,
 * three decimals). The first run is a warm-up and not counted. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static double nowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static int compare(const void* a, const void* b)
{
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fputs("usage: wl_bench_spawntime RUNS PROGRAM [ARG...]\n", stderr);
        return 64;
    }
    const int runs = atoi(argv[1]);
    if (runs < 1)
        return 64;
    double* times = calloc((size_t)runs, sizeof *times);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    int failed = 0;
    for (int i = -1; i < runs; ++i) {
        const double start = nowMs();
        pid_t pid;
        if (posix_spawn(&pid, argv[2], &actions, NULL, argv + 2, environ) != 0) {
            perror("posix_spawn");
            return 1;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) { }
        const double took = nowMs() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++failed;
        if (i >= 0)
            times[i] = took;
    }
    qsort(times, (size_t)runs, sizeof *times, compare);
    printf("p50 %.3f p90 %.3f max %.3f failed %d\n", times[runs / 2], times[(runs * 9) / 10 < runs ? (runs * 9) / 10 : runs - 1],
        times[runs - 1], failed);
    return failed ? 1 : 0;
}
