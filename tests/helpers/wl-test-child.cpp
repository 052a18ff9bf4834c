// wl-test-child: a scripted child process for the supervision, daemon and
// benchmark tests. Each argument is one step, run in order; see usageText.
// Plain C++ and POSIX only, so it starts fast and behaves the same under every
// test. Every line goes out with a single write(2) and nothing is buffered, so
// what a test reads never depends on stdio flushing.

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int usageExitCode = 64;
constexpr size_t bulkWriteBytes = 64 * 1024;

constexpr std::string_view usageText = R"(usage: wl-test-child STEP...
Runs the steps in order, then exits with status 0. Every line is written with
one write(2), unbuffered.

Output
  out:TEXT          TEXT and a line feed on stdout (TEXT may hold colons)
  err:TEXT          TEXT and a line feed on stderr
  raw:HEX           the bytes spelled by HEX (pairs of hex digits) on stdout,
                    nothing added: partial lines, CRLF, invalid UTF-8
  rawerr:HEX        the same on stderr
  lines:N[:LEN]     lines "line 1" .. "line N" on stdout, one write each; with
                    LEN every line is padded with '.' to LEN bytes (not counting
                    the line feed; a longer "line K" is never cut)
  errlines:N[:LEN]  the same on stderr
  bulk:N[:LEN]      the lines of lines:N[:LEN], written in 64 KiB writes (lines
                    may be split between two writes)
  cwd               the working directory as one line
  env:NAME          the value of NAME as one line, or "<unset>"
  pid               "pid PID" (this process)
  close:out|err     close stdout or stderr

Behaviour
  sleep:MS          sleep MS milliseconds
  listen:PORT       listen on TCP 127.0.0.1:PORT (0 = any free port), then print
                    "listening PORT" with the bound port; the socket stays open
                    and is inherited by grandchildren forked later. A busy port
                    prints "Error: listen EADDRINUSE: address already in use
                    127.0.0.1:PORT" on stderr and exits 1; any other failure
                    prints "Error: listen: REASON" and exits 1
  listen6:PORT      the same on [::1] ("... already in use ::1:PORT")
  grandchild { STEP... }
                    fork a child that runs the steps between the braces and
                    then exits 0; print "grandchild PID" once it runs, before
                    the child writes anything. Blocks nest; the braces are
                    separate arguments
  setsid-grandchild { STEP... }
                    the same, but the child first calls setsid() (new session
                    and process group); "grandchild PID" is printed after that
  wait              wait until every child forked so far has ended
  ignore-term       ignore SIGTERM from now on
  pidfile:PATH      write this process's pid and a line feed to PATH (atomic
                    rename)
  hold              sleep until a signal ends the process
  exit:CODE         exit at once with status CODE (0..255)
  signal:N          raise signal N; if it does not end the process, go on

Errors in the arguments print "wl-test-child: ..." on stderr and exit 64.
--help prints this text on stdout and exits 0.
)";

[[noreturn]] void usageError(const std::string& message)
{
    const std::string line = "wl-test-child: " + message + "\n";
    [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(usageExitCode);
}

// Writes all of data; a short write is continued, but the first write carries
// as much as the kernel takes, which for a pipe is the whole line up to
// PIPE_BUF and usually far beyond.
void writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // reader gone or fd closed: nothing left to tell anyone
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

void writeLine(int fd, std::string_view text)
{
    std::string line(text);
    line.push_back('\n');
    writeAll(fd, line);
}

long long parseNumber(std::string_view text, long long min, long long max, std::string_view step)
{
    if (text.empty() || text.size() > 18)
        usageError("bad number '" + std::string(text) + "' in " + std::string(step));
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            usageError("bad number '" + std::string(text) + "' in " + std::string(step));
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max)
        usageError("number out of range '" + std::string(text) + "' in " + std::string(step));
    return value;
}

std::string parseHex(std::string_view hex, std::string_view step)
{
    if (hex.size() % 2 != 0)
        usageError("odd number of hex digits in " + std::string(step));
    auto digit = [&](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        usageError("bad hex digit in " + std::string(step));
    };
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    return bytes;
}

