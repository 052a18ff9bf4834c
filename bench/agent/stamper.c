/* wl_bench_stamper COUNT INTERVAL_MS: COUNT lines "stamp <CLOCK_REALTIME ns> <i>"
 * on stdout, one write(2) each, the first at once and then every INTERVAL_MS
 * (absolute deadlines, so the spacing does not drift). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fputs("usage: wl_bench_stamper COUNT INTERVAL_MS\n", stderr);
        return 64;
    }
    const long count = atol(argv[1]);
    const long interval = atol(argv[2]);
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long i = 0; i < count; ++i) {
        if (interval > 0 && i > 0) {
            next.tv_nsec += (interval % 1000) * 1000000L;
            next.tv_sec += interval / 1000 + next.tv_nsec / 1000000000L;
            next.tv_nsec %= 1000000000L;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
        }
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        char line[96];
        const int n = snprintf(line, sizeof line, "stamp %lld %ld\n",
                               (long long)now.tv_sec * 1000000000LL + now.tv_nsec, i);
        if (write(STDOUT_FILENO, line, (size_t)n) != n)
            return 1;
    }
    /* Stay until stopped, so the end of the run is not an exit to report. */
    pause();
    return 0;
}
