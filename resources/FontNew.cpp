#include "resources/FontNew.h"

#include "core/debug/Log.h"
#include "core/filesystem/DiskFile.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/FolderTree.h"
#include "core/filesystem/SettingsFile.h"
#include "core/io/ByteOrder.h"
#include "core/io/OutputStream.h"
#include "core/object/ClassInfo.h"
#include "core/string/Text.h"
#include "device/ImageTexture.h"
#include "device/RenderDevice.h"
#include "resources/GlyphFont.h"
#include "resources/ResourceRegistry.h"
#include "resources/Texture.h"

#include <cerrno>
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>

namespace quarn {

ClassInfo* FontNew::classInfo = nullptr;

namespace {

constexpr const char* StyleSuffixes[8] = {"", "b", "i", "bi", "B", "bB", "iB", "biB"};
// The device's glyph format: ARGB texels, coverage in alpha.
constexpr PixelFormat GlyphFormat = PixelFormat::A4R4G4B4;
constexpr int32_t LargestTexture = 2048;
// Margins beyond this make no sense for glyphs and would only size huge cell bitmaps.
constexpr int32_t MaxMargin = 255;
constexpr int32_t ScreenDpi = 96;

FontNew* gDefaultFont = nullptr;

// "" or "_" + the language code of the main settings.
std::string LanguageSuffix() {
    const char* code = GetMainSettings().GetString("lang_code");
    return *code ? std::string("_") + code : std::string();
}

// Space to '~' with the Danish and Norwegian letters placed after 'Z' and 'z', and the degree
// sign, as UTF-8.
} // namespace

std::string GetDefaultCharacterSet() {
    std::string text;
    for (char c = 0x20; c <= 0x5A; ++c) {
        text += c;
    }
    text += "\xC3\x86\xC3\x98\xC3\x85"; // Æ Ø Å
    for (char c = 0x5B; c <= 0x7A; ++c) {
        text += c;
    }
    text += "\xC3\xA6\xC3\xB8\xC3\xA5"; // æ ø å
    for (char c = 0x7B; c <= 0x7E; ++c) {
        text += c;
    }
    text += "\xC2\xB0"; // °
    return text;
}

namespace {

// a * b / c rounded half away from zero, in 64 bits.
int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    const int64_t product = int64_t{a} * b;
    const int64_t half = c / 2;
    return static_cast<int32_t>((product >= 0 ? product + half : product - half) / c);
}

bool IsEmbeddedPath(const char* path) {
    return std::strlen(path) >= 6 && CompareNoCase(std::string(path, 6).c_str(), "res://") == 0;
}

float ReadFloat(const uint8_t* at) {
    return std::bit_cast<float>(ReadLittleEndian32(at));
}

void PutWord(std::vector<uint8_t>& out, uint32_t word) {
    out.resize(out.size() + 4);
    WriteLittleEndian32(&out[out.size() - 4], word);
}

void PutRect(std::vector<uint8_t>& out, const GlyphRect& rect) {
    for (float value : {rect.left, rect.top, rect.right, rect.bottom}) {
        PutWord(out, std::bit_cast<uint32_t>(value));
    }
}

// A rectangle from a cache table: four floats within the texture.
bool ReadRect(const uint8_t* at, GlyphRect& rect) {
    rect = {ReadFloat(at), ReadFloat(at + 4), ReadFloat(at + 8), ReadFloat(at + 12)};
    for (float value : {rect.left, rect.top, rect.right, rect.bottom}) {
        if (!(value >= 0.0f && value <= 1.0f)) {
            return false;
        }
    }
    return true;
}

// Registers the font file at `entry`, opened as every game file is: without waiting on it, and
// only a regular file. `path` names it in the log; `face` is the font's for a file a font names,
// empty for one found in a font folder, whose files that are no fonts pass quietly.
void AddFontFile(const DiskFile& entry, const std::string& path, const std::string& face) {
    const std::string fallback =
        face.empty() ? "" : "; the fallback font for '" + face + "' is used instead";
    DiskFile file;
    if (!file.Open(entry.GetPlace(), 0)) {
        LogMessage("Font file '%s' is left out: %s%s", path.c_str(), LastFileFailure(),
                   fallback.c_str());
        return;
    }
    switch (AddPrivateFontFile(file.GetDescriptor())) {
    case PrivateFont::Added:
        return;
    case PrivateFont::TooMany:
        LogMessage("Font file '%s' is left out: a run takes fonts from at most %d files%s",
                   path.c_str(), MaxPrivateFontFiles, fallback.c_str());
        return;
    case PrivateFont::NotAFont:
        if (!face.empty()) {
            LogMessage("Font file '%s' cannot be read%s", path.c_str(), fallback.c_str());
        }
        return;
    }
}

// Registers the font files a font's path names: the file, or every file in the folder and the
// folders below it (the walk the script search path takes). A face is then matched by its name
// among the system's fonts and these, which always finds one.
void AddGameFonts(const char* path, const std::string& face) {
    FileSystem* files = GetFileSystem();
    PathString native;
    if (!files || IsEmbeddedPath(path) || !files->GetNativePath(native, path)) {
        return;
    }
    std::unique_ptr<File> place = files->OpenNativeFile(native.Text());
    auto* disk = dynamic_cast<DiskFile*>(place.get());
    struct stat info {};
    if (!disk || !disk->Stat(info)) {
        // A missing file is a face's name, as is a path under no root of the game's; an
        // archive's entry the library cannot open; what leads out of the game's folder or into
        // a loop of links is said so.
        const int error = errno;
        if (disk && !disk->GetPlace().IsNowhere() && error != ENOENT && error != ENOTDIR) {
            NoteFileFailure(error);
            LogMessage("Font file '%s' is left out: %s; the fallback font for '%s' is used instead",
                       path, LastFileFailure(), face.c_str());
        } else if (files->Exists(path)) {
            LogMessage("Font file '%s' cannot be read; the fallback font for '%s' is used instead",
                       path, face.c_str());
        }
        return;
    }
    if (!disk->IsDirectory()) {
        AddFontFile(*disk, path, face);
        return;
    }
    std::string folder = path;
    folder += folder.ends_with('/') ? "" : "/";
    WalkFolderTree(folder, *disk,
                   {.file = [](const std::string& at,
                               DiskFile& entry) { AddFontFile(entry, at, std::string()); },
                    .again = [](const std::string& at) {
                        LogMessage("Font folder '%s' is left out: a link leads back to a folder "
                                   "walked already",
                                   at.c_str());
                    }});
}

// The logical font of a face at the font's size and style; the language rules pick the face and
// width of the font used for codes from 256 up.
std::unique_ptr<GlyphFont> MakeGlyphFont(const std::string& face, int32_t pointSize, uint32_t style,
                                         float scale, bool languageRules,
                                         const std::string& suffix) {
    GlyphFontRequest request;
    request.face = face;
    request.height = -MulDiv(pointSize, static_cast<int32_t>(ScreenDpi * scale), 72);
    static constexpr int32_t Weights[4] = {400, 700, 800, 900};
    request.weight = Weights[(style & FontBold ? 1 : 0) + (style & FontHeavy ? 2 : 0)];
    request.italic = (style & FontItalic) != 0;
    request.underline = (style & FontUnderline) != 0;
    request.strikeOut = (style & FontStrikeOut) != 0;
    if (languageRules && suffix.find("jp") != std::string::npos) {
        // Half the em plus two: narrow enough for the full-width forms to look square.
        request.width = std::abs(request.height) / 2 + 2;
    }
    if (languageRules && suffix.find("cn") != std::string::npos) {
        request.face = "simhei";
    }
    return GlyphFont::Create(request);
}

} // namespace

