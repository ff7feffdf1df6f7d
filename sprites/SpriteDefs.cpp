#include "sprites/SpriteDefs.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "sprites/qvDSound.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "surface/BmpCheck.h"

namespace zx {

std::vector<TSurfaceEntry> Surfaces(1);
std::vector<TFrame> Frames(1);
std::vector<SpriteDef> Sprites(1);
int32_t SurfaceCount = 0, FrameCount = 0, SpriteCount = 0;

namespace {

std::vector<std::string> script;

// The part of s from the 1-based position start (the script's column numbers), count
// characters long, clipped to the text.
std::string Copy(const std::string& s, long start, long count) {
    if (start < 1) start = 1;
    if (count <= 0 || start > static_cast<long>(s.size())) return {};
    return s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count));
}

const std::string& Line(int i) {
    static const std::string empty;
    return i >= 0 && i < static_cast<int>(script.size()) ? script[static_cast<size_t>(i)] : empty;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number in the first three characters: leading blanks, then digits up to anything else.
int ReadNumber(const std::string& line) {
    std::string f = line.substr(0, std::min<size_t>(3, line.size()));
    size_t i = 0;
    while (i < f.size() && f[i] == ' ') ++i;
    int v = 0;
    while (i < f.size() && IsDigit(f[i])) v = v * 10 + (f[i++] - '0');
    return v;
}

// Header: trimmed and upper-cased it begins with OBJECT and has its first colon at 9 or later.
bool HeaderName(const std::string& line, std::string& name) {
    std::string t = UpperCase(Trim(line));
    if (t.rfind("OBJECT", 0) != 0) return false;
    size_t colon = t.find(':');
    if (colon == std::string::npos || colon + 1 < 9) return false;
    name = t.substr(7, colon - 7);
    return true;
}

int KindOf(const std::string& header) {
    if (header.find("Movielist") != std::string::npos) return 3;
    if (header.find("Picture") != std::string::npos) return 2;
    if (header.find("CreateAnimation") != std::string::npos) return 1;
    if (header.find("Animation") != std::string::npos) return 0;
    return -1;
}

std::string SheetPath(const std::string& name, const char* suffix) {
    return ProgramDir() + "/gfx/sb/" + name + suffix;
}

int AddFrame(int surfaceNo, bool useMask, int x, int y, int w, int h) {
    if (FrameCount + 1 > MaxFrames) throw Exception("Exception raised in LoadGO: Too many sprites");
    ++FrameCount;
    Frames.push_back(TFrame{surfaceNo, useMask, x, y, w, h});
    return FrameCount;
}

void ParseSounds(const std::string& line, const std::string& name, const std::string& animName,
                 SpriteDef& def, int anim) {
    // The section is read from the upper-cased line: only its digits and punctuation count.
    const std::string up = UpperCase(line);
    const size_t at = up.find("(SOUNDS");
    if (at == std::string::npos) return;
    const std::string section = up.substr(at);
    for (int k = 1; k <= 8; ++k) {
        const std::string tag = " " + std::to_string(k) + ":";
        size_t p = section.find(tag);
        if (p == std::string::npos) continue;
        std::string rest = section.substr(p + 1);
        if (size_t close = rest.find(')'); close != std::string::npos) rest[close] = ' ';
        size_t colon = rest.find(':');
        size_t blank = rest.find(' ', colon);
        // Without a closing bracket or blank the slot runs to the end of the line.
        std::string text = rest.substr(
            colon + 1, blank == std::string::npos ? std::string::npos : blank - colon - 1);
        std::vector<long long> nums;
        for (size_t i = 0; i < text.size();) {
            if (!IsDigit(text[i])) {
                ++i;
                continue;
            }
            long long v = 0;
            while (i < text.size() && IsDigit(text[i])) {
                if (v < 100000000000LL) v = v * 10 + (text[i] - '0');
                ++i;
            }
            nums.push_back(v);
        }
        const size_t triples = nums.size() / 3;
        if (nums.empty()) continue;
        if (triples > static_cast<size_t>(MaxSoundTriples))
            throw Exception("Exception raised in LoadGO: Too many sounds in slot " +
                            std::to_string(k) + " of " + name + " " + animName);
        if (!def.Sounds[static_cast<size_t>(anim)])
            def.Sounds[static_cast<size_t>(anim)] = std::make_unique<AniSoundarray>();
        TSoundSlot& slot = def.Sounds[static_cast<size_t>(anim)]->Slots[static_cast<size_t>(k)];
        slot.FileName =
            ProgramDir() + "/gfx/sb/" + name + "_" + animName + "_" + std::to_string(k) + ".wav";
        slot.Count = static_cast<int32_t>(triples);
        slot.Entries.clear();
        for (size_t i = 0; i < triples; ++i)
            slot.Entries.push_back(TSoundTriple{static_cast<int32_t>(nums[3 * i]),
                                                static_cast<uint8_t>(nums[3 * i + 1]),
                                                static_cast<int32_t>(nums[3 * i + 2])});
    }
}

}  // namespace

