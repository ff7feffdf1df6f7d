#include "server/ReplayQueue.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "server/WholeFile.h"

namespace zx::server {
namespace fs = std::filesystem;
namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr const char* kSuffix = ".replay";

// A code as a file name: its bytes in hexadecimal (a code is at most 100 bytes of anything).
std::string HexOf(const std::string& code) {
    std::string out;
    for (unsigned char c : code) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::optional<std::string> CodeOf(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const char* hi = std::strchr(kHex, hex[i]);
        const char* lo = std::strchr(kHex, hex[i + 1]);
        if (!hi || !lo || !*hi || !*lo) return std::nullopt;
        out += static_cast<char>((hi - kHex) * 16 + (lo - kHex));
    }
    return out;
}

}  // namespace

TReplayQueue::TReplayQueue(TReplayQueueOptions options, TJudge judge)
    : options_(std::move(options)), judge_(std::move(judge)) {
    fs::create_directories(options_.Folder);
    // Oldest first: the order in which they were accepted, as far as the folder knows it.
    std::vector<std::pair<fs::file_time_type, std::string>> found;
    for (const auto& entry : fs::directory_iterator(options_.Folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".tmp")) {
            std::error_code ec;
            fs::remove(entry.path(), ec);  // never taken: its sender had no answer
            continue;
        }
        if (!name.ends_with(kSuffix) || !entry.is_regular_file()) continue;
        const auto code = CodeOf(name.substr(0, name.size() - std::strlen(kSuffix)));
        if (!code) continue;
        std::error_code ec;
        found.emplace_back(fs::last_write_time(entry.path(), ec), *code);
    }
    std::sort(found.begin(), found.end());
    for (auto& [when, code] : found)
        if (known_.insert(code).second) waiting_.push_back(code);
}

TReplayQueue::~TReplayQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_ = true;
    ready_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void TReplayQueue::Start() {
    for (int i = 0; i < std::max(1, options_.Workers); ++i)
        workers_.emplace_back([this] { Work(); });
}

std::string TReplayQueue::PathOf(const std::string& code) const {
    return (fs::path(options_.Folder) / (HexOf(code) + kSuffix)).string();
}

TReplayOffer TReplayQueue::Offer(const std::string& code, const std::string& replay) {
    {
        std::lock_guard lock(mutex_);
        if (known_.count(code)) return TReplayOffer::Known;
        if (known_.size() >= options_.Capacity) return TReplayOffer::Full;
        known_.insert(code);  // held while it is written, so that no second copy is
    }
    try {
        WriteWhole(PathOf(code), replay, 0600);
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            known_.erase(code);
        }
        done_.notify_all();
        throw;
    }
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(code);
    }
    ready_.notify_one();
    return TReplayOffer::Queued;
}

bool TReplayQueue::WaitFor(const std::string& code, std::chrono::milliseconds atMost) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, atMost, [&] { return !known_.count(code); });
}

size_t TReplayQueue::Size() const {
    std::lock_guard lock(mutex_);
    return known_.size();
}

uint64_t TReplayQueue::Played() const {
    std::lock_guard lock(mutex_);
    return played_;
}

void TReplayQueue::Work() {
    for (;;) {
        std::string code;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;  // what waits stays on disk for the next start
            code = std::move(waiting_.front());
            waiting_.pop_front();
        }
        const std::string path = PathOf(code);
        TVerifierRun run;
        for (int attempt = 1;; ++attempt) {
            run = RunVerifier(options_.Verifier, path, options_.Deadline, &stop_);
            if (!GaveNoVerdict(run) || attempt >= options_.Attempts) break;
            if (options_.Log)
                options_.Log("the verifier gave no verdict (" + DescribeEnd(run) +
                             "): the replay is played again");
        }
        bool judged = false;
        if (!run.Stopped) {
            try {
                judge_(code, run);
                judged = true;
            } catch (const std::exception&) {
            }
        }
        // A verdict stored is the end of the replay; one that could not be stored, or a verifier
        // that could not be started, leaves it for the next start.
        if (judged) {
            std::error_code ec;
            fs::remove(path, ec);
        }
        {
            std::lock_guard lock(mutex_);
            known_.erase(code);
            ++played_;
        }
        done_.notify_all();
    }
}

}  // namespace zx::server
