/* wl_bench_logpace: writes a server-like log at a steady pace.
 *
 * Every tick of 10 ms it writes the lines due by then in one write(2), so a
 * rate of 10,000 lines/s is 100 lines a tick. Lines look like a dev server's:
 * about one in four carries SGR colours, one in a hundred the word "error".
 *
 *   logpace RATE SECONDS   then stays alive, quiet, until a signal
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    const long rate = argc > 1 ? atol(argv[1]) : 10000;
    const double seconds = argc > 2 ? atof(argv[2]) : 30;
    static char buffer[1 << 20];
    const double start = now();
    long written = 0;
    for (;;) {
        const double elapsed = now() - start;
        if (elapsed >= seconds)
            break;
        const long due = (long)(elapsed * rate) + rate / 100;
        size_t used = 0;
        for (; written < due && used < sizeof buffer - 256; ++written) {
            int n;
            if (written % 100 == 99)
                n = snprintf(buffer + used, 256, "[%07ld] GET /api/items?page=%ld 500 error: upstream connect failed\n",
                    written, written % 50);
            else if (written % 4 == 0)
                n = snprintf(buffer + used, 256,
                    "\033[2m[%07ld]\033[0m \033[32mGET\033[0m /api/items?page=%ld \033[36m200\033[0m 3ms cache=hit\n",
                    written, written % 50);
            else
                n = snprintf(buffer + used, 256, "[%07ld] GET /api/items?page=%ld 200 3ms user=dev-7 cache=hit\n",
                    written, written % 50);
            used += (size_t)n;
        }
        if (used > 0 && write(1, buffer, used) < 0)
            return 1;
        const struct timespec tick = { 0, 10 * 1000 * 1000 };
        nanosleep(&tick, NULL);
    }
    for (;;)
        pause();
}
