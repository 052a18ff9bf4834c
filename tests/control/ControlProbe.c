/* wl-control-probe SOCKET [LINE]: connects to a Unix stream socket, sends LINE
 * (with a line feed) when given, and copies what comes back to standard output
 * until the other side closes or 5 seconds pass. The control socket tests run
 * it under another uid to see what such a peer gets. Exit 0 when it could
 * connect, 3 when it could not (the reason on standard error). */
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: wl-control-probe SOCKET [LINE]\n");
        return 2;
    }
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
        fprintf(stderr, "connect: %s\n", strerror(errno));
        return 3;
    }
    if (argc > 2) {
        char line[4096];
        int length = snprintf(line, sizeof line, "%s\n", argv[2]);
        if (send(fd, line, (size_t)length, MSG_NOSIGNAL) < 0)
            fprintf(stderr, "send: %s\n", strerror(errno));
    }
    char buffer[4096];
    for (;;) {
        struct pollfd wait = { fd, POLLIN, 0 };
        if (poll(&wait, 1, 5000) <= 0)
            break;
        ssize_t received = recv(fd, buffer, sizeof buffer, 0);
        if (received <= 0)
            break;
        fwrite(buffer, 1, (size_t)received, stdout);
    }
    close(fd);
    return 0;
}
