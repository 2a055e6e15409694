#pragma once

// Glyph rasterising for font resources: a face found by name through fontconfig, sized and
// styled as a logical font is described (height, average width, weight, italic, underline,
// strike-out), drawn with FreeType into 8-bit coverage. Metrics follow the face's Windows
// metrics (OS/2 table) so line heights match what the face gives on any platform.

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

struct GlyphFontRequest {
    std::string face;
    // Negative: the em height in pixels; positive: the cell height (ascent + descent).
    int32_t height = 0;
    // Average character width in pixels (its magnitude); 0 keeps the face's proportions.
    int32_t width = 0;
    int32_t weight = 400; // 400 regular, 700 bold, up to 900
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};

class GlyphFont {
public:
    // The face that fontconfig matches for the name, weight and slant (bold and italic are
    // synthesised when the match lacks them); null when no face opens or the size is 0 or
    // larger than a texture can hold.
    static std::unique_ptr<GlyphFont> Create(const GlyphFontRequest& request);
    ~GlyphFont();
    GlyphFont(const GlyphFont&) = delete;
    GlyphFont& operator=(const GlyphFont&) = delete;

    int32_t GetHeight() const { return ascent_ + descent_; }
    int32_t GetAscent() const { return ascent_; }
    int32_t GetDescent() const { return descent_; }
    // The whole-pixel advance of one character: the width its text extent measures.
    int32_t GetAdvance(uint32_t code);
    // Draws the character with the top-left of its cell at (x, y) into a width x height
    // coverage bitmap (row after row, one byte per pixel), adding to what is there; what falls
    // outside is clipped.
    void Draw(uint32_t code, int32_t x, int32_t y, uint8_t* pixels, int32_t width, int32_t height);

    // The file the face was loaded from, for logs and tests.
    const std::string& GetFile() const { return file_; }

private:
    struct Face;
    explicit GlyphFont(std::unique_ptr<Face> face);
    bool LoadGlyph(uint32_t code, bool render);

    std::unique_ptr<Face> face_;
    std::string file_;
    int32_t ascent_ = 0;
    int32_t descent_ = 0;
    bool embolden_ = false;
    bool oblique_ = false;
    bool underline_ = false;
    bool strikeOut_ = false;
    // Rows below the baseline (negative above) and thickness of the two lines.
    int32_t underlinePosition_ = 0;
    int32_t underlineThickness_ = 1;
    int32_t strikeOutPosition_ = 0;
    int32_t strikeOutThickness_ = 1;
};

// Font files a run registers at most: each keeps a descriptor open for the run.
inline constexpr int MaxPrivateFontFiles = 256;

enum class PrivateFont { Added, NotAFont, TooMany };

// Makes the open font file (a regular file) findable by its face names for the rest of the run.
// The font library reads it through a descriptor of its own that stays open, never by a path
// that a link swapped meanwhile could lead elsewhere. A file registered before is Added again
// at no cost.
PrivateFont AddPrivateFontFile(int descriptor);

} // namespace quarn
