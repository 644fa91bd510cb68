#pragma once

#include "dispatch/Journal.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// Refusals of web requests that took no place cost whoever sends them nothing: recorded one
// by one, they would let anyone on the network push the operator's records out of the
// journal. So they are summed per address and reason. The first is recorded at once, so that
// the operator sees an attack begin; those that follow within PERIOD_MS make one record with
// their count when the period is over, and so on for each further period that has any. A
// period with none ends the sum, and the next refusal is again recorded at once.
// At most MAX_SOURCES addresses and reasons are summed at once; refusals of further
// addresses are summed under no address, one sum for each reason. Safe on any thread.
class RefusalSums {
public:
    static constexpr std::int64_t PERIOD_MS = 60000;
    static constexpr std::size_t MAX_SOURCES = 256;

    struct Sum {
        Refusal why = Refusal::Host;
        QByteArray address; // empty: addresses beyond MAX_SOURCES
        std::uint64_t count = 0;
        std::int64_t first = 0; // the times of the first and the last refusal counted
        std::int64_t last = 0;
    };

    // A refusal at `time` by the clock and `steady` by the steady clock, which times the
    // periods. True when it is to be recorded at once.
    bool count(Refusal why, QByteArrayView address, std::int64_t time, std::int64_t steady);
    // The sums of the periods that have ended by `steady`; every sum when `all`.
    std::vector<Sum> takeDue(std::int64_t steady, bool all);
    // When the next period ends, by the steady clock.
    std::optional<std::int64_t> nextDue() const;
    // The addresses and reasons summed now.
    std::size_t sources() const;

private:
    struct Source {
        std::int64_t periodEnd = 0;
        Sum sum;
    };
    using Key = std::pair<Refusal, QByteArray>;

    mutable std::mutex m_mutex;
    std::map<Key, Source> m_sources;
};
