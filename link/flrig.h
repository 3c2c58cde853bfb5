// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "rigprogram.h"

#include <QStringList>

namespace Rig {

// An HTTP/1.1 message (request or response) with a Content-Length body.
struct HttpMessage
{
    QByteArray startLine;
    QByteArray body;
    qsizetype contentLength = -1;
};
std::variant<Incomplete, HttpMessage, Malformed> takeHttpMessage(QByteArray &buffer);

// An XML-RPC response: the value inside <params> by its type ("i4", "int", "boolean",
// "double", "string"; an untyped value is a string), or a fault's faultString.
struct XmlRpcValue
{
    QString type;
    QString text;
};
struct XmlRpcFault
{
    QString words;
};
std::variant<XmlRpcValue, XmlRpcFault, Malformed> readXmlRpcResponse(const QByteArray &body);

// The strings of an XML-RPC response whose value is an array of strings (untyped or
// <string>), or nothing for any other response.
std::optional<QStringList> readXmlRpcStrings(const QByteArray &body);

// "host:port" for an HTTP Host header; an IPv6 address goes in brackets.
QByteArray httpHost(const QString &host, quint16 port);

// flrig's XML-RPC over HTTP/1.1, on one connection kept open: rig.set_frequency per step;
// upper sideband by rig.get_modes, then rig.set_mode with the mode upperSidebandMode picks
// (flrig takes a name that is not the radio's without a fault, so the list is asked first).
std::unique_ptr<Conversation> newFlrigConversation(const QString &host, quint16 port);

} // namespace Rig