std::string GetFontFaceName(const char* path) {
    return GetPathName(path);
}

FontNew::FontNew(const char* path, const char* options) : Resource(path, options) {
    const char* text = options && *options ? options + 1 : "";
    std::from_chars(text, text + std::strlen(text), pointSize_);
    uint32_t style = 0;
    if (options && std::strchr(options, 'b')) {
        style |= FontBold;
    }
    if (options && std::strchr(options, 'i')) {
        style |= FontItalic;
    }
    if (options && std::strchr(options, 'B')) {
        style |= FontHeavy;
    }
    LoadCharacterSet(GetFullPath(), pointSize_, style);
}

FontNew::FontNew(const char* path, int32_t size, uint32_t style)
    : Resource(path, FormatTemp("_%d%s", size, style < 8 ? StyleSuffixes[style] : "")) {
    LoadCharacterSet(GetFullPath(), size, style);
}

FontNew::~FontNew() = default;

std::vector<std::string> FontNew::GetLoadableExtensions() {
    return {"ttf", "ttc", "otf", "otc"};
}

bool FontNew::Load() {
    DropDeviceData();
    return LoadCharacterSet(GetFullPath(), pointSize_, style_);
}

void FontNew::DropDeviceData() {
    glyphTexture_.reset();
}

uint32_t FontNew::GetDataSize() const {
    const auto glyphs = static_cast<uint32_t>(16 * (256 + extraGlyphs_.size()));
    return glyphs + (glyphTexture_ ? glyphTexture_->GetMemorySize() : 0);
}

