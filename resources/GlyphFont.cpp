#include "resources/GlyphFont.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quarn {
namespace {

// Glyphs larger than the largest texture could never be placed.
constexpr int32_t MaxPixelHeight = 2048;

// Both live for the run: faces may be opened at any time, and fonts registered privately must
// stay findable.
FT_Library FreeType() {
    static FT_Library library = [] {
        FT_Library made = nullptr;
        return FT_Init_FreeType(&made) == 0 ? made : nullptr;
    }();
    return library;
}

FcConfig* FontConfig() {
    // Handed back at exit, with fontconfig's own caches, so leak checkers see none of it.
    struct Holder {
        FcConfig* config = FcInitLoadConfigAndFonts();
        ~Holder() {
            if (config) {
                FcConfigDestroy(config);
            }
            FcFini();
        }
    };
    static Holder holder;
    return holder.config;
}

// 26.6 fixed point to whole pixels, rounded.
int32_t Pixels(FT_Pos value) {
    return static_cast<int32_t>((value + 32) >> 6);
}

// Font units to pixels at ppem, rounded half away from zero.
int32_t ScaleUnits(int64_t units, int64_t ppem, int64_t unitsPerEm) {
    const int64_t scaled = units * ppem;
    return static_cast<int32_t>((scaled >= 0 ? scaled + unitsPerEm / 2 : scaled - unitsPerEm / 2) /
                                unitsPerEm);
}

struct MatchedFace {
    std::string file;
    int index = 0;
    int weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
};

bool MatchFace(const GlyphFontRequest& request, MatchedFace& out) {
    FcConfig* config = FontConfig();
    FcPattern* pattern = FcPatternCreate();
    if (!config || !pattern) {
        return false;
    }
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(request.face.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(request.weight));
    FcPatternAddInteger(pattern, FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) {
        return false;
    }
    FcChar8* file = nullptr;
    const bool found = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
    if (found) {
        out.file = reinterpret_cast<const char*>(file);
        FcPatternGetInteger(match, FC_INDEX, 0, &out.index);
        FcPatternGetInteger(match, FC_WEIGHT, 0, &out.weight);
        FcPatternGetInteger(match, FC_SLANT, 0, &out.slant);
    }
    FcPatternDestroy(match);
    return found;
}

} // namespace

struct GlyphFont::Face {
    FT_Face face = nullptr;
    ~Face() {
        if (face) {
            FT_Done_Face(face);
        }
    }
};

PrivateFont AddPrivateFontFile(int descriptor) {
    // By device and inode: each rasterising registers its font file again.
    static std::set<std::pair<dev_t, ino_t>> registered;
    struct stat info {};
    FcConfig* config = FontConfig();
    if (!config || fstat(descriptor, &info) != 0) {
        return PrivateFont::NotAFont;
    }
    if (registered.count({info.st_dev, info.st_ino}) > 0) {
        return PrivateFont::Added;
    }
    if (registered.size() >= MaxPrivateFontFiles) {
        return PrivateFont::TooMany;
    }
    // The library opens the path again for each face it reads: through /proc, a descriptor that
    // stays open always leads to this file.
    const int held = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    const std::string path = "/proc/self/fd/" + std::to_string(held);
    if (held < 0 ||
        FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(path.c_str())) != FcTrue) {
        if (held >= 0) {
            close(held);
        }
        return PrivateFont::NotAFont;
    }
    registered.insert({info.st_dev, info.st_ino});
    return PrivateFont::Added;
}

GlyphFont::GlyphFont(std::unique_ptr<Face> face) : face_(std::move(face)) {}

GlyphFont::~GlyphFont() = default;

