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
    const Expected<QList<ServerConfig>, QString> servers = ServerConfig::decodeList(json);
    if (servers) {
        const Expected<QList<ServerConfig>, QString> again
            = ServerConfig::decodeList(ServerConfig::encodeList(*servers));
        WL_FUZZ_CHECK(again && *again == *servers);
    } else {
        WL_FUZZ_CHECK(!servers.error().isEmpty());
    }
    return 0;
}
