// ServerConfig::decodeList on arbitrary bytes (the persisted list, WL_SEED_SERVERS).
// A list that decodes must encode and decode back to the same list; a failure
// must come with a reason.

#include "FuzzCheck.h"

#include "supervision/ServerConfig.h"

#include <cstdint>

using namespace Wardlamp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView json(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<QList<ServerConfig>> servers = ServerConfig::decodeList(json, &error);
    if (servers) {
        const std::optional<QList<ServerConfig>> again = ServerConfig::decodeList(ServerConfig::encodeList(*servers));
        WL_FUZZ_CHECK(again && *again == *servers);
    } else {
        WL_FUZZ_CHECK(!error.isEmpty());
    }
    return 0;
}
