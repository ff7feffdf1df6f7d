#pragma once
// The program's own resources (sprite sheets, pictures, the sprite script), compiled into the
// executable and looked up by type and name in capitals.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zx {

struct ResourceData {
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::string_view Text() const { return {reinterpret_cast<const char*>(data), size}; }
};

// type: "BITMAP", "JPEG" or "TEXT"; name is compared in capitals.
std::optional<ResourceData> FindResource(std::string_view type, std::string_view name);
std::vector<std::string> ResourceNames(std::string_view type);

// A decoded picture, 8-bit RGB triples, rows top first, no padding.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

std::optional<RgbPicture> DecodeJpeg(const uint8_t* data, size_t size);
// Encodes RGB triples as JPEG of the given quality; empty on failure.
std::vector<uint8_t> EncodeJpeg(const RgbPicture& picture, int quality);
// The JPEG resource of that name, decoded ("BACK", "INFO", "MENUE", "MENUE_NET").
std::optional<RgbPicture> LoadJpegResource(std::string_view name);

}  // namespace zx
