#pragma once
// Every player's best score in an order-statistic tree, so that a rank costs a logarithm of the
// number of players instead of a count over them. The store keeps one for all time and one per
// week it has seen, and rebuilds them from its tables when a commit fails.
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace zx::server {

class TRankIndex {
public:
    // Raises (or sets) a player's best; a lower score changes nothing.
    void Offer(const std::string& player, int64_t score);
    // 1 + the number of other players whose best is above score.
    int64_t RankOf(int64_t score, const std::string& player) const;
    std::optional<int64_t> BestOf(const std::string& player) const;
    std::optional<int64_t> Top() const;
    size_t Size() const { return best_.size(); }
    void Clear();

private:
    using Key = std::pair<int64_t, std::string>;
    using Tree =
        __gnu_pbds::tree<Key, __gnu_pbds::null_type, std::less<Key>, __gnu_pbds::rb_tree_tag,
                         __gnu_pbds::tree_order_statistics_node_update>;
    Tree tree_;
    std::unordered_map<std::string, int64_t> best_;
};

}  // namespace zx::server
