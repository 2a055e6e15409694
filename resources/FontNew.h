#pragma once

#include "core/string/Utf8.h"
#include "device/DeviceTexture.h"
#include "resources/Resource.h"

#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;
class GlyphFont;
class IndexBuffer;
class VertexBuffer;

// Bits of FontNew::GetStyle.
enum FontStyle : uint32_t {
    FontBold = 1,
    FontItalic = 2,
    FontUnderline = 4,
    FontStrikeOut = 8,
    FontWidened = 16, // coverage widened by one texel; the margin adds to each glyph's size
    FontHeavy = 32,
};

// A glyph's cell in texture coordinates (0..1); all zeros for a missing glyph.
struct GlyphRect {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
};

// Layout flags of FontNew::LayoutText.
inline constexpr uint32_t LayoutDownward = 1; // lines advance in +y (screen), else in -y (world)
inline constexpr uint32_t LayoutUtf8 = 2;

// The break characters of word wrapping: space, hyphen, underscore, newline, tab, return.
inline constexpr const char* LayoutBreakCharacters = " -_\n\t\r";

// A TrueType face at one point size and style, its glyphs rasterised into one glyph texture
// (white, coverage in alpha). The characters built up front come from the character-set file
// ("char_set.txt", or "char_set_<lang_code>.txt"), else a default Latin set; a glyph cache
// (the font path without extension + options + language suffix, ".png" and ".dat") replaces the
// rasterising when it is newer than the character set or the font file does not exist. Codes
// the font lacks are added on demand while text is laid out.
//
// Cache table (".dat", little-endian, no header): 256 rectangles of four float32 for codes
// 0-255, int32 line height, ascent and descent, uint32 N, then N records of a uint32 code and
// its rectangle.
class FontNew : public Resource {
public:
    static constexpr uint32_t CacheHeaderSize = 4112;
    static constexpr uint32_t CacheRecordSize = 20;
    // The cursor row that marks a full texture.
    static constexpr int32_t FullTexture = 65535;

    // Options as "_12bi": the point size after the first character, 'b' bold, 'i' italic,
    // 'B' heavy.
    FontNew(const char* path, const char* options);
    // Options "_<size><suffix>" with the suffix of style 0-7 ("", "b", "i", "bi", "B", "bB",
    // "iB", "biB").
    FontNew(const char* path, int32_t size, uint32_t style);
    ~FontNew() override;

    ClassInfo* GetClass() const override { return classInfo ? classInfo : Resource::GetClass(); }
    // Drops the glyph texture and builds the character set again, so the glyph table and the
    // texture always belong together.
    bool Load() override;
    void DropDeviceData() override;
    // The glyph texture's bytes plus 16 per glyph.
    uint32_t GetDataSize() const override;

    // Reads the character-set file and builds its glyphs.
    bool LoadCharacterSet(const char* path, int32_t size, uint32_t style);
    // Builds from a UTF-8 text; null builds the default character set. False for an empty text.
    bool BuildGlyphsUtf8(const char* path, const char* text, int32_t margin, uint64_t stamp,
                         bool add);
    // Builds the characters (newlines, tabs and repeats skipped) into a new glyph texture, or
    // appends them to the present one with `add`; a new texture comes from the glyph cache when
    // that is newer than `stamp` or the font file is missing. False when nothing could be built.
    bool BuildGlyphs(const char* path, const std::vector<uint32_t>& characters, int32_t margin,
                     uint64_t stamp, bool add);
    // Rasterises without looking at a glyph cache (the cache tool's way in).
    bool RasterizeGlyphs(const char* path, const std::vector<uint32_t>& characters, int32_t margin,
                         bool add);
    // Writes the glyph texture and table as a glyph cache: base + ".png" and base + ".dat".
    bool SaveGlyphCache(const char* base) const;

    // The rectangle of a code; a code from 256 up that the font lacks is added, else '?' shows.
    GlyphRect GetGlyphRect(uint32_t code);

