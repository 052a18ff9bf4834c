// The built wardlamp-relay program: its first stdout line, --help, argument errors,
// wss:// with a certificate, and a clean exit on SIGTERM.

#include "RelayTestSupport.h"
#include "WsTestClient.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace Wardlamp::RelayTest;
namespace beast = boost::beast;

namespace {

std::string relayProgram()
{
    const char* dir = std::getenv("WL_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/wardlamp-relay";
}

// The relay program as a child, with its stdout and stderr on pipes.
class RelayProcess {
public:
    explicit RelayProcess(std::vector<std::string> arguments)
    {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        arguments.insert(arguments.begin(), relayProgram());
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = fdopen(out[0], "r");
        m_err = fdopen(err[0], "r");
    }

    ~RelayProcess()
    {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out)
            fclose(m_out);
        if (m_err)
            fclose(m_err);
    }

    // One line of stdout (blocking; the child writes it at once or exits).
    std::string stdoutLine()
    {
        char line[512];
        return fgets(line, sizeof line, m_out) ? std::string(line) : std::string();
    }
    std::string allStderr()
    {
        std::string text;
        char chunk[4096];
        while (const auto n = fread(chunk, 1, sizeof chunk, m_err))
            text.append(chunk, n);
        return text;
    }

    void signal(int number) { kill(m_pid, number); }

    // Exit status, or -1 when it did not exit within the default wait.
    int waitForExit()
    {
        const auto deadline = std::chrono::steady_clock::now() + defaultWait();
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    std::uint16_t listeningPort()
    {
        const std::string line = stdoutLine();
        const std::string prefix = "listening on 127.0.0.1:";
        if (line.rfind(prefix, 0) != 0 || line.back() != '\n')
            return 0;
        return static_cast<std::uint16_t>(std::stoi(line.substr(prefix.size())));
    }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    FILE* m_out = nullptr;
    FILE* m_err = nullptr;
};

TEST(RelayProgram, printsPortServesAndExitsCleanlyOnSigterm)
{
    RelayProcess relay({ "--listen", "127.0.0.1:0" });
    const auto port = relay.listeningPort();
    ASSERT_NE(port, 0);
    WsTestClient agent, controller;
    ASSERT_TRUE(agent.join(port, roomId(1), "agent"));
    ASSERT_TRUE(controller.join(port, roomId(1), "controller"));
    EXPECT_TRUE(controller.read().ok);

    relay.signal(SIGTERM);
    EXPECT_FALSE(controller.read().ok);
    EXPECT_EQ(controller.closeCode(), 1001);
    while (agent.read().ok) { } // its welcome and the controller's peerJoin come first
    EXPECT_EQ(agent.closeCode(), 1001);
    EXPECT_EQ(relay.waitForExit(), 0);

    // One line per connection event, and never a payload.
    const std::string log = relay.allStderr();
    EXPECT_NE(log.find("join room=00000001 role=agent"), std::string::npos) << log;
    EXPECT_NE(log.find("join room=00000001 role=controller"), std::string::npos) << log;
    EXPECT_EQ(log.find(roomId(1)), std::string::npos) << "full room identifiers stay out of the log";
}

TEST(RelayProgram, sigintStopsAnIdleRelay)
{
    RelayProcess relay({ "--listen", "127.0.0.1:0" });
    ASSERT_NE(relay.listeningPort(), 0);
    relay.signal(SIGINT);
    EXPECT_EQ(relay.waitForExit(), 0);
}

TEST(RelayProgram, helpAndArgumentErrors)
{
    {
        RelayProcess help({ "--help" });
        EXPECT_EQ(help.stdoutLine(), "Usage: wardlamp-relay [options]\n");
        EXPECT_EQ(help.waitForExit(), 0);
    }
    {
        RelayProcess wrong({ "--max-connections", "lots" });
        EXPECT_EQ(wrong.waitForExit(), 2);
        EXPECT_EQ(wrong.allStderr(), "wardlamp-relay: --max-connections expects a number from 1 to 10000000\n");
    }
    {
        RelayProcess missingFiles(
            { "--listen", "127.0.0.1:0", "--tls-cert", "/nonexistent/c.pem", "--tls-key", "/nonexistent/k.pem" });
        EXPECT_EQ(missingFiles.waitForExit(), 1);
        EXPECT_EQ(missingFiles.allStderr().rfind("wardlamp-relay: cannot load the TLS certificate or key", 0), 0u);
    }
}

TEST(RelayProgram, servesWssWithACertificate)
{
    const TemporaryCertificate certificate("wl-relay-tls");
    ASSERT_TRUE(certificate.ok());
    const std::string cert = certificate.certificateFile(), key = certificate.keyFile();

    RelayProcess relay({ "--listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key });
    const auto port = relay.listeningPort();
    ASSERT_NE(port, 0);

    boost::asio::io_context io;
    boost::asio::ssl::context tls(boost::asio::ssl::context::tls_client);
    tls.load_verify_file(cert);
    tls.set_verify_mode(boost::asio::ssl::verify_peer);
    beast::websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws(io, tls);
    beast::get_lowest_layer(ws).expires_after(defaultWait());
    beast::flat_buffer buffer;
    std::string welcome;
    beast::get_lowest_layer(ws).async_connect(
        { boost::asio::ip::make_address("127.0.0.1"), port }, [&](beast::error_code e1) {
            ASSERT_FALSE(e1) << e1.message();
            ws.next_layer().async_handshake(boost::asio::ssl::stream_base::client, [&](beast::error_code e2) {
                ASSERT_FALSE(e2) << e2.message();
                ws.async_handshake(
                    "127.0.0.1", "/connect?room=" + roomId(4) + "&role=controller", [&](beast::error_code e3) {
                        ASSERT_FALSE(e3) << e3.message();
                        ws.async_read(buffer, [&](beast::error_code e4, std::size_t) {
                            ASSERT_FALSE(e4) << e4.message();
                            welcome = beast::buffers_to_string(buffer.data());
                            beast::get_lowest_layer(ws).close();
                        });
                    });
            });
        });
    io.run();
    EXPECT_EQ(welcome, R"({"v":1,"kind":"welcome","role":"controller","online":false})");

    // Plain HTTP to the TLS port is refused without harm.
    EXPECT_EQ(statusOf(rawExchange(port, "GET /healthz HTTP/1.1\r\n\r\n")), 0);
    relay.signal(SIGTERM);
    EXPECT_EQ(relay.waitForExit(), 0);
}

} // namespace
