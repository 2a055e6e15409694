#include "core/string/Text.h"

#include "core/string/NumberText.h"
#include "core/string/TextArena.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quarn {

namespace {

constexpr size_t SharedFormatSize = 65536;
// Parts of a number list are cut to this many characters, as the shared split buffers were.
constexpr size_t NumberPartChars = 1023;

int lastFormatBuffer = 0;

// vsnprintf into a fixed buffer; a failed format leaves the empty text.
QUARN_PRINTF(3, 0)
void FormatInto(char* buffer, size_t capacity, const char* format, va_list arguments) {
    if (vsnprintf(buffer, capacity, format, arguments) < 0) {
        buffer[0] = '\0';
    }
}

// Splits a number list into `count` parts; parts the text does not have stay empty, which
// reads as 0.
template <int Count>
struct NumberParts {
    char parts[Count][NumberPartChars + 1] = {};

    NumberParts(const char* text, const char* delimiters) {
        char* outputs[Count];
        for (int i = 0; i < Count; ++i) {
            outputs[i] = parts[i];
        }
        SplitAtDelimiters(text, delimiters, outputs, Count, NumberPartChars);
    }
    int32_t Int(int i) const { return ParseInt32(parts[i]); }
    float Float(int i) const { return ParseFloat(parts[i]); }
};

} // namespace

const char* FormatTempV(const char* format, va_list arguments) {
    lastFormatBuffer ^= 1;
    char* buffer = FormatScratchBuffer(lastFormatBuffer);
    FormatInto(buffer, FormatBufferSize, format, arguments);
    return buffer;
}

const char* FormatTemp(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const char* text = FormatTempV(format, arguments);
    va_end(arguments);
    return text;
}

std::string StringFormat(const char* format, ...) {
    // Most texts fit a small buffer; a longer one is formatted again at its size (cut where
    // the shared buffer would cut it), so no call fills 64 KB it does not use.
    char small[256];
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    std::string text;
    if (length < 0) {
        va_end(again);
        return text;
    }
    if (static_cast<size_t>(length) < sizeof small) {
        text.assign(small, static_cast<size_t>(length));
    } else {
        text.resize(std::min(static_cast<size_t>(length), SharedFormatSize - 1));
        vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    // A text with a zero byte inside ends there, as it did when read back as a C string.
    text.resize(std::strlen(text.c_str()));
    return text;
}

const char* StringFormatShared(const char* format, ...) {
    static char buffer[SharedFormatSize];
    va_list arguments;
    va_start(arguments, format);
    FormatInto(buffer, SharedFormatSize, format, arguments);
    va_end(arguments);
    return buffer;
}

size_t StrCopyBounded(char* buffer, const char* text, size_t capacity) {
    return StringAppendBounded(buffer, text, 0, capacity);
}

size_t StrAppendBounded(char* buffer, const char* text, size_t capacity) {
    return StringAppendBounded(buffer, text, strnlen(buffer, capacity), capacity);
}

size_t StringAppendBounded(char* buffer, const char* text, size_t position, size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    if (position >= capacity) {
        position = capacity - 1;
    }
    while (text && *text && position < capacity - 1) {
        buffer[position++] = *text++;
    }
    buffer[position] = '\0';
    return position;
}

int SplitAtDelimiters(const char* text, const char* delimiters, char* const* outputs, int maxParts,
                      size_t maxChars) {
    if (!text || maxParts < 1) {
        return 0;
    }
    int parts = 0;
    while (parts < maxParts && *text) {
        size_t length = std::strcspn(text, delimiters);
        size_t kept = length < maxChars ? length : maxChars;
        std::memcpy(outputs[parts], text, kept);
        outputs[parts][kept] = '\0';
        ++parts;
        text += length;
        if (*text) {
            ++text; // past the delimiter
        }
    }
    return parts;
}

Int2 ParseInt2(const char* text, const char* delimiters) {
    NumberParts<2> parts(text, delimiters);
    return {parts.Int(0), parts.Int(1)};
}

Int3 ParseInt3(const char* text, const char* delimiters) {
    NumberParts<3> parts(text, delimiters);
    return {parts.Int(0), parts.Int(1), parts.Int(2)};
}

Float2 ParseFloat2(const char* text, const char* delimiters) {
    NumberParts<2> parts(text, delimiters);
    return {parts.Float(0), parts.Float(1)};
}

Float3 ParseFloat3(const char* text, const char* delimiters) {
    NumberParts<3> parts(text, delimiters);
    return {parts.Float(0), parts.Float(1), parts.Float(2)};
}

Float4 ParseFloat4(const char* text, const char* delimiters) {
    NumberParts<4> parts(text, delimiters);
    return {parts.Float(0), parts.Float(1), parts.Float(2), parts.Float(3)};
}

int CompareNoCase(const char* a, const char* b) {
    if (!a || !b) {
        return 1;
    }
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(ToLowerAscii(*a));
        unsigned char cb = static_cast<unsigned char>(ToLowerAscii(*b));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == 0) {
            return 0;
        }
    }
}