std::vector<std::string> SplitScriptLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        std::string l(text.substr(start, end - start));
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(std::move(l));
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return lines;
}

int StrToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    size_t j = i;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
    size_t d = j;
    long long v = 0;
    while (j < text.size() && IsDigit(text[j]) && v <= 0x7FFFFFFFLL) v = v * 10 + (text[j++] - '0');
    if (d == j || j != text.size() || v > 0x7FFFFFFFLL)
        throw Exception("'" + EscapeText(text) + "' is not a valid integer value");
    return static_cast<int>(text[i] == '-' ? -v : v);
}

std::vector<int> ParseFrameList(const std::string& text, int images) {
    std::string a;
    for (char c : text)
        if (IsDigit(c) || c == ',' || c == '-' || c == '.') a += c;
    size_t first = 0;
    while (first < a.size() && !IsDigit(a[first])) ++first;
    a = a.substr(first);
    std::string b;
    for (size_t i = 0; i < a.size(); ++i) {
        const char c = a[i];
        if (b.empty()) {
            b += c;
            continue;
        }
        const char last = b.back();
        if (IsDigit(last) || ((last == ',' || last == '-') && IsDigit(c)) ||
            (last == '.' && (c == ',' || c == '.')))
            b += c;
    }
    while (!b.empty() && !IsDigit(b.back()) && b.back() != '.') b.pop_back();
    if (!b.empty()) b += ',';

    std::vector<int> out;
    auto clampN = [&](long long n) {
        return static_cast<int>(
            std::max<long long>(1, std::min<long long>(n, std::max(images, 1))));
    };
    long long number = 0;
    char remembered = ',';
    for (char c : b) {
        if (IsDigit(c)) {
            if (number < 100000) number = number * 10 + (c - '0');
            continue;
        }
        const int n = clampN(number);
        if (remembered == '-' && !out.empty()) {
            int cur = out.back();
            if (cur == n) out.push_back(n);
            while (cur != n) {
                cur += n > cur ? 1 : -1;
                out.push_back(cur);
                if (out.size() > static_cast<size_t>(MaxMovieWords)) return out;
            }
        } else {
            out.push_back(n);
        }
        if (out.size() > static_cast<size_t>(MaxMovieWords)) return out;
        remembered = c;
        if (c == ',' || c == '-') number = 0;
    }
    return out;
}

int FindKeyword(const std::vector<std::string>& lines, const std::string& keyIn, int start) {
    std::string key = keyIn;
    if (size_t comma = key.find(','); comma != std::string::npos) key = key.substr(0, comma);
    const std::string up = UpperCase(key);
    for (int i = std::max(start, 0); i < static_cast<int>(lines.size()); ++i)
        if (UpperCase(Trim(lines[static_cast<size_t>(i)])).rfind(up, 0) == 0) return i + 1;
    throw Exception("Keyword \"" + key + "\" not found");
}

