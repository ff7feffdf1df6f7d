#pragma once
// TPool: a fixed number of places numbered 1..N, of which 1..Count() are in use, in order.
// Every level's manager keeps its game objects in one (T = std::unique_ptr of the object), and
// the sprite list keeps its bobs and its paint order in two. Nothing is allocated after
// construction, and the places beyond Count() always hold an empty T, so that a place one past
// the end may be read (the sprite list's sort uses it as its exchange cell).
#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <utility>

namespace zx {

template <class T, int N>
class TPool {
public:
    static constexpr int Capacity = N;

    TPool() = default;
    // Empties the places in order 1..Count(): the order in which objects leave can matter to
    // whatever they release (a game object takes its bobs out of the sprite list).
    ~TPool() { Clear(); }
    TPool(const TPool&) = delete;
    TPool& operator=(const TPool&) = delete;

    int32_t Count() const { return count_; }
    bool Full() const { return count_ >= N; }

    // Place 1..N; places beyond Count() are empty.
    T& operator[](int place) {
        assert(place >= 1 && place <= N);
        return places_[static_cast<size_t>(place)];
    }
    const T& operator[](int place) const {
        assert(place >= 1 && place <= N);
        return places_[static_cast<size_t>(place)];
    }

    // Puts value in place Count() + 1. A full pool drops it and returns false.
    bool Add(T value) {
        if (Full()) return false;
        places_[static_cast<size_t>(++count_)] = std::move(value);
        return true;
    }

    // The first place 1..Count() holding value; 0 if none does.
    int Find(const T& value) const {
        for (int i = 1; i <= count_; ++i)
            if (places_[static_cast<size_t>(i)] == value) return i;
        return 0;
    }

    // Empties place 1..Count() and moves the places after it down by one, order kept.
    void Remove(int place) {
        assert(place >= 1 && place <= count_);
        auto first = places_.begin() + place;
        std::rotate(first, first + 1, places_.begin() + count_ + 1);
        places_[static_cast<size_t>(count_--)] = T{};
    }

    void Clear() {
        for (int i = 1; i <= count_; ++i) places_[static_cast<size_t>(i)] = T{};
        count_ = 0;
    }

    // The places in use, 1..Count().
    T* begin() { return places_.data() + 1; }
    T* end() { return places_.data() + 1 + count_; }
    const T* begin() const { return places_.data() + 1; }
    const T* end() const { return places_.data() + 1 + count_; }

private:
    std::array<T, N + 1> places_{};  // place 0 unused
    int32_t count_ = 0;
};

}  // namespace zx