void ToLowerAscii(char* text) {
    for (; *text; ++text) {
        *text = ToLowerAscii(*text);
    }
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    if (!text || !prefix) {
        return false;
    }
    for (; *prefix; ++text, ++prefix) {
        if (ToLowerAscii(*text) != ToLowerAscii(*prefix)) {
            return false;
        }
    }
    return true;
}

const char* FindNoCase(const char* text, const char* pattern) {
    if (!text || !*text || !pattern) {
        return nullptr;
    }
    for (; *text; ++text) {
        size_t i = 0;
        while (pattern[i] && ToLowerAscii(text[i]) == ToLowerAscii(pattern[i])) {
            ++i;
        }
        if (!pattern[i]) {
            return text;
        }
    }
    return nullptr;
}

const char* FindFirstOf(const char* text, const char* characters) {
    if (!text || !characters) {
        return nullptr;
    }
    const char* found = text + std::strcspn(text, characters);
    return *found ? found : nullptr;
}

void ReplaceChar(char* text, char from, char to) {
    for (; *text; ++text) {
        if (*text == from) {
            *text = to;
        }
    }
}

void RemoveCharInPlace(char* text, char c) {
    char* out = text;
    for (; *text; ++text) {
        if (*text != c) {
            *out++ = *text;
        }
    }
    *out = '\0';
}

void RemoveCharFromString(std::string& text, char c) {
    std::erase(text, c);
}

std::string RemoveCarriageReturns(const char* text) {
    std::string result = text ? text : "";
    RemoveCharFromString(result, '\r');
    return result;
}

std::string ExpandNewlines(const char* text) {
    std::string result;
    for (; text && *text; ++text) {
        if (*text == '\n') {
            result += '\r';
        }
        result += *text;
    }
    return result;
}

std::string UnescapeString(const char* source) {
    std::string result;
    for (; source && *source; ++source) {
        if (*source != '\\' || !source[1]) {
            result += *source;
            continue;
        }
        switch (source[1]) {
        case '"':
            result += '"';
            break;
        case '\\':
            result += '\\';
            break;
        case 'n':
            result += '\n';
            break;
        case 't':
            result += '\t';
            break;
        default:
            result.append(source, 2);
            break;
        }
        ++source;
    }
    return result;
}

uint32_t StringWordSum(const char* text) {
    if (!text) {
        return 0;
    }
    uint32_t sum = 0;
    size_t length = std::strlen(text);
    for (size_t i = 0; i < length; i += 4) {
        uint32_t word = 0;
        for (size_t b = 0; b < 4 && i + b < length; ++b) {
            word |= static_cast<uint32_t>(static_cast<unsigned char>(text[i + b])) << (8 * b);
        }
        sum += word;
    }
    return sum;
}

const char* FindFileName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (!slash) {
        slash = std::strrchr(path, '\\');
    }
    return slash ? slash + 1 : path;
}

const char* FindExtension(const char* path) {
    const char* name = FindFileName(path);
    const char* dot = std::strrchr(name, '.');
    return dot ? dot : name + std::strlen(name);
}

void SplitPath(const char* path, std::string* folder, std::string* name, std::string* extension) {
    if (!path || !*path) {
        return;
    }
    const char* fileName = FindFileName(path);
    const char* dot = FindExtension(fileName);
    if (folder) {
        folder->assign(path, fileName);
    }
    if (name) {
        name->assign(fileName, dot);
    }
    if (extension) {
        extension->assign(*dot ? dot + 1 : dot);
    }
}

std::string GetPathFolder(const char* path) {
    std::string folder;
    SplitPath(path, &folder, nullptr, nullptr);
    return folder;
}

std::string GetPathName(const char* path) {
    std::string name;
    SplitPath(path, nullptr, &name, nullptr);
    return name;
}

std::string GetPathExtension(const char* path) {
    std::string extension;
    SplitPath(path, nullptr, nullptr, &extension);
    return extension;
}

std::string ReplaceExtension(const char* path, const char* extension) {
    std::string folder;
    std::string name;
    SplitPath(path, &folder, &name, nullptr);
    return folder + name + "." + (extension ? extension : "");
}

std::string MakePrefixedFileName(const char* path) {
    std::string result = path ? path : "";
    std::replace(result.begin(), result.end(), '\\', '/');
    size_t slash = result.rfind('/');
    result.insert(slash == std::string::npos ? 0 : slash + 1, "A_");
    return result;
}

} // namespace quarn
