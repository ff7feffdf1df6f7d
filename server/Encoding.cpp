#include "server/Encoding.h"

#include <brotli/encode.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace zx::server {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool SameToken(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

}  // namespace

TEncoding PreferredEncoding(std::string_view header, bool haveGzip, bool haveBrotli) {
    // -1: not named; otherwise the weight given, 0 refusing.
    double gzip = -1, br = -1, any = -1;
    while (!header.empty()) {
        const size_t comma = header.find(',');
        std::string_view item = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        double q = 1;
        const size_t semi = item.find(';');
        if (semi != std::string_view::npos) {
            std::string_view param = Trim(item.substr(semi + 1));
            if (param.size() > 2 && (param[0] | 0x20) == 'q' && param[1] == '=') {
                const std::string value(param.substr(2));
                char* end = nullptr;
                q = std::strtod(value.c_str(), &end);
                if (end == value.c_str()) q = 0;
            }
            item = item.substr(0, semi);
        }
        item = Trim(item);
        if (SameToken(item, "gzip") || SameToken(item, "x-gzip"))
            gzip = q;
        else if (SameToken(item, "br"))
            br = q;
        else if (item == "*")
            any = q;
    }
    if (gzip < 0) gzip = any;
    if (br < 0) br = any;
    if (haveBrotli && br > 0 && br >= gzip) return TEncoding::Brotli;
    if (haveGzip && gzip > 0) return TEncoding::Gzip;
    if (haveBrotli && br > 0) return TEncoding::Brotli;
    return TEncoding::Identity;
}

const char* EncodingToken(TEncoding e) {
    switch (e) {
        case TEncoding::Gzip: return "gzip";
        case TEncoding::Brotli: return "br";
        case TEncoding::Identity: break;
    }
    return "";
}

std::string GzipBody(std::string_view bytes) {
    z_stream z{};
    // 15 + 16: a gzip header and trailer around the deflate stream.
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("gzip: cannot start");
    std::string out(deflateBound(&z, bytes.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("gzip: cannot compress");
    return out;
}

std::string BrotliBody(std::string_view bytes, bool best) {
    size_t size = BrotliEncoderMaxCompressedSize(bytes.size());
    if (size == 0) size = bytes.size() + 1024;
    std::string out(size, '\0');
    // Quality 9: near the best for text and the game's data, at a small part of quality 11's time
    // for a file of megabytes, which every start and reload compresses. The best form also takes
    // the largest window every browser reads (16 MB), so a repeat far back in the game's packed
    // files still counts.
    const int quality = best ? BROTLI_MAX_QUALITY : 9;
    const int window = best ? BROTLI_MAX_WINDOW_BITS : BROTLI_DEFAULT_WINDOW;
    if (!BrotliEncoderCompress(quality, window, BROTLI_MODE_GENERIC, bytes.size(),
                               reinterpret_cast<const uint8_t*>(bytes.data()), &size,
                               reinterpret_cast<uint8_t*>(out.data())))
        throw std::runtime_error("brotli: cannot compress");
    out.resize(size);
    return out;
}

std::string Fingerprint(std::string_view bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace zx::server
