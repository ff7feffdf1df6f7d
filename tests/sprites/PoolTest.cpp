#include "sprites/Pool.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace zx {
namespace {

// Writes its number into a shared record when it is destroyed.
struct Leaver {
    Leaver(int n, std::vector<int>& gone) : n_(n), gone_(gone) {}
    ~Leaver() { gone_.push_back(n_); }
    int n_;
    std::vector<int>& gone_;
};

std::vector<int> Places(const TPool<int, 4>& p) { return {p.begin(), p.end()}; }

TEST(Pool, FillsFromPlaceOneAndDropsWhatAFullPoolCannotHold) {
    TPool<int, 4> p;
    EXPECT_EQ(p.Count(), 0);
    for (int v : {10, 20, 30, 40}) EXPECT_TRUE(p.Add(v));
    EXPECT_TRUE(p.Full());
    EXPECT_FALSE(p.Add(50));
    EXPECT_EQ(p.Count(), 4);
    EXPECT_EQ(p[1], 10);
    EXPECT_EQ(p[4], 40);
    EXPECT_EQ(Places(p), (std::vector<int>{10, 20, 30, 40}));
}

TEST(Pool, RemovingClosesTheGapInOrderAndEmptiesTheLastPlace) {
    TPool<int, 4> p;
    for (int v : {10, 20, 30}) p.Add(v);
    EXPECT_EQ(p.Find(20), 2);
    EXPECT_EQ(p.Find(99), 0);
    p.Remove(1);
    EXPECT_EQ(Places(p), (std::vector<int>{20, 30}));
    EXPECT_EQ(p[3], 0);  // the place after the last is empty again
    p.Remove(2);
    EXPECT_EQ(Places(p), (std::vector<int>{20}));
    EXPECT_EQ(p[2], 0);
    EXPECT_EQ(p.Find(0), 0);  // empty places are not searched
}

TEST(Pool, OwnedObjectsLeaveInPlaceOrderWhenCleared) {
    std::vector<int> gone;
    {
        TPool<std::unique_ptr<Leaver>, 5> p;
        for (int n = 1; n <= 3; ++n) p.Add(std::make_unique<Leaver>(n, gone));
        p.Remove(2);
        EXPECT_EQ(gone, (std::vector<int>{2}));
        EXPECT_EQ(p[2]->n_, 3);
        EXPECT_EQ(p[3], nullptr);
        p.Add(std::make_unique<Leaver>(4, gone));
    }
    EXPECT_EQ(gone, (std::vector<int>{2, 1, 3, 4}));
}

}  // namespace
}  // namespace zx