void LoadSprites(const std::vector<std::string>& lines) {
    script = lines;
    std::string name;
    for (const std::string& l : lines)
        if (HeaderName(l, name)) LoadObject(name);
}

int CreateSheet(const std::string& fileName, int width, int height) {
    if (SurfaceCount + 1 >= MaxSurfaces + 1)
        throw Exception("Exception raised in creatememsurface: Too many surfaces");
    ++SurfaceCount;
    Surfaces.emplace_back();
    TSurfaceEntry& e = Surfaces.back();
    if (!fileName.empty()) {
        if (!LoadPictureToSurface(fileName, e.Surface)) {
            std::string base = fileName.substr(0, fileName.find_last_of('.'));
            throw Exception(base + " not found!");
        }
        e.FileName = fileName;
    } else {
        e.Surface = CreateOffscreenSurface(width, height, platform::DDSCAPS_SYSTEMMEMORY);
    }
    if (e.Surface->SetColorKey(platform::DDCKEY_SRCBLT, 0, 0) != platform::DD_OK)
        throw Exception("SetColorKey failed");
    return SurfaceCount;
}

void LoadMask(const std::string& fileName, int surfaceNo) {
    if (!FileExists(fileName)) return;
    auto bytes = ReadFileBytes(fileName, kPictureFileLimit);
    if (!bytes) return;
    TSurfaceEntry& e = Surfaces[static_cast<size_t>(surfaceNo)];
    e.Mask = DecodeMask(*bytes, e.Surface ? e.Surface->Width() : 0,
                        e.Surface ? e.Surface->Height() : 0, fileName);
}

void ParseAnimations(const std::string& nameIn, int images) {
    if (SpriteCount + 1 > MaxSprites)
        throw Exception("Exception raised in LoadGO: Too many sprite definitions");
    ++SpriteCount;
    Sprites.emplace_back();
    SpriteDef& def = Sprites.back();
    def.Name = UpperCase(nameIn);
    def.FrameBase = static_cast<uint16_t>(FrameCount);
    const int a = FindKeyword(script, "OBJECT " + nameIn, 0);
    const int b = FindKeyword(script, "ANI", a);
    for (int i = b; i < static_cast<int>(script.size()); ++i) {
        const std::string& line = script[static_cast<size_t>(i)];
        if (line.compare(0, 6, "ANIEND") == 0) break;
        const int anim = def.AnimCount;
        if (anim >= MaxAnims)
            throw Exception("Exception raised in LoadGO: Too many animations in " + def.Name);
        const std::string animName = Trim(Copy(line, 1, 9));
        size_t semi = line.find(';');
        if (semi == std::string::npos) semi = line.find('(');
        const std::string list =
            Copy(line, 10, static_cast<long>(semi == std::string::npos ? line.size() : semi) - 9);
        const std::vector<int> frames = ParseFrameList(list, images);
        const long p =
            static_cast<long>(line.find('(') == std::string::npos ? 0 : line.find('(') + 1);
        const int t = StrToInt(Copy(line, p + 1, 3));
        const int t2 = StrToInt(Copy(line, p + 5, 3));
        if (def.MovieList.size() + 3 + frames.size() > static_cast<size_t>(MaxMovieWords))
            throw Exception("Exception raised in LoadGO: Movie list of " + def.Name + " too long");
        def.AnimStart[static_cast<size_t>(anim)] = static_cast<uint16_t>(def.MovieList.size());
        def.MovieList.push_back(static_cast<uint16_t>(frames.size()));
        def.MovieList.push_back(static_cast<uint16_t>(t));
        def.MovieList.push_back(static_cast<uint16_t>(t2));
        for (int f : frames) def.MovieList.push_back(static_cast<uint16_t>(f));
        ++def.AnimCount;
        ParseSounds(line, def.Name, animName, def, anim);
    }
    def.MovieBytes = static_cast<int32_t>(def.MovieList.size() * 2);
}

