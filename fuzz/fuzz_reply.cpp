// Fuzzes what comes back from the rig-control program: the plain text shown in the status
// line, and the replies of the framed protocols taken from a stream.

#include "protocol.h"
#include "rigprotocols.h"

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
    if (!status.contains(QChar::ReplacementCharacter)
        && status.mid(Rig::ReplyPrefix.size()).toUtf8() != bytes)
        std::abort();

    // The same bytes as a stream of one of the framed protocols: each reply taken shortens it.
    if (size == 0)
        return 0;
    const Rig::Protocol protocol = Rig::Protocol(1 + data[0] % 3);
    QByteArray stream = bytes.mid(1);
    for (;;) {
        const qsizetype before = stream.size();
        const Rig::ReplyParse parse = Rig::takeReply(protocol, stream);
        if (!std::holds_alternative<Rig::Reply>(parse))
            break;
        if (stream.size() >= before)
            std::abort();
    }
    return 0;
}
