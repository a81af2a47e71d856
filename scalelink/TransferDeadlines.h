#pragma once
// The time-outs of one read or write as points in time.  Every kind of port
// (a serial line, a scale on the network) ends a transfer by the same rules,
// so a download behaves alike whichever way the scale is reached.

#include "Serial.h"
#include "SerialPlatform.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace torvane::scalelink::platform {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>; // none: no limit

inline Deadline earliest(Deadline a, Deadline b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return std::min(*a, *b);
}

// One call's limits: the port's total (a time for each byte asked for plus a
// constant), the caller's own, and for a read the longest gap after a byte.
class TransferDeadlines
{
public:
    enum class Verdict {
        Wait,          // until wakeAt()
        Ended,         // the port's limits: the call returns what it moved
        CallerTimedOut // the caller's limit: the call fails with a time-out
    };

    static TransferDeadlines forRead(const Timeouts &t, uint32_t count, uint32_t callerTimeout)
    {
        TransferDeadlines d(t.readTotalMultiplier, t.readTotalConstant, count, callerTimeout);
        // The interval alone at its largest and no totals: take what is
        // there and return at once.
        d.m_immediate = t.readInterval == 0xFFFFFFFFu && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
        if (t.readInterval != 0 && t.readInterval != 0xFFFFFFFFu)
            d.m_gap = std::chrono::milliseconds(t.readInterval);
        return d;
    }
    static TransferDeadlines forWrite(const Timeouts &t, uint32_t count, uint32_t callerTimeout)
    {
        return TransferDeadlines(t.writeTotalMultiplier, t.writeTotalConstant, count, callerTimeout);
    }

    void byteMoved() { m_lastByte = Clock::now(); }

    // With nothing to move now: whether the call ends, fails or waits.
    Verdict verdict() const
    {
        if (m_immediate)
            return Verdict::Ended;
        const auto now = Clock::now();
        const Deadline gap = afterGap();
        if ((m_total && now >= *m_total) || (gap && now >= *gap))
            return Verdict::Ended;
        return callerPassed() ? Verdict::CallerTimedOut : Verdict::Wait;
    }
    // The first limit to come.
    Deadline wakeAt() const { return earliest(earliest(m_total, afterGap()), m_caller); }
    bool callerPassed() const { return m_caller && Clock::now() >= *m_caller; }

private:
    TransferDeadlines(uint32_t multiplier, uint32_t constant, uint32_t count, uint32_t callerTimeout)
    {
        const auto start = Clock::now();
        if (multiplier != 0 || constant != 0)
            m_total = start + std::chrono::milliseconds(uint64_t(multiplier) * count + constant);
        if (callerTimeout != SerialInfinite)
            m_caller = start + std::chrono::milliseconds(callerTimeout);
    }

    // The end of the gap allowed after the last byte (a read's, once one came).
    Deadline afterGap() const
    {
        if (!m_gap || !m_lastByte)
            return std::nullopt;
        return *m_lastByte + *m_gap;
    }

    Deadline m_total, m_caller, m_lastByte;
    std::optional<std::chrono::milliseconds> m_gap;
    bool m_immediate = false;
};

} // namespace torvane::scalelink::platform
