// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes what comes back from the rig-control program: the plain text shown in the status
// line, whole and read in two pieces, and the answers of every paced program taken from a
// stream, its opening included.

#include "protocol.h"
#include "rigprogram.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = Rig::DecodeReply(bytes);
    // Every byte ends up in the text: never more characters than bytes, none dropped to nothing.
    if (text.size() > qsizetype(size) || (size > 0 && text.isEmpty()))
        std::abort();
    // Valid UTF-8 comes back byte for byte.
    if (!text.contains(QChar::ReplacementCharacter) && text.toUtf8() != bytes)
        std::abort();
    // Read in two pieces, the stream decodes as a whole. A sequence cut at the end waits for
    // its last bytes, so both end on an ASCII byte.
    if (size == 0)
        return 0;
    Rig::ReplyDecoder decoder;
    const qsizetype cut = data[0] % (size + 1);
    const QString head = decoder.decode(bytes.left(cut));
    if (head + decoder.decode(bytes.mid(cut) + '.') != Rig::DecodeReply(bytes + '.'))
        std::abort();

    // The same bytes as a stream of one of the paced programs: each answer taken shortens it.
    const Rig::Protocol protocol = Rig::Protocol(1 + data[0] % 3);
    const auto conversation = Rig::newConversation(protocol, QStringLiteral("::1"), 12345);
    if (conversation->opening().isEmpty() && protocol != Rig::Protocol::Flrig)
        std::abort();
    QByteArray stream = bytes.mid(1);
    for (;;) {
        const qsizetype before = stream.size();
        const Rig::Answer answer = conversation->takeAnswer(stream);
        if (std::holds_alternative<Rig::Incomplete>(answer)
            || std::holds_alternative<Rig::Malformed>(answer))
            break;
        if (stream.size() >= before)
            std::abort();
        if (conversation->stepCommand(21'900'000).isEmpty())
            std::abort();
    }
    return 0;
}