int LoadObject(const std::string& name) {
    const int a = FindKeyword(script, "OBJECT " + name, 0);
    const int kind = KindOf(Line(a - 1));
    if (kind < 0 || kind == 3) return -1;
    const int width = ReadNumber(Line(a)), height = ReadNumber(Line(a + 1));
    const int images = ReadNumber(Line(a + 2));
    const int columns = ReadNumber(Line(a + 3)), rows = ReadNumber(Line(a + 4));
    int sheet = 0, totalW = 0, totalH = 0;
    auto sizeError = [&](bool across, int64_t total, int frame, int count) {
        return Exception("LoadGO: Maße von " + name + " nicht stimmig: " +
                         (across ? "Gesamtbreite(" : "Gesamthoehe(") + std::to_string(total) +
                         (across ? "),Animationsbreite(" : "),Animationshoehe(") +
                         std::to_string(frame) +
                         (across ? "),hor. Animationsanzahl(" : "),ver. Animationsanzahl(") +
                         std::to_string(count) + ")");
    };
    // A grid without columns or rows cannot divide any sheet; refuse it before making one.
    if (kind != 2 && columns <= 0)
        throw sizeError(true, kind == 1 ? int64_t{width} * columns : 0, 0, columns);
    if (kind != 2 && rows <= 0)
        throw sizeError(false, kind == 1 ? int64_t{height} * rows : 0, 0, rows);
    if (kind == 0 || kind == 2) {
        sheet = CreateSheet(SheetPath(name, ".bmp"), 0, 0);
        LoadMask(SheetPath(name, "_mask.bmp"), sheet);
        totalW = Surfaces[static_cast<size_t>(sheet)].Surface->Width();
        totalH = Surfaces[static_cast<size_t>(sheet)].Surface->Height();
    } else {
        // A sheet made from the script's figures is bounded like one read from a file.
        const int64_t w = int64_t{width} * columns, h = int64_t{height} * rows;
        if (w <= 0 || h <= 0 || w > kBmpMaxSide || h > kBmpMaxSide || w * h > kBmpMaxPixels)
            throw Exception("LoadGO: Maße von " + name + " nicht stimmig: " + std::to_string(w) +
                            "x" + std::to_string(h));
        totalW = static_cast<int>(w), totalH = static_cast<int>(h);
        sheet = CreateSheet("", totalW, totalH);
    }
    if (kind == 2) {
        const int first = FrameCount + 1;
        for (int k = 1; k <= images; ++k) {
            const std::string& l = Line(a + 4 + k);
            AddFrame(sheet, false, StrToInt(Copy(l, 5, 4)), StrToInt(Copy(l, 10, 4)),
                     StrToInt(Copy(l, 15, 4)), StrToInt(Copy(l, 20, 4)));
        }
        return first;
    }
    const int fw = static_cast<int16_t>(totalW / columns);
    if (fw * columns != totalW) throw sizeError(true, totalW, fw, columns);
    const int fh = static_cast<int16_t>(totalH / rows);
    if (fh * rows != totalH) throw sizeError(false, totalH, fh, rows);
    const std::string& arrangement = Line(a + 5);
    const bool byColumn = !arrangement.empty() && (arrangement[0] == 'V' || arrangement[0] == 'v');
    ParseAnimations(name, images);
    const int sprite = SpriteCount;
    for (int k = 0; k < images; ++k) {
        const int col = byColumn ? k / rows : k % columns;
        const int row = byColumn ? k % rows : k / columns;
        AddFrame(sheet, true, col * fw, row * fh, fw, fh);
    }
    return sprite;
}

int FindSprite(const std::string& name) {
    const std::string up = UpperCase(name);
    for (int i = 1; i <= SpriteCount; ++i)
        if (Sprites[static_cast<size_t>(i)].Name == up) return i;
    throw Exception("Animation not found: " + up);
}

int FirstFrame(int sprite) {
    if (sprite < 1 || sprite > SpriteCount) return 0;
    return Sprites[static_cast<size_t>(sprite)].FrameBase + 1;
}

