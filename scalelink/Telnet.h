#pragma once
// Telnet as RFC 2217 device servers speak it: the byte 0xFF (IAC) starts a
// command and is doubled when it is data; options are negotiated with
// WILL / WONT / DO / DONT; the COM-PORT-OPTION (44) carries the line
// settings, the purges and the server's notifications in subnegotiations.
// Used by the network port (client) and by the simulator (server).

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace torvane::scalelink::telnet {

inline constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
inline constexpr uint8_t kOptBinary = 0, kOptEcho = 1, kOptSuppressGoAhead = 3, kOptComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers each with
// the same command + 100 (kServerOffset).
inline constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                         kNotifyLineState = 6, kNotifyModemState = 7, kFlowSuspend = 8, kFlowResume = 9,
                         kSetLineStateMask = 10, kSetModemStateMask = 11, kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;
// Values of SET-PARITY / SET-STOPSIZE / SET-CONTROL / PURGE-DATA.
inline constexpr uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4, kParitySpace = 5;
inline constexpr uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;
inline constexpr uint8_t kFlowNone = 1, kFlowXonXoff = 2, kFlowHardware = 3, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11,
                         kRtsOff = 12;
inline constexpr uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
// NOTIFY-LINESTATE bits.
inline constexpr uint8_t kLineBreak = 0x10, kLineFraming = 0x08, kLineParity = 0x04, kLineOverrun = 0x02;

// One command found in the stream: a negotiation (verb WILL..DONT and its
// option), a subnegotiation (verb SB, its option and its bytes, unescaped),
// or another two-byte command (verb, option 0).
struct Command {
    uint8_t verb = 0;
    uint8_t option = 0;
    QByteArray sub;
};

// Splits a received stream into data and commands; keeps its state between
// calls, so a command cut across two reads is still found.
class Decoder {
public:
    void feed(const uint8_t *bytes, std::size_t count, QByteArray *data, std::vector<Command> *commands);

private:
    enum class State { Data, Iac, Verb, Sub, SubIac } m_state = State::Data;
    uint8_t m_verb = 0;
    Command m_sub;
};

// Data with every IAC doubled.
QByteArray Escape(const uint8_t *bytes, std::size_t count);
// IAC verb option.
QByteArray Negotiation(uint8_t verb, uint8_t option);
// IAC SB 44 command value... IAC SE (the value escaped).
QByteArray ComPort(uint8_t command, const QByteArray &value);
QByteArray ComPort(uint8_t command, uint8_t value);
// The four bytes of a baud rate, most significant first.
QByteArray BaudValue(uint32_t baud);

// The options each side wants on, and the answer to the other side's
// request: agree to what is in `wanted`, refuse the rest.  Keeps what was
// agreed so a request already answered is not answered again (no loops).
class Negotiator {
public:
    // ours: options this side will do (WILL); theirs: options it asks the
    // other side to do (DO).
    Negotiator(std::vector<uint8_t> ours, std::vector<uint8_t> theirs);
    // The opening requests.
    QByteArray opening();
    // The answer to one command (empty when none is due).
    QByteArray answer(const Command &command);
    // What the other side said about an option: 1 agreed, -1 refused, 0 not yet.
    int theyDo(uint8_t option) const { return m_theyDo[option]; }   // its DO / DONT to our WILL
    int theyWill(uint8_t option) const { return m_theyWill[option]; } // its WILL / WONT to our DO

private:
    std::vector<uint8_t> m_ours, m_theirs;
    int8_t m_theyDo[256] = {};
    int8_t m_theyWill[256] = {};
};

} // namespace torvane::scalelink::telnet
