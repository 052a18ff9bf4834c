// bench_remotekit: what one message costs the agent and the controller.
// Targets: >= 1 GB/s sealing and opening at 1 MiB (AES-NI), a 50-line logAppend
// encoded and sealed in under 50 us; decode costs of a 20-server snapshot and a
// 500-line logAppend, and the password key derivation, are reported.

#include "remotekit/ContentKey.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RemoteCrypto.h"
#include "remotekit/StrictBase64.h"

#include <benchmark/benchmark.h>

using namespace Wardlamp;

namespace {

const ContentKey& benchKey()
{
    static const ContentKey key = *RemoteCrypto::contentKey(SecretBytes(QByteArray(32, '\x42')));
    return key;
}

QList<WireLogLine> logLines(int count)
{
    QList<WireLogLine> lines;
    lines.reserve(count);
    const double start = 1733700000000.0;
    for (int i = 0; i < count; ++i) {
        QString text = (i % 7 == 0)
            ? QStringLiteral("\x1b[31mError: listen EADDRINUSE: address already in use :::3000\x1b[0m (attempt %1)")
            : QStringLiteral("GET /api/items?page=%1 200 in 12ms - served from cache, 4 KiB, user agent curl/8.4");
        lines.append(WireLogLine { QUuid::createUuid(), WireTime { start + i * 1.5 }, text.arg(i), i % 7 == 0 });
    }
    return lines;
}

Snapshot snapshot(int servers)
{
    Snapshot snap { QStringLiteral("Studio"), {}, WireTime { 1733700001000.5 } };
    for (int i = 0; i < servers; ++i) {
        WireServer server;
        server.id = QUuid::createUuid();
        server.name = QStringLiteral("service-%1").arg(i);
        server.command = QStringLiteral("bun run --watch server.js --port %1").arg(3000 + i);
        server.directory = QStringLiteral("/home/dev/projects/service-%1").arg(i);
        if (i % 3 == 0)
            server.tunnelHostname = QStringLiteral("service-%1.example.test").arg(i);
        server.status = i % 4 == 0 ? WireStatus::error : WireStatus::running;
        server.hasError = i % 4 == 0;
        server.pid = 40000 + i;
        server.startedAt = WireTime { 1733700000000.0 + i };
        if (i % 4 == 0)
            server.lastExitCode = 1;
        snap.servers.append(server);
    }
    return snap;
}

void BM_Seal(benchmark::State& state)
{
    const QByteArray plaintext(state.range(0), 'x');
    for (auto _ : state) {
        auto sealed = RemoteCrypto::seal(plaintext, benchKey());
        benchmark::DoNotOptimize(sealed);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Seal)->Arg(64)->Arg(4096)->Arg(1 << 20);

void BM_Open(benchmark::State& state)
{
    const QByteArray sealed = RemoteCrypto::seal(QByteArray(state.range(0), 'x'), benchKey()).value();
    for (auto _ : state) {
        auto opened = RemoteCrypto::open(sealed, benchKey());
        benchmark::DoNotOptimize(opened);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Open)->Arg(64)->Arg(4096)->Arg(1 << 20);

// The agent's hot path: a batch of new lines encoded, sealed and base64'd.
void BM_LogAppend50EncodeAndSeal(benchmark::State& state)
{
    const PeerMessage message = PeerMessage::logAppend(QUuid::createUuid(), logLines(50));
    for (auto _ : state) {
        auto payload = message.sealed(benchKey());
        benchmark::DoNotOptimize(payload);
    }
    state.counters["payload_bytes"] = double(message.sealed(benchKey())->size());
}
BENCHMARK(BM_LogAppend50EncodeAndSeal)->Unit(benchmark::kMicrosecond);

void BM_DecodeSnapshot20(benchmark::State& state)
{
    const QByteArray json = PeerMessage::snapshot(snapshot(20)).encode().value();
    for (auto _ : state) {
        auto message = PeerMessage::decode(json);
        benchmark::DoNotOptimize(message);
    }
    state.counters["json_bytes"] = double(json.size());
}
BENCHMARK(BM_DecodeSnapshot20)->Unit(benchmark::kMicrosecond);

void BM_DecodeLogAppend500(benchmark::State& state)
{
    const QByteArray json = PeerMessage::logAppend(QUuid::createUuid(), logLines(500)).encode().value();
    for (auto _ : state) {
        auto message = PeerMessage::decode(json);
        benchmark::DoNotOptimize(message);
    }
    state.counters["json_bytes"] = double(json.size());
}
BENCHMARK(BM_DecodeLogAppend500)->Unit(benchmark::kMicrosecond);

// The controller's side of the same message: base64, open, decode.
void BM_OpenLogAppend500(benchmark::State& state)
{
    const QString payload = PeerMessage::logAppend(QUuid::createUuid(), logLines(500)).sealed(benchKey()).value();
    for (auto _ : state) {
        auto message = PeerMessage::opened(payload, benchKey());
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_OpenLogAppend500)->Unit(benchmark::kMicrosecond);

void BM_StrictBase64Decode(benchmark::State& state)
{
    const QString text = QString::fromLatin1(QByteArray(state.range(0), 'x').toBase64());
    for (auto _ : state) {
        auto bytes = decodeStrictBase64(QStringView(text));
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_StrictBase64Decode)->Arg(1 << 16);

void BM_ContentKeyWithPassword(benchmark::State& state)
{
    const SecretBytes secret(QByteArray(32, '\x07'));
    const QString password = QStringLiteral("correct horse battery staple");
    for (auto _ : state) {
        auto key = RemoteCrypto::contentKey(secret, password);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_ContentKeyWithPassword)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ContentKeyWithoutPassword(benchmark::State& state)
{
    const SecretBytes secret(QByteArray(32, '\x07'));
    for (auto _ : state) {
        auto key = RemoteCrypto::contentKey(secret);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_ContentKeyWithoutPassword)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
