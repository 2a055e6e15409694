// Text measuring, word wrapping and glyph quads of FontNew.

#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "resources/FontNew.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

namespace quarn {
namespace {

bool IsBreak(uint32_t code, const char* breaks) {
    return code != 0 && code < 256 && breaks && std::strchr(breaks, static_cast<int>(code));
}

} // namespace

DecodedText DecodeText(const char* text, bool utf8) {
    const std::string_view bytes = text ? std::string_view(text) : std::string_view();
    return utf8 ? DecodeUtf8(bytes) : DecodeBytes(bytes);
}

Float2 FontNew::GlyphTextureSize() const {
    if (!glyphTexture_) {
        return {1.0f, 1.0f};
    }
    return {static_cast<float>(glyphTexture_->GetSize().x),
            static_cast<float>(glyphTexture_->GetSize().y)};
}

float FontNew::GetAdvance(uint32_t code) {
    const GlyphRect rect = GetGlyphRect(code);
    return (rect.right - rect.left) * GlyphTextureSize().x;
}

float FontNew::MeasureCodes(const uint32_t* codes, size_t count) {
    float widest = 0.0f;
    float width = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        if (codes[i] == '\n') {
            widest = std::max(widest, width);
            width = 0.0f;
        } else {
            width += GetAdvance(codes[i]);
        }
    }
    return std::max(widest, width);
}

float FontNew::MeasureText(const char* text, bool utf8) {
    const DecodedText decoded = DecodeText(text, utf8);
    return MeasureCodes(decoded.codes.data(), decoded.Size());
}

float FontNew::DrawGlyph(uint32_t code, float x, float y, float z, VertexBuffer& buffer,
                         uint32_t color) {
    const Float2 size = GlyphTextureSize();
    const GlyphRect rect = GetGlyphRect(code);
    const float w = (rect.right - rect.left) * size.x / scale_;
    const float h = (rect.bottom - rect.top) * size.y / scale_;
    const uint32_t first = buffer.AddVertices(4);
    if (first == VertexBuffer::NoVertex) {
        return 0.0f;
    }
    const bool screen = (buffer.GetFormat() & VertexScreenPosition) != 0;
    struct Corner {
        float x, y, u, v;
    };
    // Screen quads sit half a pixel up and left so texels meet pixel centres; world quads grow
    // downward in -y.
    const Corner corners[4] = {
        screen ? Corner{x - 0.5f, y - 0.5f, rect.left, rect.top}
               : Corner{x, y, rect.left, rect.top},
        screen ? Corner{x + w - 0.5f, y - 0.5f, rect.right, rect.top}
               : Corner{x + w, y, rect.right, rect.top},
        screen ? Corner{x + w - 0.5f, y + h - 0.5f, rect.right, rect.bottom}
               : Corner{x + w, y - h, rect.right, rect.bottom},
        screen ? Corner{x - 0.5f, y + h - 0.5f, rect.left, rect.bottom}
               : Corner{x, y - h, rect.left, rect.bottom},
    };
    const VertexLayout& layout = buffer.GetLayout();
    const std::span<uint32_t> words = buffer.OpenVertex(first);
    if (words.size() < 4 * static_cast<size_t>(layout.stride)) {
        return 0.0f;
    }
    for (size_t i = 0; i < 4; ++i) {
        uint32_t* vertex = words.data() + i * layout.stride;
        vertex[layout.position] = std::bit_cast<uint32_t>(corners[i].x);
        vertex[layout.position + 1] = std::bit_cast<uint32_t>(corners[i].y);
        vertex[layout.position + 2] = std::bit_cast<uint32_t>(screen ? 0.0f : z);
        if (screen) {
            vertex[layout.position + 3] = std::bit_cast<uint32_t>(1.0f);
        }
        if (buffer.GetFormat() & VertexDiffuse) {
            vertex[layout.color] = color;
        }
        if (layout.texCoordSets > 0) {
            vertex[layout.texCoord] = std::bit_cast<uint32_t>(corners[i].u);
            vertex[layout.texCoord + 1] = std::bit_cast<uint32_t>(corners[i].v);
        }
    }
    buffer.Lock(0);
    return w;
}

int32_t FontNew::BuildQuads(const uint32_t* codes, size_t count, float x, float y, float z,
                            VertexBuffer& buffer, float spacing, uint32_t color) {
    for (size_t i = 0; i < count; ++i) {
        x += DrawGlyph(codes[i], x, y, z, buffer, color) + spacing;
    }
    return static_cast<int32_t>(std::min<size_t>(count, INT32_MAX));
}

int32_t FontNew::BuildTextQuads(const char* text, float x, float y, float z, VertexBuffer& buffer,
                                float spacing, uint32_t color, bool utf8) {
    const DecodedText decoded = DecodeText(text, utf8);
    return BuildQuads(decoded.codes.data(), decoded.Size(), x, y, z, buffer, spacing, color);
}

