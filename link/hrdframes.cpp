// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "hrdframes.h"

#include "hrdtext.h"
#include "protocol.h"

#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <optional>

namespace Rig {

QByteArray hrdFrame(const QString &text)
{
    QByteArray frame(HrdHeaderBytes, '\0');
    frame.reserve(HrdHeaderBytes + 2 * (text.size() + 1));
    for (const QChar c : text) {
        frame += char(c.unicode() & 0xff);
        frame += char(c.unicode() >> 8);
    }
    frame.append(2, '\0');
    qToLittleEndian<quint32>(quint32(frame.size()), frame.data());
    qToLittleEndian<quint32>(HrdMagic1, frame.data() + 4);
    qToLittleEndian<quint32>(HrdMagic2, frame.data() + 8);
    return frame;
}

std::variant<Incomplete, QString, Malformed> takeHrdFrame(QByteArray &buffer)
{
    if (buffer.size() < HrdHeaderBytes)
        return Incomplete{};
    const quint32 size = qFromLittleEndian<quint32>(buffer.constData());
    if (qFromLittleEndian<quint32>(buffer.constData() + 4) != HrdMagic1
        || qFromLittleEndian<quint32>(buffer.constData() + 8) != HrdMagic2
        || size < quint32(HrdHeaderBytes) || size > quint32(MaxReplyBytes) || size % 2 != 0)
        return Malformed{};
    if (buffer.size() < qsizetype(size))
        return Incomplete{};
    QString text;
    for (qsizetype i = HrdHeaderBytes; i + 1 < qsizetype(size); i += 2) {
        const char16_t unit = qFromLittleEndian<quint16>(buffer.constData() + i);
        if (unit == 0)
            break;
        text += QChar(unit);
    }
    buffer.remove(0, size);
    return text;
}

std::optional<quint32> hrdRadioId(const QString &radios, const QString &current)
{
    const QString wanted = current.trimmed();
    if (wanted.isEmpty())
        return std::nullopt;
    for (const QString &entry : radios.split(u',')) {
        const qsizetype colon = entry.indexOf(u':');
        if (colon < 0 || entry.mid(colon + 1).trimmed() != wanted)
            continue;
        const QString id = entry.left(colon).trimmed();
        bool digits = !id.isEmpty();
        for (const QChar c : id)
            digits = digits && c >= u'0' && c <= u'9';
        bool ok = false;
        const quint32 number = id.toUInt(&ok);
        if (digits && ok)
            return number;
        return std::nullopt;
    }
    return std::nullopt;
}

namespace {

QString quotedAnswer(const QString &text)
{
    return u'"' + shortened(text, 40) + u'"';
}

class HrdConversation final : public Conversation
{
public:
    QByteArray opening() override
    {
        m_state = State::Context;
        return hrdFrame(QStringLiteral("get context"));
    }

    // Takes the next whole frame's text; otherwise what the buffer gives instead.
    static std::optional<Answer> takeText(QByteArray &buffer, QString &text)
    {
        const auto frame = takeHrdFrame(buffer);
        if (std::holds_alternative<Incomplete>(frame))
            return Incomplete{};
        if (std::holds_alternative<Malformed>(frame))
            return Malformed{};
        text = std::get<QString>(frame);
        return std::nullopt;
    }

    QByteArray stepCommand(qint32 hz) const override
    {
        return command(QString::fromLatin1(setFrequencyText(hz)));
    }

