// wl_bench_soak BIN_DIR SCRATCH_DIR: the end-to-end soak of remote access
// (bench/soak/run.sh sets up a private HOME and runs it). Settings from the
// environment: WL_SOAK_SECONDS (300), WL_SOAK_KILLS (20), WL_SOAK_SERVERS (5),
// WL_SOAK_LINES_PER_SECOND (2000, all servers together),
// WL_SOAK_COMMAND_EVERY_MS (3000), WL_SOAK_SEED (random).
#include "SoakRun.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

int setting(const char* name, int fallback)
{
    const QByteArray value = qgetenv(name);
    bool ok = false;
    const int parsed = value.toInt(&ok);
    return ok && parsed >= 0 ? parsed : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: wl_bench_soak BIN_DIR SCRATCH_DIR\n", stderr);
        return 2;
    }
    Wardlamp::Soak::SoakRun::Settings settings;
    settings.binDir = QString::fromLocal8Bit(argv[1]);
    settings.scratchDir = QString::fromLocal8Bit(argv[2]);
    settings.seconds = std::max(1, setting("WL_SOAK_SECONDS", settings.seconds));
    settings.kills = setting("WL_SOAK_KILLS", settings.kills);
    settings.servers = std::max(1, setting("WL_SOAK_SERVERS", settings.servers));
    settings.linesPerSecond = std::max(settings.servers, setting("WL_SOAK_LINES_PER_SECOND", settings.linesPerSecond));
    settings.commandEveryMs = std::max(100, setting("WL_SOAK_COMMAND_EVERY_MS", settings.commandEveryMs));
    settings.seed = quint32(setting("WL_SOAK_SEED", int(QRandomGenerator::global()->bounded(1 << 30))));
    std::printf("soak: %d servers, %d lines/s in all, relay killed %d times over %d s, a command every %d ms, "
                "seed %u (WL_SOAK_SEED)\n",
        settings.servers, settings.linesPerSecond, settings.kills, settings.seconds, settings.commandEveryMs,
        settings.seed);
    std::fflush(stdout);

    Wardlamp::Soak::SoakRun run(settings);
    QTimer::singleShot(0, &run, &Wardlamp::Soak::SoakRun::begin);
    return app.exec();
}
