#include "outside/quadrel/exe_labels.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace quadrel {
namespace {
constexpr std::size_t kPrintBytes = 32;
}  // namespace

std::uint64_t labelPrint(const std::string& masked, const Layout& l, std::uint64_t address) {
    for (const Region& m : l.mapped) {
        if (address < m.address || address - m.address >= m.size) continue;
        const std::uint64_t from = m.offset + (address - m.address);
        const std::uint64_t n = std::min<std::uint64_t>(kPrintBytes, m.offset + m.size - from);
        if (n < 8) return 0;
        std::uint64_t h = 1469598103934665603ull ^ n;
        for (std::uint64_t i = 0; i < n; ++i) h = (h ^ static_cast<std::uint8_t>(masked[from + i])) * 1099511628211ull;
        return h | 1;
    }
    return 0;
}

// Corresponding: the same fingerprint, unique on both sides and in order with the other such pairs;
// then, between those anchors, the same address once the next or previous anchor's shift is applied.
std::vector<std::uint64_t> alignLabels(const ExeLabels& ref, const std::vector<std::uint64_t>& mine,
                                       const std::vector<std::uint64_t>& prints, std::uint64_t& count) {
    const std::size_t nOld = ref.addresses.size(), nNew = mine.size();
    std::unordered_map<std::uint64_t, std::int64_t> oldByPrint, newByPrint;  // -1: not unique
    for (std::size_t i = 0; i < nOld; ++i) {
        if (ref.prints[i] == 0) continue;
        auto [it, fresh] = oldByPrint.emplace(ref.prints[i], static_cast<std::int64_t>(i));
        if (!fresh) it->second = -1;
    }
    for (std::size_t j = 0; j < nNew; ++j) {
        if (prints[j] == 0) continue;
        auto [it, fresh] = newByPrint.emplace(prints[j], static_cast<std::int64_t>(j));
        if (!fresh) it->second = -1;
    }
    std::vector<std::pair<std::size_t, std::size_t>> pairs;  // (new, old), by new
    for (std::size_t j = 0; j < nNew; ++j) {
        if (prints[j] == 0 || newByPrint[prints[j]] < 0) continue;
        const auto it = oldByPrint.find(prints[j]);
        if (it != oldByPrint.end() && it->second >= 0) pairs.emplace_back(j, static_cast<std::size_t>(it->second));
    }
    // The longest run of pairs increasing on both sides.
    std::vector<std::size_t> tails, prev(pairs.size(), SIZE_MAX);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const auto pos = std::lower_bound(tails.begin(), tails.end(), pairs[k].second,
                                          [&](std::size_t t, std::size_t v) { return pairs[t].second < v; });
        if (pos != tails.begin()) prev[k] = *(pos - 1);
        if (pos == tails.end()) tails.push_back(k);
        else *pos = k;
    }
    std::vector<std::pair<std::size_t, std::size_t>> anchors;
    for (std::size_t k = tails.empty() ? SIZE_MAX : tails.back(); k != SIZE_MAX; k = prev[k]) anchors.push_back(pairs[k]);
    std::reverse(anchors.begin(), anchors.end());

    std::vector<std::uint64_t> index(nNew, UINT64_MAX);
    std::vector<bool> used(nOld, false);
    for (const auto& [j, i] : anchors) {
        index[j] = i;
        used[i] = true;
    }
    std::size_t a = 0;
    for (std::size_t j = 0; j < nNew; ++j) {
        while (a < anchors.size() && anchors[a].first < j) ++a;
        if (index[j] != UINT64_MAX) continue;
        for (std::size_t c : {a, a - 1}) {  // the next anchor, then the one before
            if (c >= anchors.size()) continue;
            const std::uint64_t want = mine[j] + (ref.addresses[anchors[c].second] - mine[anchors[c].first]);
            const auto it = std::lower_bound(ref.addresses.begin(), ref.addresses.end(), want);
            if (it == ref.addresses.end() || *it != want) continue;
            const std::size_t i = static_cast<std::size_t>(it - ref.addresses.begin());
            if (used[i]) continue;
            index[j] = i;
            used[i] = true;
            break;
        }
    }
    count = nOld;
    for (std::size_t j = 0; j < nNew; ++j) {
        if (index[j] == UINT64_MAX) index[j] = count++;
    }
    return index;
}

}  // namespace quadrel
