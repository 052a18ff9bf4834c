#include "RelayCommandLine.h"

#include <charconv>
#include <limits>
#include <optional>

namespace Wardlamp {

namespace {

std::optional<std::uint64_t> parseUnsigned(std::string_view text, std::uint64_t min, std::uint64_t max)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < min || value > max)
        return std::nullopt;
    return value;
}

// "HOST:PORT", "[V6]:PORT" or ":PORT" (all interfaces).
bool parseListen(std::string_view text, RelayOptions& options)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view host = text.substr(0, colon);
    const auto port = parseUnsigned(text.substr(colon + 1), 0, std::numeric_limits<std::uint16_t>::max());
    if (!port)
        return false;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string_view::npos)
        return false; // a bare IPv6 address is ambiguous without brackets
    options.listenAddress = host.empty() ? std::string("0.0.0.0") : std::string(host);
    options.listenPort = static_cast<std::uint16_t>(*port);
    return true;
}

} // namespace

RelayCommandLine::Result RelayCommandLine::parse(std::span<const std::string_view> arguments)
{
    Result result;
    auto fail = [&result](std::string message) {
        result.outcome = Outcome::error;
        result.error = std::move(message);
        return result;
    };

    bool sawWebRoot = false;
    bool sawNoWeb = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view flag = arguments[i];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = flag.find('='); flag.starts_with("--") && equals != std::string_view::npos) {
            inlineValue = flag.substr(equals + 1);
            flag = flag.substr(0, equals);
        }
        if (flag == "--help" || flag == "-h") {
            result.outcome = Outcome::showHelp;
            return result;
        }
        auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        auto number = [&](std::uint64_t min, std::uint64_t max) -> std::optional<std::uint64_t> {
            const auto text = value();
            return text ? parseUnsigned(*text, min, max) : std::nullopt;
        };
        const std::string name(flag);
        constexpr std::uint64_t maxBytes = std::uint64_t(1) << 30;

        if (flag == "--listen") {
            const auto text = value();
            if (!text || !parseListen(*text, result.options))
                return fail("--listen expects ADDRESS:PORT, for example 127.0.0.1:8080 or [::]:443");
        } else if (flag == "--tls-cert" || flag == "--tls-key") {
            const auto text = value();
            if (!text || text->empty())
                return fail(name + " expects a file name");
            (flag == "--tls-cert" ? result.options.tlsCertificateFile : result.options.tlsKeyFile) = std::string(*text);
        } else if (flag == "--max-frame-bytes") {
            const auto n = number(256, maxBytes);
            if (!n)
                return fail("--max-frame-bytes expects a number of bytes from 256 to 1073741824");
            result.options.maxFrameBytes = *n;
        } else if (flag == "--max-controllers") {
            const auto n = number(1, 100000);
            if (!n)
                return fail("--max-controllers expects a number from 1 to 100000");
            result.options.maxControllersPerRoom = *n;
        } else if (flag == "--max-connections") {
            const auto n = number(1, 10000000);
            if (!n)
                return fail("--max-connections expects a number from 1 to 10000000");
            result.options.maxConnections = *n;
        } else if (flag == "--max-connections-per-ip") {
            const auto n = number(0, 10000000);
            if (!n)
                return fail("--max-connections-per-ip expects a number from 0 (no limit) to 10000000");
            result.options.maxConnectionsPerIp = *n;
        } else if (flag == "--idle-timeout") {
            const auto n = number(1, 86400);
            if (!n)
                return fail("--idle-timeout expects a number of seconds from 1 to 86400");
            result.options.idleTimeout = std::chrono::seconds(*n);
        } else if (flag == "--message-timeout") {
            const auto n = number(1, 3600);
            if (!n)
                return fail("--message-timeout expects a number of seconds from 1 to 3600");
            result.options.messageTimeout = std::chrono::seconds(*n);
        } else if (flag == "--unfinished-message-bytes") {
            const auto n = number(256, std::uint64_t(1) << 40);
            if (!n)
                return fail("--unfinished-message-bytes expects a number of bytes from 256 to 1099511627776");
            result.options.unfinishedMessageBytes = *n;
        } else if (flag == "--send-queue-bytes") {
            const auto n = number(256, maxBytes);
            if (!n)
                return fail("--send-queue-bytes expects a number of bytes from 256 to 1073741824");
            result.options.sendQueueBytes = *n;
        } else if (flag == "--web-root") {
            const auto text = value();
            if (!text || text->empty())
                return fail("--web-root expects a folder");
            result.options.web = WebContent::Source::directory;
            result.options.webRoot = std::string(*text);
            sawWebRoot = true;
        } else if (flag == "--no-web") {
            if (inlineValue)
                return fail("--no-web takes no value");
            result.options.web = WebContent::Source::none;
            sawNoWeb = true;
        } else {
            return fail("unknown option " + name + " (see --help)");
        }
    }

    if (result.options.tlsCertificateFile.empty() != result.options.tlsKeyFile.empty())
        return fail("--tls-cert and --tls-key go together");
    if (sawWebRoot && sawNoWeb)
        return fail("--web-root and --no-web contradict each other");
    if (result.options.sendQueueBytes < result.options.maxFrameBytes)
        return fail("--send-queue-bytes must be at least --max-frame-bytes, or a largest frame could never be sent");
    if (result.options.unfinishedMessageBytes < result.options.maxFrameBytes)
        return fail("--unfinished-message-bytes must be at least --max-frame-bytes, or a largest message could "
                    "never come in pieces");
    return result;
}

