/* wl_soak_printer NAME RATE STARTS_FILE: a server for the soak. It appends
 * "NAME PID" to STARTS_FILE when it starts (so the soak counts the starts
 * that commands caused), then prints RATE lines a second on stdout, each
 *   NAME PID SEQ MS
 * with SEQ counting from 0 in this run and MS the CLOCK_REALTIME milliseconds
 * of the write. Lines go out in small bursts every 10 ms (absolute deadlines,
 * so the rate does not drift). On SIGTERM it prints one last line, the next
 * SEQ followed by "end", so a reader knows where the run stopped. */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t stopping = 0;

static void onTerm(int sig)
{
    (void)sig;
    stopping = 1;
}

static long long nowMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (long long)now.tv_sec * 1000LL + now.tv_nsec / 1000000L;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fputs("usage: wl_soak_printer NAME RATE STARTS_FILE\n", stderr);
        return 64;
    }
    const char* name = argv[1];
    const long rate = atol(argv[2]);
    const long pid = (long)getpid();
    const int starts = open(argv[3], O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (starts < 0 || rate <= 0)
        return 1;
    char line[128];
    int n = snprintf(line, sizeof line, "%s %ld\n", name, pid);
    if (write(starts, line, (size_t)n) != n)
        return 1;
    close(starts);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onTerm;
    sigaction(SIGTERM, &action, NULL);

    const long tickMs = 10;
    long long seq = 0;
    long long due = 0; /* lines owed since the start, in thousandths */
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    char burst[8192];
    while (!stopping) {
        due += rate * tickMs;
        size_t used = 0;
        while (due >= 1000 && used + 128 < sizeof burst) {
            used += (size_t)snprintf(burst + used, sizeof burst - used, "%s %ld %lld %lld\n", name, pid, seq++, nowMs());
            due -= 1000;
        }
        if (used > 0 && write(STDOUT_FILENO, burst, used) != (ssize_t)used)
            return 1;
        next.tv_nsec += tickMs * 1000000L;
        next.tv_sec += next.tv_nsec / 1000000000L;
        next.tv_nsec %= 1000000000L;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
    }
    n = snprintf(line, sizeof line, "%s %ld %lld %lld end\n", name, pid, seq, nowMs());
    if (write(STDOUT_FILENO, line, (size_t)n) != n)
        return 1;
    return 0;
}