std::string ReadCharacterSet(uint64_t& stamp) {
    PathString name("char_set");
    name.Append(LanguageSuffix().c_str());
    name.Append(".txt");
    stamp = 0;
    FileSystem* files = GetFileSystem();
    std::unique_ptr<File> file = files ? files->Open(name.Text(), 0) : nullptr;
    if (!file) {
        return {};
    }
    stamp = files->GetFileTime(name.Text());
    const std::vector<uint8_t> bytes = file->ReadRemaining();
    // The text ends at its first zero byte, as every text the engine hands around.
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return std::string(bytes.begin(), end);
}

bool FontNew::LoadCharacterSet(const char* path, int32_t size, uint32_t style) {
    pointSize_ = size;
    style_ = style;
    uint64_t stamp = 0;
    const std::string text = ReadCharacterSet(stamp);
    return BuildGlyphsUtf8(path, text.empty() ? nullptr : text.c_str(), 0, stamp, false);
}

bool FontNew::BuildGlyphsUtf8(const char* path, const char* text, int32_t margin, uint64_t stamp,
                              bool add) {
    const std::string characters = text ? std::string(text) : GetDefaultCharacterSet();
    if (characters.empty()) {
        return false;
    }
    return BuildGlyphs(path, DecodeUtf8(characters).codes, margin, stamp, add);
}

bool FontNew::BuildGlyphs(const char* path, const std::vector<uint32_t>& characters, int32_t margin,
                          uint64_t stamp, bool add) {
    if (!glyphTexture_) {
        add = false;
    }
    if (!add) {
        // The font's path without its extension (a dot in a folder name is kept).
        std::string base(path, FindExtension(path));
        base += GetOptions() + LanguageSuffix();
        const PathString texturePath(PathString(base.c_str()) + ".png");
        const PathString tablePath(PathString(base.c_str()) + ".dat");
        FileSystem* files = GetFileSystem();
        if (files && files->Exists(texturePath.Text()) &&
            (files->GetFileTime(texturePath.Text()) > stamp || !files->Exists(path)) &&
            LoadGlyphCache(texturePath.Text(), tablePath.Text())) {
            return true;
        }
    }
    return RasterizeGlyphs(path, characters, margin, add);
}

bool FontNew::LoadGlyphCache(const char* texturePath, const char* tablePath) {
    FileSystem* files = GetFileSystem();
    std::unique_ptr<File> table = files ? files->Open(tablePath, 0) : nullptr;
    if (!table) {
        return false;
    }
    // Loading a cache image is a texture load: the class comes first, in every run alike.
    Texture::RegisterClass();
    std::string error;
    std::unique_ptr<DeviceTexture> texture =
        LoadImageTexture(texturePath, GlyphFormat, TextureKind::Texture2D, 0, error);
    if (!texture) {
        return false;
    }
    const std::vector<uint8_t> bytes = table->ReadRemaining();
    auto damaged = [&](const char* why) {
        LogMessage("Glyph cache '%s' %s; the font is rasterised instead", tablePath, why);
        return false;
    };
    if (bytes.size() < CacheHeaderSize) {
        return damaged("is shorter than its header");
    }
    const uint32_t count = ReadLittleEndian32(&bytes[4108]);
    if (count > (bytes.size() - CacheHeaderSize) / CacheRecordSize) {
        return damaged("counts more glyphs than it holds");
    }
    GlyphRect glyphs[256];
    for (uint32_t code = 0; code < 256; ++code) {
        if (!ReadRect(&bytes[16 * code], glyphs[code])) {
            return damaged("holds a rectangle outside the texture");
        }
    }
    const auto lineHeight = static_cast<int32_t>(ReadLittleEndian32(&bytes[4096]));
    const auto ascent = static_cast<int32_t>(ReadLittleEndian32(&bytes[4100]));
    const auto descent = static_cast<int32_t>(ReadLittleEndian32(&bytes[4104]));
    if (lineHeight < 0 || lineHeight > LargestTexture || ascent < 0 || descent < 0) {
        return damaged("holds impossible line metrics");
    }
    const auto width = static_cast<float>(texture->GetSize().x);
    const auto height = static_cast<float>(texture->GetSize().y);
    // The cursor goes past the lowest, rightmost rectangle, extra glyphs first.
    float cx = 0.0f;
    float cy = 0.0f;
    auto visit = [&](const GlyphRect& rect) {
        if (rect.bottom > cy && (rect.top > cy || rect.right > cx)) {
            cx = rect.right + 2.0f / width;
            cy = rect.top;
        }
    };
    std::map<uint32_t, GlyphRect> extra;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = &bytes[CacheHeaderSize + CacheRecordSize * i];
        GlyphRect rect;
        if (!ReadRect(record + 4, rect)) {
            return damaged("holds a rectangle outside the texture");
        }
        extra[ReadLittleEndian32(record)] = rect;
        visit(rect);
    }
    for (const GlyphRect& rect : glyphs) {
        visit(rect);
    }
    std::copy(std::begin(glyphs), std::end(glyphs), std::begin(byteGlyphs_));
    extraGlyphs_ = std::move(extra);
    lineHeight_ = lineHeight;
    ascent_ = ascent;
    descent_ = descent;
    texelSize_ = {1.0f / width, 1.0f / height};
    cursor_ = {static_cast<int32_t>(cx * width + 0.5f), static_cast<int32_t>(cy * height + 0.5f)};
    glyphTexture_ = std::move(texture);
    fromCache_ = true;
    return true;
}