int32_t FontNew::WrapCodes(float width, const DecodedText& text, std::vector<uint32_t>* starts,
                           const char* breaks) {
    const size_t n = text.Size();
    const uint32_t* codes = text.codes.data();
    if (starts) {
        starts->assign(1, 0);
    }
    int32_t lines = 0;
    auto newLine = [&](size_t at) {
        if (starts) {
            starts->push_back(static_cast<uint32_t>(at));
        }
        ++lines;
    };
    // The current line is only ever measured whole, so its length and width stand for it.
    size_t lineLength = 0;
    float lineWidth = 0.0f;
    uint32_t previous = 0;
    size_t i = 0;
    while (i < n) {
        const size_t wordStart = i;
        while (i < n && !IsBreak(codes[i], breaks)) {
            ++i;
        }
        const uint32_t separator = i < n ? codes[i] : 0;
        // A hyphen or underscore stays at the end of its word.
        const size_t wordEnd = (separator == '-' || separator == '_') ? i + 1 : i;
        const float spaceWidth = previous == ' ' ? GetAdvance(' ') : 0.0f;
        const float wordWidth = MeasureCodes(codes + wordStart, wordEnd - wordStart);
        lineWidth += wordWidth;
        if (lineWidth + spaceWidth > width && lineLength > 0) {
            newLine(wordStart);
            lineLength = wordEnd - wordStart;
            lineWidth = wordWidth;
        } else {
            if (previous == ' ') {
                ++lineLength;
                lineWidth += spaceWidth;
            }
            lineLength += wordEnd - wordStart;
        }
        if (separator == '\n') {
            newLine(i + 1);
            lineLength = 0;
            lineWidth = 0.0f;
        }
        previous = separator;
        if (i >= n) {
            break;
        }
        ++i;
    }
    if (lineLength > 0) {
        newLine(n);
    }
    return lines;
}

int32_t FontNew::WrapText(float width, const char* text, std::vector<uint32_t>* starts, bool utf8,
                          const char* breaks) {
    const DecodedText decoded = DecodeText(text, utf8);
    const int32_t lines = WrapCodes(width, decoded, starts, breaks);
    // Character indexes to byte offsets of the text as given.
    if (starts) {
        for (uint32_t& start : *starts) {
            start = decoded.offsets[start];
        }
    }
    return lines;
}

int32_t FontNew::LayoutText(const char* text, float x, float y, float z, float boxWidth,
                            uint32_t color, int32_t horizontal, int32_t vertical, uint32_t flags,
                            float lineSpacing, VertexBuffer& buffer) {
    const DecodedText decoded = DecodeText(text, (flags & LayoutUtf8) != 0);
    std::vector<uint32_t> starts;
    const int32_t lines = WrapCodes(boxWidth, decoded, &starts, LayoutBreakCharacters);
    const float total = std::trunc(static_cast<float>(lines - 1) * lineSpacing +
                                   static_cast<float>(lineHeight_) * static_cast<float>(lines));
    const float direction = (flags & LayoutDownward) ? 1.0f : -1.0f;
    if (vertical == 1) {
        y -= std::trunc(total * 0.5f) * direction;
    } else if (vertical == 2) {
        y -= direction * total;
    }
    float spacing = 0.0f;
    int32_t characters = 0;
    for (int32_t line = 0; line < lines; ++line) {
        const uint32_t begin = starts[static_cast<size_t>(line)];
        uint32_t end = starts[static_cast<size_t>(line) + 1];
        // The space a line was broken at is not drawn.
        if (end > begin && decoded.codes[end - 1] == ' ') {
            --end;
        }
        const uint32_t* codes = decoded.codes.data() + begin;
        const size_t length = end - begin;
        const float lineWidth = MeasureCodes(codes, length);
        float lineX = x;
        if (horizontal == 1) {
            lineX = std::trunc(x - lineWidth * 0.5f);
        } else if (horizontal == 2) {
            lineX = x - lineWidth;
        } else if (horizontal == 3 && length > 1) {
            // Spread over the gaps between characters; it stays for the lines after.
            spacing = (boxWidth - lineWidth) / static_cast<float>(length - 1);
        }
        characters += BuildQuads(codes, length, lineX, y, z, buffer, spacing, color);
        y += (static_cast<float>(lineHeight_) + lineSpacing) * direction;
    }
    return characters;
}

uint32_t QuadVertexFormat(bool screen) {
    return (screen ? VertexScreenPosition : VertexPosition) | VertexDiffuse | VertexTexCoord0;
}

bool CreateQuadBuffers(VertexBuffer& vertices, IndexBuffer* indices, uint32_t quads, bool screen,
                       bool dynamic) {
    // Six indices per quad must still count in 32 bits.
    if (quads > UINT32_MAX / 6) {
        return false;
    }
    const uint32_t flags = VertexStartEmpty | (dynamic ? VertexDynamic : 0);
    const bool made = vertices.Create(4 * quads, QuadVertexFormat(screen), flags);
    if (!made || !indices) {
        return made;
    }
    return indices->Create(6 * quads, 0);
}

} // namespace quarn
