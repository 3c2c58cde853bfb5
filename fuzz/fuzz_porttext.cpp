// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the port-text reader and the checks of host and port made before connecting.

#include "protocol.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<qint32> port = Rig::PortFromText(text);
    const auto problem = Rig::ConnectProblem(QStringLiteral("127.0.0.1"), text, port);
    // Exactly the ports a socket can take are accepted, and a refusal is a short sentence.
    if (problem.has_value() == (port && *port >= 1 && *port <= 65535))
        std::abort();
    if (problem && problem->caption.size() + problem->whole.size() > 160)
        std::abort();
    // The same text as a host: tried exactly when it is a host name or address, and a
    // refusal's caption is short whatever the text.
    const auto hostProblem = Rig::ConnectProblem(text, QStringLiteral("1"), 1);
    if (hostProblem.has_value() == Rig::isHostName(text))
        std::abort();
    if (hostProblem && hostProblem->caption.size() > 60)
        std::abort();
    return 0;
}
