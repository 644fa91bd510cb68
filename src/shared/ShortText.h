#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <array>
#include <cstdint>

// A text of fixed capacity: one length byte, then up to N bytes in code page 1251.
// A longer value is cut at the capacity without notice, as every working text of
// the terminal is (command line 32, LastCommand 35, queue entry 40, reply line 80...).
template <std::size_t N> class ShortText {
    static_assert(N > 0 && N <= 255, "the length is one byte");

public:
    ShortText() = default;
    explicit ShortText(QByteArrayView bytes) { assign(bytes); }

    void assign(QByteArrayView bytes) {
        m_length = static_cast<std::uint8_t>(std::min<qsizetype>(bytes.size(), N));
        std::copy_n(bytes.data(), m_length, m_bytes.begin());
    }
    // Appends one byte; false (and nothing changes) when the text is already full.
    bool append(char byte) {
        if (m_length == N)
            return false;
        m_bytes[m_length++] = byte;
        return true;
    }
    void clear() { m_length = 0; }

    static constexpr std::size_t capacity() { return N; }
    std::size_t size() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    bool isFull() const { return m_length == N; }
    const char* data() const { return m_bytes.data(); }
    QByteArrayView view() const { return QByteArrayView(m_bytes.data(), m_length); }
    QByteArray bytes() const { return QByteArray(m_bytes.data(), m_length); }

    friend bool operator==(const ShortText& a, const ShortText& b) { return a.view() == b.view(); }

private:
    std::uint8_t m_length = 0;
    std::array<char, N> m_bytes{};
};
