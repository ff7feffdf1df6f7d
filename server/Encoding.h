#pragma once
// Bodies sent compressed: each file is compressed once when the folder is read, and every request
// takes the form its Accept-Encoding allows.
#include <cstdint>
#include <string>
#include <string_view>

namespace zx::server {

enum class TEncoding { Identity, Gzip, Brotli };

// The best encoding the header allows of those the body has (Brotli before gzip); a coding with
// q=0 is refused, "*" stands for any coding not named.
TEncoding PreferredEncoding(std::string_view acceptEncoding, bool haveGzip, bool haveBrotli);
// "gzip", "br"; empty for identity.
const char* EncodingToken(TEncoding e);

// The whole body as one gzip member, or as one Brotli stream. `best`: Brotli's smallest form, at
// many times the time, for files compressed once when they are built rather than at every start.
std::string GzipBody(std::string_view bytes);
std::string BrotliBody(std::string_view bytes, bool best = false);

// A cheap fingerprint of a body (64-bit FNV-1a) as 16 hex digits: names a file's version in its
// entity tag and in the address the game's page asks for it by.
std::string Fingerprint(std::string_view bytes);

}  // namespace zx::server