bool FontNew::RasterizeGlyphs(const char* path, const std::vector<uint32_t>& characters,
                              int32_t margin, bool add) {
    if (!glyphTexture_) {
        add = false;
    }
    if (margin < 0 || margin > MaxMargin) {
        return false;
    }
    if (!add) {
        lineHeight_ = ascent_ = descent_ = 0;
        scale_ = 1.0f;
    } else if (cursor_.y >= FullTexture) {
        return false;
    }
    const std::string suffix = LanguageSuffix();
    const std::string face = GetFontFaceName(path);
    AddGameFonts(path, face);
    std::unique_ptr<GlyphFont> primary =
        MakeGlyphFont(face, pointSize_, style_, scale_, false, suffix);
    if (!primary) {
        return false;
    }
    if (!add) {
        lineHeight_ = primary->GetHeight();
        ascent_ = primary->GetAscent();
        descent_ = primary->GetDescent();
    }

    std::vector<uint32_t> list;
    std::set<uint32_t> seen;
    for (uint32_t c : characters) {
        if (c != '\n' && c != '\r' && c != '\t' && seen.insert(c).second) {
            list.push_back(c);
        }
    }
    const bool widened = (style_ & FontWidened) != 0;
    const int64_t cellHeight = int64_t{lineHeight_} + 2 + 2 * margin;
    std::vector<int32_t> widths;
    int64_t area = 0;
    int64_t largest = 0;
    for (uint32_t c : list) {
        widths.push_back(primary->GetAdvance(c));
        const int64_t cellWidth = int64_t{widths.back()} + 2 + 2 * margin;
        area += cellWidth * cellHeight;
        largest = std::max(largest, cellWidth);
    }

    int64_t textureWidth = 0;
    int64_t textureHeight = 0;
    std::unique_ptr<DeviceTexture> made;
    DeviceTexture* texture = glyphTexture_.get();
    if (add) {
        textureWidth = texture->GetSize().x;
        textureHeight = texture->GetSize().y;
    } else {
        textureWidth = 128;
        while (area > textureWidth * textureWidth && textureWidth < LargestTexture) {
            textureWidth *= 2;
        }
        int64_t x = 1;
        textureHeight = 1;
        for (int32_t width : widths) {
            const int64_t w = int64_t{width} + (widened ? 2 * margin : 0);
            if (x + w + 1 > textureWidth && x > 1) {
                textureHeight += cellHeight;
                x = 1;
            }
            x += w + 2;
        }
        if (x > 1) {
            textureHeight += cellHeight;
        }
        if (CompareNoCase(suffix.c_str(), "_cn") == 0 && largest > 0) {
            textureHeight += 100 / std::max<int64_t>(textureWidth / largest, 10) * cellHeight;
        }
        textureHeight = std::bit_ceil(static_cast<uint64_t>(textureHeight));
        RenderDevice* device = TheRenderDevice();
        const int32_t maxSize = device ? device->GetMaxTextureSize() : 0;
        if (maxSize > 0 && maxSize < textureWidth) {
            scale_ = static_cast<float>(maxSize) / static_cast<float>(textureWidth);
            textureWidth = maxSize;
        }
        made = device ? device->CreateTexture() : nullptr;
        if (!made || textureHeight > INT32_MAX ||
            !made->Create(static_cast<int32_t>(textureWidth), static_cast<int32_t>(textureHeight),
                          GlyphFormat, TextureKind::Texture2D, 0, 1)) {
            return false;
        }
        texture = made.get();
    }
    if (!texture->Lock(TextureLockWrite, 0)) {
        return false;
    }
    int64_t x = cursor_.x;
    int64_t y = cursor_.y;
    if (!add) {
        extraGlyphs_.clear();
        std::fill(std::begin(byteGlyphs_), std::end(byteGlyphs_), GlyphRect{});
        x = y = 1;
        glyphTexture_ = std::move(made);
        fromCache_ = false;
    }

    // The cell bitmap each glyph is drawn into; a wider glyph of the secondary font gets a
    // bigger one, so no glyph is read outside it.
    const int64_t cellBitmapWidth = largest + margin;
    const int64_t cellBitmapHeight = cellHeight + margin;
    std::vector<uint8_t> cell;
    std::unique_ptr<GlyphFont> secondary;
    bool secondaryTried = false;
    bool full = false;
    const auto width = static_cast<float>(textureWidth);
    const auto height = static_cast<float>(textureHeight);
    for (uint32_t c : list) {
        if (c == 0xFEFF) {
            continue;
        }
        GlyphFont* font = primary.get();
        if (c >= 256) {
            if (!secondaryTried) {
                secondary = MakeGlyphFont(face, pointSize_, style_, scale_, true, suffix);
                secondaryTried = true;
            }
            font = secondary ? secondary.get() : primary.get();
        }
        int64_t cx = font->GetAdvance(c) + (widened ? 2 * margin : 0);
        int64_t cy = font->GetHeight() + (widened ? 2 * margin : 0);
        // A taller or wider face than the primary stays within its row and the texture.
        cx = std::min(cx, textureWidth - 2);
        cy = std::min(cy, cellHeight - 2);
        if (x + cx > textureWidth - 1) {
            x = 1;
            y += cellHeight;
            if (y >= textureHeight - cellHeight) {
                full = true;
                break;
            }
        }
        const int64_t bitmapWidth = std::max(cellBitmapWidth, cx);
        const int64_t bitmapHeight = std::max(cellBitmapHeight, cy);
        cell.assign(static_cast<size_t>(bitmapWidth * bitmapHeight), 0);
        font->Draw(c, margin, margin, cell.data(), static_cast<int32_t>(bitmapWidth),
                   static_cast<int32_t>(bitmapHeight));
        const GlyphRect rect{static_cast<float>(x) / width, static_cast<float>(y) / height,
                             static_cast<float>(x + cx) / width,
                             static_cast<float>(y + cy) / height};
        if (c < 256) {
            byteGlyphs_[c] = rect;
        } else {
            extraGlyphs_[c] = rect;
        }
        auto coverage = [&](int64_t s, int64_t r) -> uint32_t {
            return s >= 0 && r >= 0 && s < bitmapWidth && r < bitmapHeight
                       ? cell[static_cast<size_t>(r * bitmapWidth + s)]
                       : 0u;
        };
        for (int64_t r = 0; r < cy; ++r) {
            for (int64_t s = 0; s < cx; ++s) {
                uint32_t a = coverage(s, r);
                if (widened) {
                    a |= coverage(s - 1, r) | coverage(s + 1, r) | coverage(s, r - 1) |
                         coverage(s, r + 1);
                }
                texture->SetPixel(static_cast<int32_t>(x + s), static_cast<int32_t>(y + r),
                                  a << 24 | 0xFFFFFFu);
            }
        }
        for (int64_t i = -1; i <= cx; ++i) {
            texture->SetPixel(static_cast<int32_t>(x + i), static_cast<int32_t>(y - 1), 0xFFFFFF);
            texture->SetPixel(static_cast<int32_t>(x + i), static_cast<int32_t>(y + cy), 0xFFFFFF);
        }
        for (int64_t j = -1; j <= cy; ++j) {
            texture->SetPixel(static_cast<int32_t>(x - 1), static_cast<int32_t>(y + j), 0xFFFFFF);
            texture->SetPixel(static_cast<int32_t>(x + cx), static_cast<int32_t>(y + j), 0xFFFFFF);
        }
        x += cx + 1;
    }
    cursor_ = full ? Int2{FullTexture, FullTexture}
                   : Int2{static_cast<int32_t>(x), static_cast<int32_t>(y)};
    texture->Lock(TextureUnlocked, 0);
    return true;
}

