#include "Telnet.h"

#include <algorithm>

namespace torvane::scalelink::telnet {

namespace {
QByteArray bytesOf(std::initializer_list<uint8_t> list)
{
    QByteArray out;
    for (uint8_t b : list)
        out.append(char(b));
    return out;
}
} // namespace

void Decoder::feed(const uint8_t *bytes, std::size_t count, QByteArray *data, std::vector<Command> *commands)
{
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (m_state) {
        case State::Data:
            if (b == IAC)
                m_state = State::Iac;
            else
                data->append(char(b));
            break;
        case State::Iac:
            if (b == IAC) {
                data->append(char(b));
                m_state = State::Data;
            } else if (b == SB) {
                m_sub = Command{SB, 0, {}};
                m_state = State::Verb;
                m_verb = SB;
            } else if (b >= WILL && b <= DONT) {
                m_verb = b;
                m_state = State::Verb;
            } else {
                commands->push_back({b, 0, {}});
                m_state = State::Data;
            }
            break;
        case State::Verb:
            if (m_verb == SB) {
                m_sub.option = b;
                m_state = State::Sub;
            } else {
                commands->push_back({m_verb, b, {}});
                m_state = State::Data;
            }
            break;
        case State::Sub:
            if (b == IAC)
                m_state = State::SubIac;
            else if (m_sub.sub.size() < 256) // a subnegotiation never ends: keep the memory bounded
                m_sub.sub.append(char(b));
            break;
        case State::SubIac:
            if (b == SE) {
                commands->push_back(m_sub);
                m_sub = {};
                m_state = State::Data;
            } else {
                // IAC IAC inside is a data 0xFF; anything else is taken as it is.
                m_sub.sub.append(char(b));
                m_state = State::Sub;
            }
            break;
        }
    }
}

QByteArray Escape(const uint8_t *bytes, std::size_t count)
{
    QByteArray out;
    out.reserve(qsizetype(count + 4));
    for (std::size_t i = 0; i < count; ++i) {
        out.append(char(bytes[i]));
        if (bytes[i] == IAC)
            out.append(char(IAC));
    }
    return out;
}

QByteArray Negotiation(uint8_t verb, uint8_t option)
{
    return bytesOf({IAC, verb, option});
}

QByteArray ComPort(uint8_t command, const QByteArray &value)
{
    QByteArray out = bytesOf({IAC, SB, kOptComPort, command});
    out += Escape(reinterpret_cast<const uint8_t *>(value.constData()), std::size_t(value.size()));
    out += bytesOf({IAC, SE});
    return out;
}

QByteArray ComPort(uint8_t command, uint8_t value)
{
    return ComPort(command, QByteArray(1, char(value)));
}

QByteArray BaudValue(uint32_t baud)
{
    return bytesOf({uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)});
}

Negotiator::Negotiator(std::vector<uint8_t> ours, std::vector<uint8_t> theirs)
    : m_ours(std::move(ours)), m_theirs(std::move(theirs))
{
}

QByteArray Negotiator::opening()
{
    QByteArray out;
    for (uint8_t o : m_ours)
        out += Negotiation(WILL, o);
    for (uint8_t o : m_theirs)
        out += Negotiation(DO, o);
    return out;
}

QByteArray Negotiator::answer(const Command &c)
{
    const auto has = [](const std::vector<uint8_t> &v, uint8_t o) { return std::find(v.begin(), v.end(), o) != v.end(); };
    switch (c.verb) {
    case DO: // the other side asks us to do an option
    case DONT: {
        const int8_t now = c.verb == DO && has(m_ours, c.option) ? 1 : -1;
        const bool changed = m_theyDo[c.option] != now;
        const bool wasAsked = m_theyDo[c.option] == 0 && has(m_ours, c.option);
        m_theyDo[c.option] = now;
        // Our WILL already went out for the options we want: the other side's
        // DO or DONT is its answer and needs none.  Anything else gets ours once.
        if (!changed || wasAsked)
            return {};
        if (c.verb == DONT && !has(m_ours, c.option))
            return {};
        return Negotiation(now == 1 ? WILL : WONT, c.option);
    }
    case WILL:
    case WONT: {
        const int8_t now = c.verb == WILL && has(m_theirs, c.option) ? 1 : -1;
        const bool changed = m_theyWill[c.option] != now;
        const bool wasAsked = m_theyWill[c.option] == 0 && has(m_theirs, c.option);
        m_theyWill[c.option] = now;
        if (!changed || wasAsked)
            return {};
        if (c.verb == WONT && !has(m_theirs, c.option))
            return {};
        return Negotiation(now == 1 ? DO : DONT, c.option);
    }
    default:
        return {};
    }
}

} // namespace torvane::scalelink::telnet