std::string numberedLine(long long index, long long width)
{
    std::string line = "line " + std::to_string(index);
    if (static_cast<long long>(line.size()) < width)
        line.append(static_cast<size_t>(width - static_cast<long long>(line.size())), '.');
    line.push_back('\n');
    return line;
}

void sleepMs(long long ms)
{
    timespec left { static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L };
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) { }
}

std::vector<int> s_openSockets; // kept open for the life of the process

void listenOn(long long port, bool v6)
{
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        writeLine(STDERR_FILENO, std::string("Error: listen: ") + std::strerror(errno));
        ::_exit(1);
    }
    int rc = -1;
    if (v6) {
        sockaddr_in6 addr {};
        addr.sin6_family = AF_INET6;
        addr.sin6_port = htons(static_cast<uint16_t>(port));
        addr.sin6_addr = in6addr_loopback;
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } else {
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    if (rc == 0)
        rc = ::listen(fd, 16);
    const std::string host = v6 ? "::1" : "127.0.0.1";
    if (rc != 0) {
        if (errno == EADDRINUSE)
            writeLine(
                STDERR_FILENO, "Error: listen EADDRINUSE: address already in use " + host + ":" + std::to_string(port));
        else
            writeLine(STDERR_FILENO, std::string("Error: listen: ") + std::strerror(errno));
        ::_exit(1);
    }
    sockaddr_storage bound {};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    const unsigned actual = v6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                               : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    s_openSockets.push_back(fd);
    writeLine(STDOUT_FILENO, "listening " + std::to_string(actual));
}

void writePidFile(const std::string& path)
{
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        usageError("cannot write pidfile " + path + ": " + std::strerror(errno));
    writeAll(fd, std::to_string(::getpid()) + "\n");
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0)
        usageError("cannot write pidfile " + path + ": " + std::strerror(errno));
}

// Index one past the '}' closing the block that opens at args[open] == "{".
size_t blockEnd(const std::vector<std::string_view>& args, size_t open)
{
    int depth = 0;
    for (size_t i = open; i < args.size(); ++i) {
        if (args[i] == "{")
            ++depth;
        else if (args[i] == "}" && --depth == 0)
            return i + 1;
    }
    usageError("unclosed '{'");
}

void run(const std::vector<std::string_view>& steps);

