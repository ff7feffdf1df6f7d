#include "server/RankIndex.h"

#include <limits>

namespace zx::server {

void TRankIndex::Offer(const std::string& player, int64_t score) {
    auto it = best_.find(player);
    if (it != best_.end()) {
        if (score <= it->second) return;
        tree_.erase(Key{it->second, player});
        it->second = score;
    } else {
        best_.emplace(player, score);
    }
    tree_.insert(Key{score, player});
}

int64_t TRankIndex::RankOf(int64_t score, const std::string& player) const {
    // Keys below (score + 1, "") are exactly those with a best of score or less.
    const int64_t atOrBelow =
        score == std::numeric_limits<int64_t>::max()
            ? static_cast<int64_t>(tree_.size())
            : static_cast<int64_t>(tree_.order_of_key(Key{score + 1, std::string()}));
    int64_t above = static_cast<int64_t>(tree_.size()) - atOrBelow;
    const auto mine = BestOf(player);
    if (mine && *mine > score) --above;
    return 1 + above;
}

std::optional<int64_t> TRankIndex::BestOf(const std::string& player) const {
    auto it = best_.find(player);
    if (it == best_.end()) return std::nullopt;
    return it->second;
}

std::optional<int64_t> TRankIndex::Top() const {
    if (tree_.empty()) return std::nullopt;
    return tree_.rbegin()->first;
}

void TRankIndex::Clear() {
    tree_.clear();
    best_.clear();
}

}  // namespace zx::server
