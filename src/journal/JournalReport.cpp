#include "journal/JournalReport.h"

#include <algorithm>
#include <cstring>

namespace {

// What a report keeps in the room ahead of its texts' bytes.
struct Header {
    std::int64_t time;
    Journal::Record command;
    JournalReport::Kind kind;
    std::uint8_t what;
    CommandSource source;
    std::uint8_t textLength;
    std::uint8_t addressLength;
};

constexpr std::size_t ALIGNMENT = alignof(Header); // every header begins on its alignment

std::size_t aligned(std::size_t bytes) {
    return (bytes + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
}

std::size_t bytesFor(const Header& header) {
    return aligned(sizeof(Header) + header.textLength + header.addressLength);
}

Header headerAt(const char* at) {
    Header header;
    std::memcpy(&header, at, sizeof header);
    return header;
}

Header headerOf(const JournalReport& report) {
    return {
        report.time,
        report.command,
        report.kind,
        report.what,
        report.source,
        std::uint8_t(std::min<std::size_t>(report.text.size(), JournalReports::TEXT_BYTES)),
        std::uint8_t(std::min<std::size_t>(report.address.size(), JournalReports::ADDRESS_BYTES))};
}

} // namespace

JournalReports::JournalReports(std::size_t roomBytes, bool touched)
    : m_room(new char[aligned(roomBytes)]), m_roomBytes(aligned(roomBytes)) {
    if (touched)
        std::memset(m_room.get(), 0, m_roomBytes);
}

std::size_t JournalReports::bytesOf(const JournalReport& report) {
    return bytesFor(headerOf(report));
}

bool JournalReports::append(const JournalReport& report) {
    const Header header = headerOf(report);
    const std::size_t bytes = bytesFor(header);
    if (bytes > m_roomBytes - m_used)
        return false;
    char* at = m_room.get() + m_used;
    std::memcpy(at, &header, sizeof header);
    // An empty view may have no bytes at all, which memcpy must not be given.
    std::copy_n(report.text.data(), header.textLength, at + sizeof header);
    std::copy_n(report.address.data(), header.addressLength,
                at + sizeof header + header.textLength);
    m_used += bytes;
    ++m_count;
    return true;
}

std::size_t JournalReports::appendAll(const JournalReports& other) {
    if (other.m_used <= m_roomBytes - m_used) { // the usual case: all of it in one copy
        std::memcpy(m_room.get() + m_used, other.m_room.get(), other.m_used);
        m_used += other.m_used;
        m_count += other.m_count;
        return other.m_count;
    }
    std::size_t appended = 0;
    for (const JournalReport& report : other)
        appended += append(report) ? 1 : 0;
    return appended;
}

void JournalReports::swap(JournalReports& other) noexcept {
    std::swap(m_room, other.m_room);
    std::swap(m_roomBytes, other.m_roomBytes);
    std::swap(m_used, other.m_used);
    std::swap(m_count, other.m_count);
}

JournalReport JournalReports::Iterator::operator*() const {
    const Header header = headerAt(m_at);
    const char* text = m_at + sizeof header;
    return {header.kind,
            header.what,
            header.source,
            header.time,
            header.command,
            QByteArrayView(text, header.textLength),
            QByteArrayView(text + header.textLength, header.addressLength)};
}

JournalReports::Iterator& JournalReports::Iterator::operator++() {
    m_at += bytesFor(headerAt(m_at));
    return *this;
}
