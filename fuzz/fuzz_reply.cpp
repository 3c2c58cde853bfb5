// Fuzzes the decoding of replies from the rig-control program into the status line's text.

#include "protocol.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString status = Rig::ReplyPrefix + Rig::DecodeReply(bytes);
    // Every byte ends up in the text: never more characters than bytes, none dropped to nothing.
    const qsizetype decoded = status.size() - Rig::ReplyPrefix.size();
    if (decoded > qsizetype(size) || (size > 0 && decoded == 0))
        std::abort();
    // Valid UTF-8 comes back byte for byte.
    if (!status.contains(QChar::ReplacementCharacter) && status.mid(Rig::ReplyPrefix.size()).toUtf8() != bytes)
        std::abort();
    return 0;
}