std::unique_ptr<GlyphFont> GlyphFont::Create(const GlyphFontRequest& request) {
    const int32_t height = std::abs(request.height);
    MatchedFace matched;
    if (height == 0 || height > MaxPixelHeight || std::abs(request.width) > MaxPixelHeight ||
        !FreeType() || !MatchFace(request, matched)) {
        return nullptr;
    }
    auto face = std::make_unique<Face>();
    if (FT_New_Face(FreeType(), matched.file.c_str(), matched.index, &face->face) != 0 ||
        !FT_IS_SCALABLE(face->face)) {
        return nullptr;
    }
    FT_Face ft = face->face;
    const int64_t unitsPerEm = ft->units_per_EM > 0 ? ft->units_per_EM : 2048;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
    const bool windowsMetrics =
        os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0;
    int64_t cellUnits = windowsMetrics ? int64_t{os2->usWinAscent} + os2->usWinDescent
                                       : int64_t{ft->ascender} - ft->descender;
    if (cellUnits <= 0) {
        cellUnits = unitsPerEm;
    }
    // A positive height is the cell's; the em is then that much smaller.
    int64_t ppem =
        request.height < 0 ? height : std::max<int64_t>(1, height * unitsPerEm / cellUnits);
    int64_t ppemX = 0;
    if (request.width != 0) {
        const int64_t average = os2 && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth : unitsPerEm / 2;
        ppemX =
            std::clamp<int64_t>(std::abs(request.width) * unitsPerEm / average, 1, MaxPixelHeight);
    }
    if (FT_Set_Pixel_Sizes(ft, static_cast<FT_UInt>(ppemX), static_cast<FT_UInt>(ppem)) != 0) {
        return nullptr;
    }

    std::unique_ptr<GlyphFont> font(new GlyphFont(std::move(face)));
    font->file_ = matched.file;
    if (windowsMetrics) {
        font->ascent_ = ScaleUnits(os2->usWinAscent, ppem, unitsPerEm);
        font->descent_ = ScaleUnits(os2->usWinDescent, ppem, unitsPerEm);
    } else {
        font->ascent_ = Pixels(ft->size->metrics.ascender);
        font->descent_ = -Pixels(ft->size->metrics.descender);
    }
    // Synthesised when the match is clearly lighter or upright.
    font->embolden_ = request.weight >= 600 && matched.weight < FC_WEIGHT_DEMIBOLD;
    font->oblique_ = request.italic && matched.slant == FC_SLANT_ROMAN;
    font->underline_ = request.underline;
    font->strikeOut_ = request.strikeOut;
    font->underlinePosition_ = std::max(1, -ScaleUnits(ft->underline_position, ppem, unitsPerEm));
    font->underlineThickness_ = std::max(1, ScaleUnits(ft->underline_thickness, ppem, unitsPerEm));
    if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
        font->strikeOutPosition_ = -ScaleUnits(os2->yStrikeoutPosition, ppem, unitsPerEm);
        font->strikeOutThickness_ = std::max(1, ScaleUnits(os2->yStrikeoutSize, ppem, unitsPerEm));
    } else {
        font->strikeOutPosition_ = -font->ascent_ / 3;
    }
    return font;
}

bool GlyphFont::LoadGlyph(uint32_t code, bool render) {
    FT_Face ft = face_->face;
    if (FT_Load_Char(ft, code, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) {
        return false;
    }
    if (oblique_) {
        FT_GlyphSlot_Oblique(ft->glyph);
    }
    if (embolden_) {
        FT_GlyphSlot_Embolden(ft->glyph);
    }
    return !render || FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_NORMAL) == 0;
}

int32_t GlyphFont::GetAdvance(uint32_t code) {
    return LoadGlyph(code, false) ? std::max(0, Pixels(face_->face->glyph->advance.x)) : 0;
}

void GlyphFont::Draw(uint32_t code, int32_t x, int32_t y, uint8_t* pixels, int32_t width,
                     int32_t height) {
    if (!LoadGlyph(code, true)) {
        return;
    }
    auto blend = [&](int64_t px, int64_t py, uint32_t coverage) {
        if (px >= 0 && py >= 0 && px < width && py < height) {
            uint8_t& pixel = pixels[py * width + px];
            pixel = static_cast<uint8_t>(std::min<uint32_t>(255, pixel + coverage));
        }
    };
    const FT_GlyphSlot slot = face_->face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    const int64_t left = int64_t{x} + slot->bitmap_left;
    const int64_t top = int64_t{y} + ascent_ - slot->bitmap_top;
    if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.buffer) {
        for (uint32_t row = 0; row < bitmap.rows; ++row) {
            const uint8_t* source = bitmap.buffer + static_cast<int64_t>(row) * bitmap.pitch;
            for (uint32_t column = 0; column < bitmap.width; ++column) {
                blend(left + column, top + row, source[column]);
            }
        }
    }
    const int32_t advance = std::max(0, Pixels(slot->advance.x));
    auto line = [&](int32_t below, int32_t thickness) {
        for (int32_t row = 0; row < thickness; ++row) {
            for (int32_t column = 0; column < advance; ++column) {
                blend(int64_t{x} + column, int64_t{y} + ascent_ + below + row, 255);
            }
        }
    };
    if (underline_) {
        line(underlinePosition_, underlineThickness_);
    }
    if (strikeOut_) {
        line(strikeOutPosition_, strikeOutThickness_);
    }
}

} // namespace quarn