    // Text measuring and layout. Texts are zero-terminated; `utf8` decodes them as UTF-8, else
    // every byte is a code 0-255.
    float GetAdvance(uint32_t code);
    // The width of the widest line.
    float MeasureText(const char* text, bool utf8);
    // One glyph quad at (x, y); returns its width, 0 when the buffer is full.
    float DrawGlyph(uint32_t code, float x, float y, float z, VertexBuffer& buffer, uint32_t color);
    // The quads of one line, each glyph followed by `spacing`; returns the characters written.
    int32_t BuildTextQuads(const char* text, float x, float y, float z, VertexBuffer& buffer,
                           float spacing, uint32_t color, bool utf8);
    // Wraps at the break characters to `width`; returns the line count and, when given, the
    // lines' start offsets in bytes of the text followed by the text's length.
    int32_t WrapText(float width, const char* text, std::vector<uint32_t>* starts, bool utf8,
                     const char* breaks);
    // A whole text block: horizontal alignment 0 left, 1 centre, 2 right, 3 justified;
    // vertical 0 top, 1 middle, 2 bottom; flags LayoutDownward and LayoutUtf8. Returns the
    // characters written.
    int32_t LayoutText(const char* text, float x, float y, float z, float boxWidth, uint32_t color,
                       int32_t horizontal, int32_t vertical, uint32_t flags, float lineSpacing,
                       VertexBuffer& buffer);

    DeviceTexture* GetGlyphTexture() const { return glyphTexture_.get(); }
    int32_t GetPointSize() const { return pointSize_; }
    uint32_t GetStyle() const { return style_; }
    int32_t GetLineHeight() const { return lineHeight_; }
    int32_t GetAscent() const { return ascent_; }
    int32_t GetDescent() const { return descent_; }
    float GetScale() const { return scale_; }
    Int2 GetCursor() const { return cursor_; }
    size_t GetExtraGlyphCount() const { return extraGlyphs_.size(); }
    // Whether the last new glyph texture came from a glyph cache.
    bool IsFromCache() const { return fromCache_; }

    // The font files a face is read from: TrueType and OpenType, alone or in collections.
    static std::vector<std::string> GetLoadableExtensions();

    // "FontNew" (base "ResourceRef", a factory that makes nothing) and the extension "ttf".
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    bool LoadGlyphCache(const char* texturePath, const char* tablePath);
    // Words and lines of a decoded text: the start of each line as a character index, then the
    // character count.
    int32_t WrapCodes(float width, const DecodedText& text, std::vector<uint32_t>* starts,
                      const char* breaks);
    float MeasureCodes(const uint32_t* codes, size_t count);
    int32_t BuildQuads(const uint32_t* codes, size_t count, float x, float y, float z,
                       VertexBuffer& buffer, float spacing, uint32_t color);
    Float2 GlyphTextureSize() const;

    std::unique_ptr<DeviceTexture> glyphTexture_;
    int32_t pointSize_ = 0;
    uint32_t style_ = 0;
    int32_t lineHeight_ = 0;
    int32_t ascent_ = 0;
    int32_t descent_ = 0;
    float scale_ = 1.0f;
    GlyphRect byteGlyphs_[256] = {};
    std::bitset<256> reportedMissing_; // codes below 256 the log has named as not drawn
    std::map<uint32_t, GlyphRect> extraGlyphs_;
    Float2 texelSize_;
    Int2 cursor_{1, 1};
    bool fromCache_ = false;
};

// The character-set file's text ("char_set.txt", or "char_set_<lang_code>.txt" when the main
// settings name a language), empty when there is none; `stamp` gets its file time.
std::string ReadCharacterSet(uint64_t& stamp);
// Space to '~', the Danish and Norwegian letters and the degree sign, as UTF-8: the characters
// built when there is no character-set file.
std::string GetDefaultCharacterSet();

// The characters of a zero-terminated text: decoded as UTF-8, or one per byte.
DecodedText DecodeText(const char* text, bool utf8);

// The face name of a font file: the name after the last '/' (else the last '\\'), cut at its
// last '.'.
std::string GetFontFaceName(const char* path);

// The vertex format of glyph quads: screen vertices with `screen`, else world vertices.
uint32_t QuadVertexFormat(bool screen);
// Sizes a vertex buffer (and an index buffer, when given) for `quads` glyph quads in the
// vertex format above; dynamic with `dynamic`. False when a buffer is refused; a refused vertex
// buffer leaves the index buffer untouched.
bool CreateQuadBuffers(VertexBuffer& vertices, IndexBuffer* indices, uint32_t quads, bool screen,
                       bool dynamic);

// The engine's default font, "res://arial.ttf" at 8 points, made once at start-up; "Texture"
// is registered first, as the glyph cache needs it, so class numbers do not depend on whether
// the cache or the rasteriser made the font.
FontNew* CreateDefaultFont();
// Null before CreateDefaultFont.
FontNew* GetDefaultFont();

} // namespace quarn
