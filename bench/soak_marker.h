// Generation markers in page bytes ("~R17~", written by ringolan-mkdemo --round 17) and the
// latency percentiles of the soak client.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <string_view>
#include <vector>

namespace ringolan::soak {

// Every distinct round named by a well-formed marker in `body`: "~R", 1 to 9 decimal digits,
// "~". Text such as "~R~", "~R12" at the end or "~Rx~" is no marker.
inline std::set<uint32_t> find_rounds(std::string_view body) {
    std::set<uint32_t> rounds;
    size_t pos = 0;
    while ((pos = body.find("~R", pos)) != std::string_view::npos) {
        size_t i = pos + 2;
        uint64_t value = 0;
        size_t digits = 0;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9' && digits < 10) {
            value = value * 10 + static_cast<uint64_t>(body[i] - '0');
            ++i;
            ++digits;
        }
        if (digits >= 1 && digits <= 9 && i < body.size() && body[i] == '~') {
            rounds.insert(static_cast<uint32_t>(value));
            pos = i + 1;
        } else {
            pos += 2;
        }
    }
    return rounds;
}

// The q-quantile (0 < q <= 1) by the nearest-rank rule: the smallest value with at least
// q * n values at or below it. 0 for no values. Sorts `values`.
inline uint32_t nearest_rank(std::vector<uint32_t>& values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(q * static_cast<double>(values.size()));
    const size_t index = rank < 1 ? 0 : std::min(values.size(), static_cast<size_t>(rank)) - 1;
    return values[index];
}

}  // namespace ringolan::soak
