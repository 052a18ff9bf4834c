/* wl_bench_cputime: runs a command and writes the CPU time it used (user +
 * system, microseconds, from wait4's rusage) to a file; the command's exit
 * status is passed on.
 *
 *   wl_bench_cputime OUTFILE COMMAND [ARGS...]
 *
 * It stands in front of the raw pipe's `cat`, so that the CPU a supervisor
 * spends on a million lines can be set beside what a plain reader spends:
 * unlike wall time, that figure does not move when the machine is busy.
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: wl_bench_cputime OUTFILE COMMAND [ARGS...]\n");
        return 2;
    }
    pid_t pid = fork();
    if (pid < 0)
        return 2;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) < 0)
        return 2;
    FILE* out = fopen(argv[1], "w");
    if (out) {
        long long us = (long long)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL
            + usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
        fprintf(out, "%lld\n", us);
        fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
