// wardlamp-relay: parses the command line, raises the descriptor limit, and runs
// one RelayServer on a single-threaded io_context until SIGTERM or SIGINT.

#include "relay/RelayCommandLine.h"
#include "relay/RelayLog.h"
#include "relay/RelayServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <vector>

namespace {

// Every connection is a descriptor: lift the soft limit to the hard one (and, with
// the privilege for it, the hard one to what the connection limit needs).
void raiseDescriptorLimit(std::size_t maxConnections)
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = static_cast<rlim_t>(maxConnections) + 128;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) {
        rlimit raised { wanted, wanted };
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            return;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted)
        Wardlamp::RelayLog::line("warning: the descriptor limit " + std::to_string(limit.rlim_cur)
            + " is below --max-connections; connections past it will be refused");
}

} // namespace

int main(int argc, char** argv)
{
    using namespace Wardlamp;
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const auto parsed = RelayCommandLine::parse(arguments);
    switch (parsed.outcome) {
    case RelayCommandLine::Outcome::showHelp:
        std::fputs(RelayCommandLine::helpText().c_str(), stdout);
        return 0;
    case RelayCommandLine::Outcome::error:
        std::fprintf(stderr, "wardlamp-relay: %s\n", parsed.error.c_str());
        return 2;
    case RelayCommandLine::Outcome::run:
        break;
    }

    if (parsed.options.web == WebContent::Source::directory && !std::filesystem::is_directory(parsed.options.webRoot)) {
        std::fprintf(stderr, "wardlamp-relay: --web-root %s is not a folder\n", parsed.options.webRoot.c_str());
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit(parsed.options.maxConnections);

    boost::asio::io_context io(1);
    RelayServer server(io, parsed.options);
    if (const auto failure = server.start()) {
        std::fprintf(stderr, "wardlamp-relay: %s\n", failure->c_str());
        return 1;
    }
    // Signals are caught before anyone can learn the address: a supervisor that stops
    // the relay right after reading the first line still gets a clean exit.
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&server](const boost::system::error_code& error, int) {
        if (!error)
            server.shutdown();
    });
    std::printf("listening on %s\n", server.localAddressText().c_str());
    std::fflush(stdout);
    RelayLog::line(
        std::string("listening on ") + server.localAddressText() + (parsed.options.useTls() ? " (wss)" : " (ws)"));
    switch (parsed.options.web) {
    case WebContent::Source::builtIn:
        RelayLog::line("web controller: the built-in copy");
        break;
    case WebContent::Source::directory:
        RelayLog::line("web controller: from " + parsed.options.webRoot);
        break;
    case WebContent::Source::none:
        RelayLog::line("web controller: none");
        break;
    }

    io.run();
    RelayLog::line("stopped");
    return 0;
}
