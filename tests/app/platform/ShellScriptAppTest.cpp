#include "app/platform/ShellScriptApp.h"

#include <SDL.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

TEST(ShellScriptAppTest, ClipboardTextBecomesLatin1) {
    struct Case {
        const char* utf8;
        const char* latin1;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9", "caf\xE9"},
        {"\xE2\x82\xAC 5", "? 5"},       // the euro sign has no Latin-1 byte
        {"\xF0\x9F\x98\x80!", "?!"},     // nor has anything past the first plane
        {"a\xC3", "a?"},                 // cut short
        {"\xC3(", "?("},                 // broken sequence
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToLatin1(c.utf8), c.latin1) << c.utf8;
    }
}

TEST(ShellScriptAppTest, TypingPushesTheKeysThatMakeTheCharacter) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS), 0) << SDL_GetError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    struct Case {
        uint8_t character;
        std::vector<std::pair<SDL_Scancode, bool>> keys;
    };
    const Case cases[] = {
        {'a', {{SDL_SCANCODE_A, true}, {SDL_SCANCODE_A, false}}},
        {'A',
         {{SDL_SCANCODE_LSHIFT, true}, {SDL_SCANCODE_A, true}, {SDL_SCANCODE_A, false},
          {SDL_SCANCODE_LSHIFT, false}}},
        {'?',
         {{SDL_SCANCODE_LSHIFT, true}, {SDL_SCANCODE_SLASH, true}, {SDL_SCANCODE_SLASH, false},
          {SDL_SCANCODE_LSHIFT, false}}},
        {'7', {{SDL_SCANCODE_7, true}, {SDL_SCANCODE_7, false}}},
        {0xE9, {}}, // no key of the layout types it
        {0, {}},
    };
    ShellScriptApp app;
    for (const Case& c : cases) {
        app.TypeCharacter(c.character);
        std::vector<std::pair<SDL_Scancode, bool>> keys;
        SDL_Event event;
        while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_KEYDOWN, SDL_KEYUP) == 1) {
            keys.emplace_back(event.key.keysym.scancode, event.type == SDL_KEYDOWN);
        }
        EXPECT_EQ(keys, c.keys) << int(c.character);
    }
    SDL_Quit();
}

} // namespace
} // namespace quarn
