/* wl_bench_tree: a server process with five descendants, for the stop benchmark.
 *
 *   server (this process, exec'd by the login shell)
 *   +- worker-a                 plain child
 *   +- worker-b                 child with a child of its own
 *   |  +- worker-b1
 *   +- keeper-c                 child that starts a detached daemon
 *      +- daemon-c1             setsid(): own session and process group, stdio on /dev/null
 *
 *   --tag TEXT          carried in every member's argv, so that a /proc scan finds
 *                       any member that outlives the stop
 *   --ignore-term       daemon-c1 ignores SIGTERM (only SIGKILL ends it)
 *   --orphan            keeper-c exits right after starting daemon-c1 (a double fork),
 *                       so the daemon's parent chain no longer leads to the server
 *
 * Once every member runs, the server prints one line per member,
 * "tree-member ROLE PID", then "tree-ready N" with the number of live descendants,
 * and waits for a signal. Every member keeps the default SIGTERM action unless
 * told otherwise.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

struct Member {
    char role[16];
    int pid;
};

static int reportFd = -1;

static void report(const char* role)
{
    struct Member m;
    memset(&m, 0, sizeof m);
    snprintf(m.role, sizeof m.role, "%s", role);
    m.pid = getpid();
    /* Smaller than PIPE_BUF: one atomic write per member. */
    if (write(reportFd, &m, sizeof m) != (ssize_t)sizeof m)
        _exit(3);
}

static void idle(void)
{
    close(reportFd);
    for (;;)
        pause();
}

int main(int argc, char** argv)
{
    int ignoreTerm = 0;
    int orphan = 0;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--ignore-term"))
            ignoreTerm = 1;
        else if (!strcmp(argv[i], "--orphan"))
            orphan = 1;
        else if (!strcmp(argv[i], "--tag") && i + 1 < argc)
            ++i;
        else {
            fprintf(stderr, "usage: wl_bench_tree [--tag TEXT] [--ignore-term] [--orphan]\n");
            return 2;
        }
    }
    setvbuf(stdout, NULL, _IOLBF, 0);

    int fds[2];
    if (pipe(fds) < 0)
        return 2;
    reportFd = fds[1];
    int expected = 5;

    if (fork() == 0) {
        close(fds[0]);
        report("worker-a");
        idle();
    }
    if (fork() == 0) {
        close(fds[0]);
        if (fork() == 0) {
            report("worker-b1");
            idle();
        }
        report("worker-b");
        idle();
    }
    pid_t keeperPid = fork();
    if (keeperPid == 0) {
        close(fds[0]);
        if (fork() == 0) {
            setsid();
            int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
                if (null > 2)
                    close(null);
            }
            if (ignoreTerm)
                signal(SIGTERM, SIG_IGN);
            report("daemon-c1");
            idle();
        }
        if (orphan)
            _exit(0);
        report("keeper-c");
        idle();
    }
    close(fds[1]);
    if (orphan)
        expected = 4;

    struct Member members[8];
    int count = 0;
    while (count < expected) {
        ssize_t n = read(fds[0], &members[count], sizeof members[0]);
        if (n != (ssize_t)sizeof members[0])
            break;
        ++count;
    }
    if (orphan)
        waitpid(keeperPid, NULL, 0); /* keeper-c exited on purpose: reap it */
    for (int i = 0; i < count; ++i)
        printf("tree-member %s %d\n", members[i].role, members[i].pid);
    printf("tree-ready %d\n", count);
    close(fds[0]);
    for (;;)
        pause();
}