bool FontNew::SaveGlyphCache(const char* base) const {
    FileSystem* files = GetFileSystem();
    if (!glyphTexture_ || !files || !base) {
        return false;
    }
    std::vector<uint8_t> table;
    table.reserve(CacheHeaderSize + CacheRecordSize * extraGlyphs_.size());
    for (const GlyphRect& rect : byteGlyphs_) {
        PutRect(table, rect);
    }
    PutWord(table, static_cast<uint32_t>(lineHeight_));
    PutWord(table, static_cast<uint32_t>(ascent_));
    PutWord(table, static_cast<uint32_t>(descent_));
    PutWord(table, static_cast<uint32_t>(extraGlyphs_.size()));
    for (const auto& [code, rect] : extraGlyphs_) {
        PutWord(table, code);
        PutRect(table, rect);
    }
    const Int2 size = glyphTexture_->GetSize();
    if (!SaveImageFile((std::string(base) + ".png").c_str(), glyphTexture_.get(), 0, 0, size.x,
                       size.y)) {
        return false;
    }
    std::unique_ptr<OutputStream> stream =
        files->OpenForWrite((std::string(base) + ".dat").c_str(), WriteCreateFolders);
    if (!stream) {
        return false;
    }
    const bool written =
        stream->Write(table.data(), static_cast<uint32_t>(table.size())) == table.size();
    return stream->Close() && written;
}