bool AnimTiming(int sprite, int anim, int& n, int& t) {
    if (sprite < 1 || sprite > SpriteCount) return false;
    const SpriteDef& d = Sprites[static_cast<size_t>(sprite)];
    if (anim < 0 || anim >= d.AnimCount) return false;
    const size_t s = d.AnimStart[static_cast<size_t>(anim)];
    n = d.MovieList[s];
    t = d.MovieList[s + 1];
    return true;
}

int AnimCount(int sprite) {
    return sprite < 1 || sprite > SpriteCount ? 0 : Sprites[static_cast<size_t>(sprite)].AnimCount;
}

int FrameOf(int sprite, int anim, int pos) {
    int n = 0, t = 0;
    if (!AnimTiming(sprite, anim, n, t) || pos < 0 || pos >= n) return 0;
    const SpriteDef& d = Sprites[static_cast<size_t>(sprite)];
    return d.FrameBase +
           d.MovieList[d.AnimStart[static_cast<size_t>(anim)] + 3u + static_cast<size_t>(pos)];
}

void StepSounds(int sprite, int anim, int pos) {
    if (sprite < 1 || sprite > SpriteCount || anim < 0 || anim >= MaxAnims) return;
    const auto& sounds = Sprites[static_cast<size_t>(sprite)].Sounds[static_cast<size_t>(anim)];
    if (!sounds) return;
    for (int k = 1; k <= 8; ++k) {
        const TSoundSlot& slot = sounds->Slots[static_cast<size_t>(k)];
        if (slot.FileName.empty() || !slot.Sound) continue;
        for (const TSoundTriple& e : slot.Entries)
            if (e.FramePos == pos) {
                slot.Sound->SetPosition(0);
                slot.Sound->Play();
            }
    }
}

void Stretchblit(DirectDrawSurface* dest, int32_t cx, int32_t cy, int32_t w, int32_t h, int32_t f,
                 int32_t clipLeft, int32_t clipTop, int32_t clipRight, int32_t clipBottom,
                 int keyFlag, uint8_t alpha) {
    if (f < 1 || f > FrameCount) return;
    const TFrame& fr = Frames[static_cast<size_t>(f)];
    const TSurfaceEntry& s = Surfaces[static_cast<size_t>(fr.SurfaceNo)];
    try {
        const uint8_t* map = fr.UseMask && !s.Mask.empty() ? s.Mask.data() : nullptr;
        BlitSprite(s.Surface.get(), map, fr.SrcX, fr.SrcY, fr.SrcW, fr.SrcH, dest, cx - w / 2,
                   cy - h / 2, w, h, keyFlag, alpha, clipLeft, clipTop, clipRight, clipBottom);
    } catch (const Exception& e) {
        WriteLog("Error in Stretchblit: " + e.Message() + " (" + std::to_string(fr.SrcX) + "," +
                 std::to_string(fr.SrcY) + "," + std::to_string(fr.SrcW) + "," +
                 std::to_string(fr.SrcH) + "," + std::to_string(cx) + "," + std::to_string(cy) +
                 "," + std::to_string(w) + "," + std::to_string(h) + ")");
        throw;
    }
}

void DrawFrame(DirectDrawSurface* dest, int32_t x, int32_t y, int32_t f,
               const platform::Rect& clip) {
    if (f < 1 || f > FrameCount) return;
    const TFrame& fr = Frames[static_cast<size_t>(f)];
    const int32_t lowest = DD.ScreenH - 1 - DD.HintStripHeight;
    const int32_t bottom = std::min(clip.bottom, lowest);
    BlitClipped(Surfaces[static_cast<size_t>(fr.SurfaceNo)].Surface.get(), fr.SrcX, fr.SrcY,
                fr.SrcW, fr.SrcH, dest, x, y, 1, clip.left, clip.top, clip.right, bottom);
}

void ReleaseSprites() {
    Surfaces.resize(1);
    Surfaces[0] = {};
    Frames.resize(1);
    SurfaceCount = 0;
    FrameCount = 0;
    while (Sprites.size() > 1) Sprites.pop_back();
    SpriteCount = 0;
}

}  // namespace zx
