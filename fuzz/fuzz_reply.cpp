// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes what comes back from the rig-control program: the plain text shown in the status
// line, whole and read in two pieces, and the answers of every program whose answers are
// awaited, taken from a stream after its opening.

#include "protocol.h"
#include "rigprogram.h"

#include <QList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // An ASCII byte at the end ends any cut sequence, so all of it is decoded at once.
    const QString text = Rig::ReplyDecoder().decode(bytes + '.');
    // Every byte ends up in the text: never more characters than bytes, none dropped to nothing.
    if (text.size() > qsizetype(size) + 1 || !text.endsWith(u'.'))
        std::abort();
    // Valid UTF-8 comes back byte for byte.
    if (!text.contains(QChar::ReplacementCharacter) && text.toUtf8() != bytes + '.')
        std::abort();
    // Read in two pieces, the stream decodes as a whole.
    if (size == 0)
        return 0;
    Rig::ReplyDecoder decoder;
    const qsizetype cut = data[0] % (size + 1);
    const QString head = decoder.decode(bytes.left(cut));
    if (head + decoder.decode(bytes.mid(cut) + '.') != text)
        std::abort();

    // The same bytes as a stream of one of the programs whose answers are awaited: each
    // answer taken shortens it.
    QList<const Rig::RigProgram *> awaiting;
    for (const Rig::RigProgram &program : Rig::rigPrograms()) {
        if (program.awaitsAnswers)
            awaiting << &program;
    }
    const auto conversation
        = awaiting[data[0] % awaiting.size()]->newConversation(QStringLiteral("::1"), 12345);
    conversation->opening();
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
