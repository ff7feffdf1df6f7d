#include "surface/Resources.h"

#include <turbojpeg.h>

#include <memory>

#include "support/Ansi.h"

extern "C" {
struct ZolvexResourceEntry {
    const char* type;
    const char* name;
    const uint8_t* begin;
    const uint8_t* end;
};
extern const ZolvexResourceEntry zolvex_resource_table[];
extern const uint32_t zolvex_resource_count;
}

namespace zx {

std::optional<ResourceData> FindResource(std::string_view type, std::string_view name) {
    std::string up = UpperCase(name);
    for (uint32_t i = 0; i < zolvex_resource_count; ++i) {
        const auto& e = zolvex_resource_table[i];
        if (type == e.type && up == e.name)
            return ResourceData{e.begin, static_cast<size_t>(e.end - e.begin)};
    }
    return std::nullopt;
}

std::vector<std::string> ResourceNames(std::string_view type) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < zolvex_resource_count; ++i)
        if (type == zolvex_resource_table[i].type)
            names.emplace_back(zolvex_resource_table[i].name);
    return names;
}

namespace {
struct TjCloser {
    void operator()(void* h) const { tjDestroy(h); }
};
using TjHandle = std::unique_ptr<void, TjCloser>;
}  // namespace

std::optional<RgbPicture> DecodeJpeg(const uint8_t* data, size_t size) {
    TjHandle tj(tjInitDecompress());
    if (!tj || size == 0) return std::nullopt;
    int w = 0, h = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(tj.get(), data, static_cast<unsigned long>(size), &w, &h, &sub, &cs) !=
        0)
        return std::nullopt;
    if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return std::nullopt;
    RgbPicture pic;
    pic.width = w;
    pic.height = h;
    pic.rgb.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    if (tjDecompress2(tj.get(), data, static_cast<unsigned long>(size), pic.rgb.data(), w, w * 3, h,
                      TJPF_RGB, TJFLAG_ACCURATEDCT) != 0)
        return std::nullopt;
    return pic;
}

std::vector<uint8_t> EncodeJpeg(const RgbPicture& picture, int quality) {
    TjHandle tj(tjInitCompress());
    if (!tj || picture.width <= 0 || picture.height <= 0) return {};
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (tjCompress2(tj.get(), picture.rgb.data(), picture.width, picture.width * 3, picture.height,
                    TJPF_RGB, &out, &outSize, TJSAMP_444, quality, TJFLAG_ACCURATEDCT) != 0) {
        tjFree(out);
        return {};
    }
    std::vector<uint8_t> bytes(out, out + outSize);
    tjFree(out);
    return bytes;
}

std::optional<RgbPicture> LoadJpegResource(std::string_view name) {
    auto res = FindResource("JPEG", name);
    if (!res) return std::nullopt;
    return DecodeJpeg(res->data, res->size);
}

}  // namespace zx