    Answer takeAnswer(QByteArray &buffer) override
    {
        QString text;
        if (const auto early = takeText(buffer, text))
            return *early;
        switch (m_state) {
        case State::Context:
            // Any answer shows that the frames are understood.
            m_state = State::Radios;
            return SetupNext{hrdFrame(QStringLiteral("get radios"))};
        case State::Radios:
            m_radios = text;
            m_state = State::Radio;
            return SetupNext{hrdFrame(QStringLiteral("get radio"))};
        case State::Radio:
            if (const auto id = hrdRadioId(m_radios, text)) {
                m_radioId = *id;
                m_state = State::Ready;
                return SetupNext{};
            }
            return Unusable{QStringLiteral("HamRadioDeluxe names no radio to tune."),
                            QStringLiteral("HamRadioDeluxe names no radio to tune: it answered %1 "
                                           "to \"get radio\" and %2 to \"get radios\".")
                                .arg(quotedAnswer(text), quotedAnswer(m_radios))};
        case State::Ready:
            break;
        }
        if (isOk(text))
            return Reply{true, text, {}};
        return Reply{false, QStringLiteral("HamRadioDeluxe did not tune: ") + text, {}};
    }

    QByteArray sidebandCommand() override
    {
        m_sideband = Sideband::Dropdowns;
        return command(QStringLiteral("get dropdowns"));
    }

    // The radio's mode control among its dropdowns, the place of USB in its list, then the
    // choice: "set dropdown Mode USB 1" (blanks in names written as "~").
    Answer takeSidebandAnswer(QByteArray &buffer) override
    {
        QString text;
        if (const auto early = takeText(buffer, text))
            return *early;
        const QStringList items = text.split(u',', Qt::SkipEmptyParts);
        switch (m_sideband) {
        case Sideband::Dropdowns: {
            const auto mode = std::find_if(items.begin(), items.end(), [](const QString &name) {
                return name.trimmed().compare(u"Mode", Qt::CaseInsensitive) == 0;
            });
            const auto anyMode = std::find_if(items.begin(), items.end(), [](const QString &name) {
                return name.contains(u"Mode", Qt::CaseInsensitive);
            });
            if (anyMode == items.end())
                return Reply{false,
                             SidebandRefusedPrefix + QStringLiteral("no mode control"),
                             SidebandRefusedPrefix
                                 + QStringLiteral("HamRadioDeluxe names no mode control among %1")
                                       .arg(quotedAnswer(text))};
            m_dropdown = (mode != items.end() ? *mode : *anyMode).trimmed();
            m_sideband = Sideband::List;
            return SetupNext{command(QStringLiteral("get dropdown-list {%1}").arg(m_dropdown))};
        }
        case Sideband::List: {
            QStringList modes;
            for (const QString &item : items)
                modes << item.trimmed();
            const std::optional<QString> usb = upperSidebandMode(modes);
            if (!usb)
                return Reply{false,
                             SidebandRefusedPrefix + QStringLiteral("no USB mode"),
                             SidebandRefusedPrefix
                                 + QStringLiteral("HamRadioDeluxe lists no USB mode: %1")
                                       .arg(quotedAnswer(text))};
            m_sideband = Sideband::Set;
            const auto tilde = [](QString name) {
                return name.replace(u' ', u'~');
            };
            return SetupNext{command(QStringLiteral("set dropdown %1 %2 %3")
                                         .arg(tilde(m_dropdown), tilde(*usb))
                                         .arg(modes.indexOf(*usb)))};
        }
        case Sideband::Set:
            break;
        }
        if (isOk(text))
            return Reply{true, text, {}};
        return Reply{false, SidebandRefusedPrefix + text, {}};
    }

private:
    static bool isOk(const QString &text)
    {
        return text.trimmed().compare(QLatin1StringView("OK"), Qt::CaseInsensitive) == 0;
    }

    // A command to the current radio, in a frame.
    QByteArray command(const QString &text) const
    {
        return hrdFrame(QStringLiteral("[%1] ").arg(m_radioId) + text);
    }

    enum class Sideband { Dropdowns, List, Set };
    Sideband m_sideband = Sideband::Dropdowns;
    QString m_dropdown;
    enum class State { Context, Radios, Radio, Ready };
    State m_state = State::Context;
    QString m_radios;
    quint32 m_radioId = 0;
};

} // namespace

std::unique_ptr<Conversation> newHrdConversation()
{
    return std::make_unique<HrdConversation>();
}

} // namespace Rig
