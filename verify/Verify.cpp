#include "verify/Verify.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "payload/ScoreCode.h"

namespace zx::verify {

std::string ReadAll(int fd, size_t maxBytes) {
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw TRefusal(2, std::string("unreadable: ") + std::strerror(errno));
        }
        if (n == 0) return out;
        if (out.size() + static_cast<size_t>(n) > maxBytes)
            throw TRefusal(2, "too big: more than " + std::to_string(maxBytes) + " bytes");
        out.append(buf, static_cast<size_t>(n));
    }
}

std::string ReplayText(std::string bytes, size_t maxBytes) {
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0x1f ||
        static_cast<unsigned char>(bytes[1]) != 0x8b)
        return bytes;
    z_stream z{};
    // 16 + 15: a gzip header and the largest window.
    if (inflateInit2(&z, 16 + 15) != Z_OK) throw TRefusal(3, "limit: memory");
    z.next_in = reinterpret_cast<Bytef*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    std::string out;
    char buf[65536];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&z);
            if (rc == Z_MEM_ERROR) throw TRefusal(3, "limit: memory");
            throw TRefusal(2, "unreadable: the compressed replay is damaged or cut");
        }
        const size_t got = sizeof buf - z.avail_out;
        if (out.size() + got > maxBytes) {
            inflateEnd(&z);
            throw TRefusal(2, "too big: more than " + std::to_string(maxBytes) + " bytes of text");
        }
        out.append(buf, got);
        if (rc == Z_OK && got == 0 && z.avail_in == 0) {
            inflateEnd(&z);
            throw TRefusal(2, "unreadable: the compressed replay is damaged or cut");
        }
    }
    inflateEnd(&z);
    return out;
}

std::string FormatReached(const TReached& r) {
    auto kinds = [](const char* name, const std::array<int32_t, 7>& a) {
        std::string line = name;
        for (size_t k = 1; k <= 6; ++k) line += ' ' + std::to_string(a[k]);
        return line + '\n';
    };
    TScoreStats st;
    st.Seconds = r.Seconds;
    st.CondomShots = r.CondomShots;
    st.Torpedoes = r.Torpedoes;
    st.Spawned = r.Spawned;
    st.CaughtEarly = r.CaughtEarly;
    st.Caught = r.Caught;
    st.EscapedCount = r.Escaped;
    return "finished " + std::to_string(r.Finished) + "\nwon " + std::to_string(r.Won) +
           "\nscore " + std::to_string(r.Score) + "\nticks " + std::to_string(r.Ticks) +
           "\nseconds " + std::to_string(r.Seconds) + "\ncondom shots " +
           std::to_string(r.CondomShots) + "\ntorpedoes " + std::to_string(r.Torpedoes) + "\n" +
           kinds("spawned", r.Spawned) + kinds("caught early", r.CaughtEarly) +
           kinds("caught", r.Caught) + kinds("escaped", r.Escaped) + "digits " +
           ScoreCodeDigits(st) + "\n";
}

}  // namespace zx::verify