std::string RelayCommandLine::helpText()
{
    return R"(Usage: wardlamp-relay [options]

Joins the Wardlamp desktop agent and its controllers in rooms and passes their
end-to-end-encrypted envelopes between them. Clients connect with a WebSocket
upgrade to a path whose last segment is "connect" (so a proxy may mount it under
any prefix), naming the room (32 lower-case hexadecimal characters) and role
("agent" or "controller") in the X-WL-Room and X-WL-Role headers or in the
query (?room=...&role=...). GET /healthz answers 200 "ok". Every other GET is
the web controller: a page that pairs with the desktop's key and works it from a
phone, end to end encrypted in the browser (it needs https:// or loopback).

Options:
  --listen ADDRESS:PORT    where to listen (default 127.0.0.1:8080; port 0 picks a
                           free port). The first line on stdout is
                           "listening on ADDRESS:PORT".
  --tls-cert FILE          PEM certificate chain: serve wss:// (needs --tls-key)
  --tls-key FILE           PEM private key of the certificate
                           Without both, plain ws:// for use behind a TLS proxy.
  --max-frame-bytes N      largest message accepted; a larger one closes the
                           connection with code 1009 (default 1048576)
  --max-controllers N      controllers per room (default 8)
  --max-connections N      open TCP connections in all (default 10000)
  --max-connections-per-ip N  open TCP connections from one client address; more
                           are closed at once (default 0: no limit, for a relay
                           behind a proxy)
  --idle-timeout SECONDS   close a connection that sent nothing, not even a pong
                           to the relay's pings, for this long (default 60)
  --message-timeout SECONDS  time from the first byte of a message (or of the
                           HTTP request) to its last; a peer slower than that is
                           closed with code 1008 (default 30)
  --unfinished-message-bytes N  memory all messages still arriving may hold
                           together; a peer whose message would pass it is closed
                           with code 1009 (default 67108864)
  --send-queue-bytes N     bytes waiting to be sent to one connection; a controller
                           past it is disconnected, a message to an agent past it
                           is dropped (default 4194304)
  --web-root DIR           serve the web controller from this folder instead of
                           the copy built into the relay
  --no-web                 serve no web controller (other paths answer 404)
  -h, --help               show this text

Binary frames holding a JSON envelope are treated like text frames; other binary
frames are dropped. SIGTERM or SIGINT closes every connection with code 1001 and
exits with status 0.
)";
}

} // namespace Wardlamp