GlyphRect FontNew::GetGlyphRect(uint32_t code) {
    if (code < 256) {
        const GlyphRect& rect = byteGlyphs_[code];
        // A code below 256 is never added: one the character set left out draws as nothing,
        // which the log tells once for each font and character. Control codes have no glyph,
        // and without a glyph texture (no device) nothing is drawn at all.
        const bool printable = code >= 0x20 && (code < 0x7F || code > 0x9F);
        if (printable && glyphTexture_ && rect.bottom <= rect.top && !reportedMissing_.test(code)) {
            reportedMissing_.set(code);
            const std::string letter = code < 0x80
                                           ? std::string(1, static_cast<char>(code))
                                           : std::string{static_cast<char>(0xC0 | code >> 6),
                                                         static_cast<char>(0x80 | (code & 0x3F))};
            LogMessage("Font '%s%s' has no glyph for U+%04X ('%s'): a character outside its "
                       "character set is not drawn; list it in the game's char_set.txt",
                       GetFullPath(), GetOptions(), code, letter.c_str());
        }
        return rect;
    }
    if (auto found = extraGlyphs_.find(code); found != extraGlyphs_.end()) {
        return found->second;
    }
    if (code == 0xFFFD) {
        return {};
    }
    // Without a texture (dropped device data) an added glyph would start a texture of its own
    // and wipe every other rectangle: the character set comes back first.
    if (!glyphTexture_) {
        LoadCharacterSet(GetFullPath(), pointSize_, style_);
    }
    if (BuildGlyphs(GetFullPath(), {code}, 0, 0, true)) {
        if (auto found = extraGlyphs_.find(code); found != extraGlyphs_.end()) {
            LogMessage("added new letter to font: %d", static_cast<int32_t>(code));
            return found->second;
        }
    }
    LogMessage("did not find letter in font (and could not add): %d", static_cast<int32_t>(code));
    return byteGlyphs_[static_cast<uint8_t>('?')];
}

ClassInfo* FontNew::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    // Fonts are acquired by path and options; scripts cannot make one.
    classInfo = new ClassInfo(
        "FontNew", []() -> Entity* { return nullptr; }, &classInfo);
    classInfo->SetParent(Resource::RegisterClass());
    RegisterResourceExtension("ttf");
    return classInfo;
}

FontNew* CreateDefaultFont() {
    if (!gDefaultFont) {
        Texture::RegisterClass();
        gDefaultFont = new FontNew("res://arial.ttf", 8, 0);
    }
    return gDefaultFont;
}

FontNew* GetDefaultFont() {
    return gDefaultFont;
}

} // namespace quarn
