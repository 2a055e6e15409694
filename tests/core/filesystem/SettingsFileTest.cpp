#include "core/filesystem/SettingsFile.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/io/MemoryOutputStream.h"
#include "core/string/Text.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/StoredBytes.h"
#include "tests/support/TempFolder.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {
namespace {

SettingsFile Parsed(const std::string& text) {
    SettingsFile settings;
    EXPECT_TRUE(settings.Parse(text.c_str(), text.size()));
    return settings;
}

// Every key in map order as "key=value;".
std::string Entries(const SettingsFile& settings) {
    std::string all;
    for (int i = 0; i < settings.GetCount(); ++i) {
        const char* key = settings.GetKeyAt(i);
        all += std::string(key) + "=" + settings.GetString(key) + ";";
    }
    return all;
}

std::string Pair(Int2 value) {
    return std::to_string(value.x) + "," + std::to_string(value.y);
}

std::string Written(const SettingsFile& settings) {
    MemoryOutputStream stream(4096);
    EXPECT_TRUE(settings.Write(stream));
    return std::string(stream.GetData(), stream.GetPosition());
}

TEST(SettingsFileParse, TheLineFormatIsReadExactly) {
    const struct {
        const char* text;
        const char* entries;
    } cases[] = {
        // A quoted value ignores the rest of its line; an unquoted one keeps trailing blanks.
        {"key = \"a b\" # note\nnext = 1", "key=a b;next=1;"},
        {"\tk\t=\t \tv \t\r\nw=x\r\n", "k=v \t;w=x;"},
        // Lines not starting with a letter or '_' define nothing.
        {"# c = 1\n// c = 2\n;x = 1\n1abc = 2\n  -k = 3\n\xE9t\xE9 = 4\n\"q\" = 5\n=6\n", ""},
        {"# c\n_under = 1\n  indented = 2", "_under=1;indented=2;"},
        // The '=' may follow on a later line, the value may not.
        {"key\n\n  = \"v\"", "key=v;"},
        {"key =\n\"v\"\nkey2 = \r\n", "key=;key2=;"},
        // A key without '=' is dropped and the next word starts again.
        {"a b = c", "b=c;"},
        {"lonely", ""},
        {"k # x = 1\nz = 2", "z=2;"},
        // A key runs to a blank or '=' whatever it holds; vertical tab and form feed are no blanks.
        {"a#b=1\nc\"d = 2\ne%s = 3\nf\vg\f= 4", "a#b=1;c\"d=2;e%s=3;f\vg\f=4;"},
        // An unterminated quote ends at the line end.
        {"key = \"open\r\nnext = 1", "key=open;next=1;"},
        {"key = \"to the end", "key=to the end;"},
        // Keys order without case; the last duplicate wins whatever its case.
        {"Gamma = 3\nBeta = 2\nalpha = 1\n_z = 4", "_z=4;alpha=1;Beta=2;Gamma=3;"},
        {"key = 1\nother = 2\nKEY = \"3\"", "key=3;other=2;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Entries(Parsed(c.text)), c.entries) << c.text;
    }
}

TEST(SettingsFileParse, KeysKeep63CharactersValues255AndTextEndsAtItsLengthOrANul) {
    const std::string key63(63, 'k');
    const std::string value255(255, 'v');
    SettingsFile settings = Parsed(std::string(70, 'k') + " = \"" + std::string(300, 'v') + "\"");
    ASSERT_EQ(settings.GetCount(), 1);
    EXPECT_EQ(settings.GetKeyAt(0), key63);
    EXPECT_EQ(settings.GetString(key63.c_str()), value255);
    EXPECT_EQ(settings.GetString(std::string(70, 'k').c_str()), value255)
        << "a lookup sees only the first 63 characters too";
    // Parsing adds to the entries present.
    settings = Parsed("a = 1\nb = 2");
    settings.Parse("c = 1\0d = 2", 11);
    settings.Parse("b = 345", 6);
    EXPECT_EQ(Entries(settings), "a=1;b=34;c=1;");
}

TEST(SettingsFileGetters, BoolIsTrueOnlyForExactlyTrueOrOneAndInt2ReadsAMissingPartAsZero) {
    SettingsFile settings = Parsed("Key = 1\nt = true\nu = True\ns = \"1 \"");
    EXPECT_TRUE(settings.GetBool("KEY"));
    EXPECT_TRUE(settings.GetBool("t"));
    for (const char* key : {"u", "s", "missing"}) {
        EXPECT_FALSE(settings.GetBool(key)) << key;
    }
    settings = Parsed("a = 3,4\nb = \"3, 4\"\nc = 5\nd = -1,x");
    settings.GetInt2("a"); // leaves a second part behind for a stale reader to find
    EXPECT_EQ(Pair(settings.GetInt2("b")), "3,4");
    EXPECT_EQ(Pair(settings.GetInt2("c")), "5,0");
    EXPECT_EQ(Pair(settings.GetInt2("d")), "-1,0");
}

TEST(SettingsFileGetters, IntReadsLowerCaseHexAsBitsAndDecimalsClamped) {
    SettingsFile settings =
        Parsed("upper = 0X1F\nd = 12abc\ncolour = 0x80808080\nbig = 99999999999\n"
               "blank = \"  7\"\nbare = 0x");
    EXPECT_EQ(settings.GetInt("upper"), 0);
    EXPECT_EQ(settings.GetInt("d"), 12);
    EXPECT_EQ(static_cast<uint32_t>(settings.GetInt("colour")), 0x80808080u);
    EXPECT_EQ(settings.GetInt("big"), INT32_MAX);
    EXPECT_EQ(settings.GetInt("blank"), 7);
    EXPECT_EQ(settings.GetInt("bare"), 0);
}

TEST(SettingsFileGetters, AStringStaysValidWhileOtherEntriesComeAndGo) {
    SettingsFile settings = Parsed("keep = short");
    const char* value = settings.GetString("keep");
    for (int i = 0; i < 200; ++i) {
        settings.SetInt(FormatTemp("k%d", i), i);
    }
    for (int i = 0; i < 200; i += 2) {
        settings.Remove(FormatTemp("k%d", i));
    }
    EXPECT_EQ(settings.GetString("keep"), value);
    EXPECT_STREQ(settings.GetString("missing"), "");
}

TEST(SettingsFileWrite, WritesOneQuotedLinePerEntryInKeyOrderAndReportsAShortWrite) {
    SettingsFile settings = Parsed("resource_path = data/\r\nAlpha = \"x y\" # c\nempty =");
    EXPECT_EQ(Written(settings), "Alpha = \"x y\"\nempty = \"\"\nresource_path = \"data/\"\n");
    MemoryOutputStream stream(10);
    EXPECT_FALSE(Parsed("key = value").Write(stream));
    // A long value is written whole and cut only when read again.
    settings.SetString("long", std::string(300, 'v').c_str());
    const std::string written = Written(settings);
    EXPECT_EQ(settings.GetSavedSize(), written.size());
    EXPECT_NE(written.find("long = \"" + std::string(300, 'v') + "\"\n"), std::string::npos);
    EXPECT_EQ(std::strlen(Parsed(written).GetString("long")), 255u);
}

TEST(SettingsFileWrite, EntriesThatWouldNotReadBackAreReportedAndLeftOut) {
    test::RecordingValidityHook hook;
    SettingsFile settings;
    for (const char* key : {"", "1abc", "a b", "a=b", "a\tb", "#x", "%s%n"}) {
        settings.SetString(key, "v");
    }
    settings.SetString("quote", "say \"hi\"");
    settings.SetString("lf", "two\nlines");
    settings.SetString("cr", "x\ry");
    settings.SetString("q\"uote%d", "kept");
    const std::string written = Written(settings);
    EXPECT_EQ(written, "q\"uote%d = \"kept\"\n");
    EXPECT_EQ(settings.GetSavedSize(), written.size());
    EXPECT_EQ(Entries(Parsed(written)), "q\"uote%d=kept;");
    ASSERT_EQ(hook.Messages().size(), 10u);
    EXPECT_NE(hook.Messages()[9].find("\"quote\""), std::string::npos) << hook.Messages()[9];
}

// Loading and saving through the disk ----------------------------------------------------------

class SettingsFileDisk : public ::testing::Test {
protected:
    SettingsFileDisk() : previous_(GetFileSystem()) {
        fileSystem_.SetBaseFolder(folder_.Path().c_str());
        SetFileSystem(&fileSystem_);
    }
    ~SettingsFileDisk() override { SetFileSystem(previous_); }

    test::TempFolder folder_;
    DiskFileSystem fileSystem_;
    FileSystem* previous_;
};

TEST_F(SettingsFileDisk, ASavedFileReadsBackAndSavesAgainByteForByteToTheLoadedPath) {
    const std::string text = "Alpha = \"x y\"\nempty = \"\"\nresource_path = \"data/\"\n";
    folder_.WriteFile("in.txt", text);
    SettingsFile settings("in.txt");
    ASSERT_TRUE(settings.SaveAs("out.txt", false));
    EXPECT_EQ(folder_.ReadFile("out.txt"), text);
    settings.SetInt("Beta", 2);
    ASSERT_TRUE(settings.Save(false)) << "Save writes to the path it was loaded from";
    EXPECT_EQ(folder_.ReadFile("in.txt"),
              "Alpha = \"x y\"\nBeta = \"2\"\nempty = \"\"\nresource_path = \"data/\"\n");
}

TEST_F(SettingsFileDisk, LoadingEmptiesTheStoreFirstAndAMissingFileLeavesItEmpty) {
    folder_.WriteFile("a.txt", "a = 1\nshared = a");
    folder_.WriteFile("b.txt", "b = 2\nshared = b");
    SettingsFile settings;
    ASSERT_TRUE(settings.Load("a.txt", false));
    ASSERT_TRUE(settings.Load("b.txt", false));
    EXPECT_EQ(Entries(settings), "b=2;shared=b;");
    EXPECT_FALSE(settings.Load("missing.txt", false));
    EXPECT_EQ(settings.GetCount(), 0);
    settings.SetString("made", "later");
    ASSERT_TRUE(settings.Save(false)) << "the path of a failed load is kept";
    EXPECT_EQ(folder_.ReadFile("missing.txt"), "made = \"later\"\n");
    // Sparse: the size counts, not the bytes on the disk.
    ASSERT_EQ(truncate(folder_.WriteFile("huge.txt", "a = 1\n").c_str(), (64 << 20) + 1), 0);
    ASSERT_TRUE(settings.Load("a.txt", false));
    EXPECT_FALSE(settings.Load("huge.txt", false));
    EXPECT_EQ(settings.GetCount(), 0);
}

// The engine's own file is read only up to its cap, so a huge one costs a start nothing; one
// left unread is never written over, whatever the engine changes.
TEST_F(SettingsFileDisk, TheEnginesFilePastItsCapIsNeitherReadNorWrittenOver) {
    test::CapturingLogSink log;
    SettingsFile& user = GetUserSettings();
    const std::string entry = "recent_file1 = \"level.scene\"\n";
    for (const uint32_t size : {MaxUserSettingsBytes, MaxUserSettingsBytes + 1}) {
        const std::string text = entry + std::string(size - entry.size(), '#');
        folder_.WriteFile("init.txt", text);
        LoadUserSettings("init.txt");
        const bool read = size <= MaxUserSettingsBytes;
        EXPECT_EQ(user.HasKey("recent_file1"), read) << size;
        user.SetString("editor_windowpos", "1,2");
        EXPECT_EQ(SaveChangedUserSettings(), read) << size;
        EXPECT_EQ(folder_.ReadFile("init.txt") == text, !read) << size;
    }
    EXPECT_TRUE(log.Contains("The engine's settings in init.txt are kept in memory only"));
    user.Clear();
    user.SetPath("");
}

TEST_F(SettingsFileDisk, AReadOnlyFileIsNotOverwrittenNoFolderIsMadeAndALeftOutEntryIsNoFailure) {
    const std::string path = folder_.WriteFile("locked.txt", "old = 1\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    SettingsFile settings;
    settings.SetString("new", "2");
    EXPECT_FALSE(settings.SaveAs("locked.txt", false));
    EXPECT_EQ(folder_.ReadFile("locked.txt"), "old = 1\n");
    EXPECT_FALSE(settings.SaveAs("no/such/folder.txt", false));
    EXPECT_FALSE(fileSystem_.Exists("no"));
    test::RecordingValidityHook hook;
    settings.SetString("b", "\"");
    EXPECT_TRUE(settings.SaveAs("out.txt", false));
    EXPECT_EQ(folder_.ReadFile("out.txt"), "new = \"2\"\n");
}

TEST_F(SettingsFileDisk, AScrambledFileIsStoredScrambledAndReadsBackScrambled) {
    SettingsFile settings;
    settings.SetString("key", "value");
    ASSERT_TRUE(settings.SaveAs("s.txt", true));
    EXPECT_EQ(folder_.ReadFile("s.txt"), test::Scrambled("key = \"value\"\n"));
    SettingsFile loaded;
    ASSERT_TRUE(loaded.Load("s.txt", true));
    EXPECT_EQ(Entries(loaded), "key=value;");
}

} // namespace
} // namespace quarn
