// Envelope::decode on arbitrary frames (text or binary). Whatever decodes must
// encode and decode back to the same envelope.

#include "FuzzCheck.h"

#include "remotekit/Envelope.h"

#include <cstdint>

using namespace Wardlamp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView frame(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<Envelope> envelope = Envelope::decode(frame);
    if (envelope) {
        const std::optional<Envelope> again = Envelope::decode(envelope->encode());
        WL_FUZZ_CHECK(again && *again == *envelope);
    }
    return 0;
}