void forkGrandchild(const std::vector<std::string_view>& steps, bool newSession)
{
    // Two handshakes make the order of lines a promise: "grandchild PID" is
    // printed once the child is set up (after setsid), and before the child
    // writes anything of its own.
    int ready[2];
    int go[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(go, O_CLOEXEC) != 0)
        usageError(std::string("pipe: ") + std::strerror(errno));
    const pid_t pid = ::fork();
    if (pid < 0)
        usageError(std::string("fork: ") + std::strerror(errno));
    char byte;
    if (pid == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        if (newSession)
            ::setsid();
        ::close(ready[1]);
        while (::read(go[0], &byte, 1) < 0 && errno == EINTR) { }
        ::close(go[0]);
        run(steps);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    while (::read(ready[0], &byte, 1) < 0 && errno == EINTR) { }
    ::close(ready[0]);
    writeLine(STDOUT_FILENO, "grandchild " + std::to_string(pid));
    ::close(go[1]);
}

void run(const std::vector<std::string_view>& steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        const std::string_view step = steps[i];
        const size_t colon = step.find(':');
        const std::string_view name = step.substr(0, colon);
        const std::string_view arg = colon == std::string_view::npos ? std::string_view() : step.substr(colon + 1);
        const bool hasArg = colon != std::string_view::npos;
        auto requireArg = [&] {
            if (!hasArg)
                usageError("step " + std::string(name) + " needs an argument");
        };
        auto noArg = [&] {
            if (hasArg)
                usageError("step " + std::string(name) + " takes no argument");
        };
        // N[:LEN] for the numbered line steps.
        auto countAndWidth = [&](long long& count, long long& width) {
            requireArg();
            const size_t sep = arg.find(':');
            count = parseNumber(arg.substr(0, sep), 0, 100000000, step);
            width = sep == std::string_view::npos ? 0 : parseNumber(arg.substr(sep + 1), 0, 16 * 1024 * 1024, step);
        };

        if (name == "out" || name == "err") {
            requireArg();
            writeLine(name == "out" ? STDOUT_FILENO : STDERR_FILENO, arg);
        } else if (name == "raw" || name == "rawerr") {
            requireArg();
            writeAll(name == "raw" ? STDOUT_FILENO : STDERR_FILENO, parseHex(arg, step));
        } else if (name == "lines" || name == "errlines") {
            long long count = 0, width = 0;
            countAndWidth(count, width);
            const int fd = name == "lines" ? STDOUT_FILENO : STDERR_FILENO;
            for (long long n = 1; n <= count; ++n)
                writeAll(fd, numberedLine(n, width));
        } else if (name == "bulk") {
            long long count = 0, width = 0;
            countAndWidth(count, width);
            std::string buffer;
            buffer.reserve(bulkWriteBytes * 2);
            for (long long n = 1; n <= count; ++n) {
                buffer += numberedLine(n, width);
                while (buffer.size() >= bulkWriteBytes) {
                    writeAll(STDOUT_FILENO, std::string_view(buffer).substr(0, bulkWriteBytes));
                    buffer.erase(0, bulkWriteBytes);
                }
            }
            writeAll(STDOUT_FILENO, buffer);
        } else if (name == "cwd") {
            noArg();
            char buffer[4096];
            writeLine(STDOUT_FILENO, ::getcwd(buffer, sizeof buffer) ? buffer : "<unknown>");
        } else if (name == "env") {
            requireArg();
            const char* value = std::getenv(std::string(arg).c_str());
            writeLine(STDOUT_FILENO, value ? value : "<unset>");
        } else if (name == "pid") {
            noArg();
            writeLine(STDOUT_FILENO, "pid " + std::to_string(::getpid()));
        } else if (name == "close") {
            if (arg == "out")
                ::close(STDOUT_FILENO);
            else if (arg == "err")
                ::close(STDERR_FILENO);
            else
                usageError("close takes out or err");
        } else if (name == "sleep") {
            requireArg();
            sleepMs(parseNumber(arg, 0, 24LL * 3600 * 1000, step));
        } else if (name == "listen" || name == "listen6") {
            requireArg();
            listenOn(parseNumber(arg, 0, 65535, step), name == "listen6");
        } else if (name == "grandchild" || name == "setsid-grandchild") {
            noArg();
            if (i + 1 >= steps.size() || steps[i + 1] != "{")
                usageError(std::string(name) + " must be followed by '{'");
            const size_t end = blockEnd(steps, i + 1);
            const std::vector<std::string_view> inner(
                steps.begin() + static_cast<long>(i) + 2, steps.begin() + static_cast<long>(end) - 1);
            forkGrandchild(inner, name == "setsid-grandchild");
            i = end - 1;
        } else if (name == "wait") {
            noArg();
            while (::wait(nullptr) > 0 || errno == EINTR) { }
        } else if (name == "ignore-term") {
            noArg();
            ::signal(SIGTERM, SIG_IGN);
        } else if (name == "pidfile") {
            requireArg();
            writePidFile(std::string(arg));
        } else if (name == "hold") {
            noArg();
            for (;;)
                ::pause();
        } else if (name == "exit") {
            requireArg();
            ::_exit(static_cast<int>(parseNumber(arg, 0, 255, step)));
        } else if (name == "signal") {
            requireArg();
            ::raise(static_cast<int>(parseNumber(arg, 1, 64, step)));
        } else {
            usageError("unknown step '" + std::string(step) + "' (try --help)");
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> steps(argv + 1, argv + argc);
    if (steps.size() == 1 && (steps[0] == "--help" || steps[0] == "-h")) {
        writeAll(STDOUT_FILENO, usageText);
        return 0;
    }
    // A stray '}' would otherwise be reported as an unknown step far from its cause.
    int depth = 0;
    for (const std::string_view s : steps) {
        depth += s == "{" ? 1 : s == "}" ? -1 : 0;
        if (depth < 0)
            usageError("'}' without '{'");
    }
    if (depth != 0)
        usageError("unclosed '{'");
    run(steps);
    return 0;
}
