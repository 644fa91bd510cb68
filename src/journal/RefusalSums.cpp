#include "journal/RefusalSums.h"

#include "journal/JournalReport.h"

#include <algorithm>

bool RefusalSums::count(Refusal why, QByteArrayView address, std::int64_t time,
                        std::int64_t steady) {
    Key key{why, address.first(std::min<qsizetype>(address.size(), JournalReports::ADDRESS_BYTES))
                     .toByteArray()};
    std::lock_guard lock(m_mutex);
    auto source = m_sources.find(key);
    if (source == m_sources.end() && m_sources.size() >= MAX_SOURCES) {
        key.second.clear();
        source = m_sources.find(key);
    }
    if (source == m_sources.end()) {
        m_sources.emplace(key, Source{steady + PERIOD_MS, Sum{why, key.second, 0, 0, 0}});
        return true;
    }
    Sum& sum = source->second.sum;
    if (sum.count++ == 0)
        sum.first = time;
    sum.last = time;
    return false;
}

std::vector<RefusalSums::Sum> RefusalSums::takeDue(std::int64_t steady, bool all) {
    std::vector<Sum> due;
    std::lock_guard lock(m_mutex);
    for (auto source = m_sources.begin(); source != m_sources.end();) {
        Source& period = source->second;
        if (!all && steady < period.periodEnd) {
            ++source;
            continue;
        }
        if (period.sum.count == 0) { // a quiet period ends the sum
            source = m_sources.erase(source);
            continue;
        }
        due.push_back(period.sum);
        period.sum.count = 0;
        period.periodEnd = steady + PERIOD_MS;
        ++source;
    }
    return due;
}

std::optional<std::int64_t> RefusalSums::nextDue() const {
    std::lock_guard lock(m_mutex);
    if (m_sources.empty())
        return std::nullopt;
    return std::min_element(
               m_sources.begin(), m_sources.end(),
               [](const auto& a, const auto& b) { return a.second.periodEnd < b.second.periodEnd; })
        ->second.periodEnd;
}

std::size_t RefusalSums::sources() const {
    std::lock_guard lock(m_mutex);
    return m_sources.size();
}
