#pragma once
// Telling text from other bytes while a file is read as a stream: the bytes
// that never occur in text, and whether the bytes seen so far are UTF-8.
// Both imports read their files this way (the fixed-column text and the
// spreadsheet's CSV).

#include <QtGlobal>

namespace torvane::manager {

// Tab, line ends, form feed and the old end-of-file mark occur in text; the
// other C0 codes (NUL included) do not.
inline bool isControlByte(unsigned char c)
{
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A;
}

// Checks UTF-8 byte by byte across chunk boundaries: shortest forms only, no
// surrogates, nothing beyond U+10FFFF.
class Utf8Check {
public:
    void reset()
    {
        m_valid = true;
        m_multibyte = false;
        m_pending = 0;
        m_codePoints = 0;
    }
    void feed(unsigned char c)
    {
        if (!m_valid)
            return;
        if (m_pending > 0) {
            if (c < m_low || c > m_high) {
                m_valid = false;
                return;
            }
            m_low = 0x80;
            m_high = 0xBF;
            --m_pending;
            return;
        }
        ++m_codePoints;
        if (c < 0x80)
            return;
        m_multibyte = true;
        m_low = 0x80;
        m_high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            m_pending = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            m_pending = 2;
            if (c == 0xE0)
                m_low = 0xA0;
            else if (c == 0xED)
                m_high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            m_pending = 3;
            if (c == 0xF0)
                m_low = 0x90;
            else if (c == 0xF4)
                m_high = 0x8F;
        } else {
            m_valid = false;
        }
    }
    // Every byte so far is UTF-8, and no character is left half-read.
    bool valid() const { return m_valid && m_pending == 0; }
    // Valid UTF-8 that differs from a single-byte reading.
    bool multibyteText() const { return m_valid && m_pending == 0 && m_multibyte; }
    qint64 codePoints() const { return m_codePoints; }

private:
    bool m_valid = true;
    bool m_multibyte = false;
    int m_pending = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
    qint64 m_codePoints = 0;
};

} // namespace torvane::manager
