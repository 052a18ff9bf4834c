// PairingCredential::parse on arbitrary text (pasted or scanned). A parsed
// credential has a 32-byte secret and survives encoded() and parse() unchanged.

#include "FuzzCheck.h"

#include "remotekit/PairingCredential.h"

#include <QString>

#include <cstdint>

using namespace Wardlamp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<PairingCredential> credential = PairingCredential::parse(text);
    if (credential) {
        WL_FUZZ_CHECK(credential->secret.size() == PairingCredential::secretSize);
        const QString key = credential->encoded();
        WL_FUZZ_CHECK(key.startsWith(PairingCredential::prefix));
        const std::optional<PairingCredential> again = PairingCredential::parse(key);
        WL_FUZZ_CHECK(again && *again == *credential);
    }
    return 0;
}
