#include "app/FontScan.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "AppFakes.h"
#include "app/FontList.h"
#include "app/KorvApp.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace {

// What the stand-in identification answers, by file name; records every full path it is asked about.
struct IdentifyScript {
    std::map<std::u16string, int32_t> group;   // status 0 with this group
    std::map<std::u16string, int32_t> status;  // this status, nothing matched
    int32_t defaultGroup = 0;                  // for names in neither map
    std::vector<std::u16string> paths;
};
IdentifyScript* g_script = nullptr;

int32_t scriptedIdentify(const char16_t* path, const FontCatalog&, FontIdentity& result) {
    result.reset();
    const std::u16string full(path);
    g_script->paths.push_back(full);
    const std::u16string name = full.substr(full.rfind(u'/') + 1);
    if (const auto it = g_script->status.find(name); it != g_script->status.end()) return it->second;
    const auto it = g_script->group.find(name);
    result.group = it != g_script->group.end() ? it->second : g_script->defaultGroup;
    if (result.group != -1) result.formatSlot = 3, result.entryIndex = 0;
    return kOk;
}

const std::u16string kSystem = u"/sys/fonts";
const std::u16string kUser = u"/home/u/.local/share/fonts";

std::u16string repeat(char16_t c, size_t n) {
    return std::u16string(n, c);
}

class FontScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = &script;
        const std::u16string catalogPath = catalogDir.write("FontCat.awfc", simpleCatalog());
        std::copy(catalogPath.begin(), catalogPath.end(), app.m_szCatalogPath);
        std::copy(kSystem.begin(), kSystem.end(), app.m_szFontsFolder);
        platform.environment[u"HOME"] = u"/home/u";
    }
    void TearDown() override { g_script = nullptr; }

    // Runs the worker on this thread; returns the list text.
    std::string scan() {
        ScanFonts(app, scriptedIdentify);
        EXPECT_EQ(app.m_bScanDone.load(), 1);
        return app.m_pJsonBuffer ? std::string(app.m_pJsonBuffer, size_t(app.m_nJsonLength)) : std::string();
    }

    // The names in the list, in order.
    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        if (!app.m_pJsonBuffer) return names;
        const std::string text(app.m_pJsonBuffer, size_t(app.m_nJsonLength));
        const std::string key = "\"filename\": \"";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            const size_t start = at + key.size();
            names.push_back(text.substr(start, text.find("\"\n", start) - start));
        }
        return names;
    }

    std::vector<std::string> identified() const {
        std::vector<std::string> paths;
        for (const auto& p : script.paths) paths.push_back(utf16ToUtf8(p));
        return paths;
    }

    TempDir catalogDir;
    IdentifyScript script;
    FakePlatform platform;
    ScriptedUi ui;
    CKorvApp app{platform, ui};
};

TEST_F(FontScanTest, WalksSystemRootThenUserRootDepthFirstLatestSubfolderFirst) {
    platform.addFile(kSystem + u"/a.ttf");
    platform.addFile(kSystem + u"/sub1/x.ttf");
    platform.addFile(kSystem + u"/sub1/deep/y.ttf");
    platform.addFile(kSystem + u"/b.ttf");
    platform.addFile(kSystem + u"/sub2/z.ttf");
    platform.addFile(kUser + u"/u.ttf");
    scan();
    EXPECT_EQ(app.m_nStatus, kOk);
    EXPECT_EQ(identified(),
              (std::vector<std::string>{"/sys/fonts/a.ttf", "/sys/fonts/b.ttf", "/sys/fonts/sub2/z.ttf",
                                        "/sys/fonts/sub1/x.ttf", "/sys/fonts/sub1/deep/y.ttf",
                                        "/home/u/.local/share/fonts/u.ttf"}));
    EXPECT_EQ(listed(), (std::vector<std::string>{"a.ttf", "b.ttf", "z.ttf", "x.ttf", "y.ttf", "u.ttf"}));
    EXPECT_EQ(app.m_nProgressTotal.load(), 6);
    EXPECT_EQ(app.m_nProgressCount.load(), 6);
    // The walk returns to each root through the ".." markers and is left at the last root.
    EXPECT_EQ(platform.cwd(), kUser);
}

TEST_F(FontScanTest, FontInBothRootsIsListedTwiceSystemFirst) {
    platform.addFile(kUser + u"/same.ttf");
    platform.addFile(kUser + u"/user.ttf");
    platform.addFile(kSystem + u"/same.ttf");
    scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"same.ttf", "same.ttf", "user.ttf"}));
}

TEST_F(FontScanTest, OnlyStatusZeroWithAListableGroupQualifiesButEveryFileCounts) {
    for (auto name : {u"font.ttf", u"other.txt", u"group7.ttf", u"unmatched.ttf", u"broken.otf",
                      u"nokind.ttc", u"group11.ttf", u"openfail.ttf"})
        platform.addFile(kSystem + u"/" + name);
    script.group[u"other.txt"] = -1;
    script.group[u"nokind.ttc"] = -1;
    script.group[u"group7.ttf"] = 7;
    script.group[u"group11.ttf"] = 11;
    script.status[u"unmatched.ttf"] = kNotMatched;
    script.status[u"broken.otf"] = kParamError;
    script.status[u"openfail.ttf"] = 13;  // the platform's error number from opening
    scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"font.ttf", "group11.ttf"}));
    EXPECT_EQ(app.m_nProgressTotal.load(), 8);
    EXPECT_EQ(app.m_nStatus, kOk);
}

TEST_F(FontScanTest, DotFoldersOtherThanDotAndDotDotAreWalked) {
    platform.addFile(kSystem + u"/.hidden/h.ttf");
    platform.addFile(kSystem + u"/..x/k.ttf");
    platform.addFile(kSystem + u"/.../e.ttf");
    scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"e.ttf", "k.ttf", "h.ttf"}));
}

TEST_F(FontScanTest, MissingUserFolderLeavesTheSystemFolderAlone) {
    platform.addFile(kSystem + u"/a.ttf");
    platform.addDirectory(u"/home/u");
    scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"a.ttf"}));
    EXPECT_EQ(app.m_nStatus, kOk);
}

TEST_F(FontScanTest, UnsetOrOverlongProfileVariableSkipsTheUserFolder) {
    platform.addFile(kSystem + u"/a.ttf");
    platform.environment.clear();  // "%HOME%" stays as written and names no folder
    scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"a.ttf"}));

    // An expansion of 260 units does not fit with its terminator; one that fits but leaves no room for the
    // suffix is not walked either (a truncated path would name another folder).
    for (size_t length : {size_t(260), kMaxPathUnits - 1 - (sizeof kUserFontsSuffix / 2 - 1) + 1}) {
        FakePlatform other;
        other.addFile(kSystem + u"/a.ttf");
        const std::u16string home = u"/" + repeat(u'h', length - 1);
        other.environment[u"HOME"] = home;
        ScriptedUi otherUi;
        CKorvApp otherApp(other, otherUi);
        std::copy(app.m_szCatalogPath, app.m_szCatalogPath + kMaxPathUnits, otherApp.m_szCatalogPath);
        std::copy(kSystem.begin(), kSystem.end(), otherApp.m_szFontsFolder);
        ScanFonts(otherApp, scriptedIdentify);
        EXPECT_EQ(otherApp.m_nStatus, kOk) << length;
        EXPECT_EQ(other.directoryChanges, 2) << length;  // the system root, once per pass, and nothing else
    }
}

TEST_F(FontScanTest, UnenterableSystemFolderStillWalksTheUserFolder) {
    platform.addFile(kSystem + u"/a.ttf");
    platform.node(kSystem).enterFails = true;
    platform.addFile(kUser + u"/u.ttf");
    scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"u.ttf"}));
}

TEST_F(FontScanTest, UnlistableOrUnenterableSubfoldersAreDroppedSilently) {
    platform.addFile(kSystem + u"/locked/l.ttf");
    platform.addFile(kSystem + u"/closed/c.ttf");
    platform.addFile(kSystem + u"/open/o.ttf");
    platform.node(kSystem + u"/locked").listingFails = true;
    platform.node(kSystem + u"/closed").enterFails = true;
    scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"o.ttf"}));
    EXPECT_EQ(platform.cwd(), kSystem);  // back at the root although two folders failed
}

TEST_F(FontScanTest, MorePendingFoldersThanTheOld64SlotsLoseNothing) {
    for (int i = 0; i < 70; ++i) platform.addDirectory(kSystem + u"/d" + utf8ToUtf16(std::to_string(i)));
    platform.addFile(kSystem + u"/root.ttf");  // listed after 70 pending folders
    for (int i = 0; i < 70; ++i) {
        const std::u16string dir = kSystem + u"/d" + utf8ToUtf16(std::to_string(i));
        if (i == 63) platform.addFile(dir + u"/inner/i.ttf");  // a 71st pending folder while d63 is listed
        platform.addFile(dir + u"/f" + utf8ToUtf16(std::to_string(i)) + u".ttf");
    }
    scan();
    std::vector<std::string> expected{"root.ttf"};
    for (int i = 69; i >= 63; --i) expected.push_back("f" + std::to_string(i) + ".ttf");
    expected.push_back("i.ttf");
    for (int i = 62; i >= 0; --i) expected.push_back("f" + std::to_string(i) + ".ttf");
    EXPECT_EQ(listed(), expected);
    EXPECT_EQ(app.m_nProgressTotal.load(), 72);
    EXPECT_EQ(app.m_nStatus, kOk);
    EXPECT_EQ(platform.cwd(), kSystem);
}

TEST_F(FontScanTest, DeepAndWideTreeIsWalkedCompletely) {
    // 300 folders side by side, each with a nested folder: far past any fixed stack.
    size_t files = 0;
    for (int i = 0; i < 300; ++i) {
        const std::u16string dir = kSystem + u"/w" + utf8ToUtf16(std::to_string(i));
        platform.addFile(dir + u"/a.ttf");
        platform.addFile(dir + u"/n/b.ttf");
        files += 2;
    }
    scan();
    EXPECT_EQ(listed().size(), files);
    EXPECT_EQ(platform.cwd(), kSystem);
}

TEST_F(FontScanTest, SixtyFourPendingFoldersFitExactly) {
    for (int i = 0; i < 64; ++i) {
        const std::u16string dir = kSystem + u"/d" + utf8ToUtf16(std::to_string(i));
        platform.addFile(dir + u"/f.ttf");
    }
    platform.addFile(kSystem + u"/root.ttf");
    scan();
    EXPECT_EQ(listed().size(), 65u);
    EXPECT_EQ(listed().front(), "root.ttf");
}

TEST_F(FontScanTest, LongNamesBeyond128BytesPerFileAreAllListed) {
    const std::u16string long1 = repeat(u'a', 216) + u".ttf";  // 220 units: more than 128 bytes an entry
    const std::u16string long2 = repeat(u'b', 216) + u".ttf";
    platform.addFile(kSystem + u"/sub/d.ttf");
    platform.addFile(kSystem + u"/" + long1);
    platform.addFile(kSystem + u"/" + long2);
    platform.addFile(kSystem + u"/c.ttf");
    const std::string text = scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{utf16ToUtf8(long1), utf16ToUtf8(long2), "c.ttf", "d.ttf"}));
    EXPECT_EQ(app.m_nJsonLength, 37 + (33 + 220) + (34 + 220) + (34 + 5) + (34 + 5) + 7);
    EXPECT_EQ(text.substr(text.size() - 7), "\n  ]\n}\n");
    EXPECT_EQ(script.paths.size(), 4u);
}

namespace {

// A progress window that adds files to the platform when the listing pass starts (its second refresh):
// files that appear between the counting pass and the listing pass.
class GrowingProgress final : public ProgressWindow {
public:
    GrowingProgress(FakePlatform& platform, std::u16string folder, int count)
        : m_platform(platform), m_folder(std::move(folder)), m_count(count) {}
    void setPosition(int32_t) override {}
    bool isVisible() override { return true; }
    void close() override {}
    void refresh() override {
        if (++m_refreshes != 2) return;
        for (int i = 0; i < m_count; ++i)
            m_platform.addFile(m_folder + u"/late" + utf8ToUtf16(std::to_string(i)) + u"-" +
                               repeat(u'x', 100) + u".ttf");
    }

private:
    FakePlatform& m_platform;
    std::u16string m_folder;
    int m_count;
    int m_refreshes = 0;
};

}  // namespace

TEST_F(FontScanTest, FilesAppearingBetweenThePassesGrowTheListInsteadOfBeingDropped) {
    platform.addFile(kSystem + u"/a.ttf");
    GrowingProgress progress(platform, kSystem, 50);
    app.m_pProgressWnd = &progress;
    scan();
    app.m_pProgressWnd = nullptr;
    EXPECT_EQ(app.m_nStatus, kOk);
    EXPECT_EQ(app.m_nProgressTotal.load(), 1);
    EXPECT_EQ(listed().size(), 51u);
    const std::string text(app.m_pJsonBuffer, size_t(app.m_nJsonLength));
    EXPECT_EQ(text.substr(0, 37), "{\n  \"version\": \"1.0\",\n  \"fontlist\": [");
    EXPECT_EQ(text.substr(text.size() - 7), "\n  ]\n}\n");
}

TEST_F(FontScanTest, JapaneseNamesAreListedInUtf8) {
    platform.addFile(kSystem + u"/IPAゴシック.ttf");
    platform.addFile(kUser + u"/日本語フォント/明朝.otf");
    const std::string text = scan();
    EXPECT_EQ(listed(), (std::vector<std::string>{"IPAゴシック.ttf", "明朝.otf"}));
    EXPECT_NE(text.find("\"filename\": \"IPAゴシック.ttf\""), std::string::npos);
}

TEST_F(FontScanTest, FilePathsUpTo259UnitsAreIdentified) {
    // "/sys/fonts/" + 200 units of folder = 211 units of current directory; with the separator 212.
    const std::u16string dir = kSystem + u"/" + repeat(u'd', 200);
    const std::u16string fits = repeat(u'f', 43) + u".ttf";  // 212 + 47 = 259
    const std::u16string over = repeat(u'g', 44) + u".ttf";  // 260
    platform.addFile(dir + u"/" + fits);
    platform.addFile(dir + u"/" + over);
    scan();
    ASSERT_EQ(script.paths.size(), 1u);
    EXPECT_EQ(script.paths[0].size(), 259u);
    EXPECT_EQ(listed(), std::vector<std::string>{utf16ToUtf8(fits)});
    EXPECT_EQ(app.m_nProgressTotal.load(), 2);  // the skipped file still counts
}

TEST_F(FontScanTest, RootAtTheCurrentDirectoryLimitCountsButIdentifiesNothing) {
    const std::u16string root = u"/" + repeat(u'r', 257);  // 258 units: no room after the separator
    std::copy(root.begin(), root.end(), app.m_szFontsFolder);
    app.m_szFontsFolder[root.size()] = u'\0';
    platform.addFile(root + u"/a");
    scan();
    EXPECT_TRUE(script.paths.empty());
    EXPECT_EQ(app.m_nProgressTotal.load(), 1);
    EXPECT_EQ(app.m_nStatus, kNoFontsFound);
}

TEST_F(FontScanTest, SubfolderLengthTestWithShortCurrentDirectory) {
    // Current directory "/r" (2 units, below 16): entered when 2 + N + 3 <= 259.
    const std::u16string root = u"/r";
    std::copy(root.begin(), root.end(), app.m_szFontsFolder);
    app.m_szFontsFolder[2] = u'\0';
    const std::u16string enters = repeat(u'e', 254);
    const std::u16string dropped = repeat(u'x', 255);
    platform.addFile(root + u"/" + enters + u"/a");
    platform.addFile(root + u"/" + enters + u"/bb");
    platform.addFile(root + u"/" + dropped + u"/c");
    scan();
    // In the entered folder (257 units) a file path has room for a 1-unit name only.
    ASSERT_EQ(script.paths.size(), 1u);
    EXPECT_EQ(script.paths[0], root + u"/" + enters + u"/a");
    EXPECT_EQ(app.m_nProgressTotal.load(), 2);
}

TEST_F(FontScanTest, SubfolderLengthTestWithLongCurrentDirectory) {
    // Current directory of C >= 16 units: the probe answers C + 1, so a folder is entered when
    // C + 1 + N + 3 <= 259.
    const std::u16string root = u"/" + repeat(u'r', 99);  // 100 units
    std::copy(root.begin(), root.end(), app.m_szFontsFolder);
    app.m_szFontsFolder[root.size()] = u'\0';
    platform.addFile(root + u"/" + repeat(u'e', 155) + u"/i");  // 256 + 1 + 1 units of path
    platform.addFile(root + u"/" + repeat(u'x', 156) + u"/o");
    scan();
    EXPECT_EQ(listed(), std::vector<std::string>{"i"});
    EXPECT_EQ(app.m_nProgressTotal.load(), 1);
}

TEST_F(FontScanTest, NoFileAtAllEndsWithNoFontsFoundAndAnEmptyList) {
    platform.addDirectory(kSystem);
    const std::string text = scan();
    EXPECT_EQ(app.m_nStatus, kNoFontsFound);
    EXPECT_EQ(text, std::string(kJsonHeader) + kJsonClosing);
    EXPECT_EQ(app.m_nProgressTotal.load(), 0);
}

TEST_F(FontScanTest, NoQualifyingFileEndsWithNoFontsFound) {
    platform.addFile(kSystem + u"/a.txt");
    platform.addFile(kSystem + u"/b.ttf");
    script.defaultGroup = -1;
    const std::string text = scan();
    EXPECT_EQ(app.m_nStatus, kNoFontsFound);
    EXPECT_EQ(text, std::string(kJsonHeader) + kJsonClosing);
    EXPECT_EQ(app.m_nJsonLength, 44);
}

TEST_F(FontScanTest, ProgressTotalAfterCountingAndCountRestartsForListing) {
    platform.addFile(kSystem + u"/a.ttf");
    platform.addFile(kSystem + u"/b.ttf");
    platform.addFile(kUser + u"/c.ttf");
    ScriptedUi::Progress progress;
    app.m_pProgressWnd = &progress;
    std::vector<std::pair<int32_t, int32_t>> seen;  // (count, total) at each identification
    static std::vector<std::pair<int32_t, int32_t>>* s_seen;
    static CKorvApp* s_app;
    s_seen = &seen;
    s_app = &app;
    ScanFonts(app, [](const char16_t*, const FontCatalog&, FontIdentity& r) {
        s_seen->emplace_back(s_app->m_nProgressCount.load(), s_app->m_nProgressTotal.load());
        r.reset();
        return kOk;
    });
    EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(progress.refreshes, 2);  // once at the start of each pass
}

TEST_F(FontScanTest, MissingCatalogBecomesNoCatalogWithoutAWalk) {
    const std::u16string missing = utf8ToUtf16(catalogDir.path() + "/absent.awfc");
    std::copy(missing.begin(), missing.end(), app.m_szCatalogPath);
    app.m_szCatalogPath[missing.size()] = u'\0';
    platform.addFile(kSystem + u"/a.ttf");
    scan();
    EXPECT_EQ(app.m_nStatus, kNoCatalog);
    EXPECT_EQ(platform.listings, 0);
    EXPECT_EQ(app.m_pJsonBuffer, nullptr);
}

TEST_F(FontScanTest, RejectedCatalogKeepsTheLoaderStatusWithoutAWalk) {
    const std::u16string path = catalogDir.write("v3.awfc", catalogImage({}, 0x00030000));
    std::copy(path.begin(), path.end(), app.m_szCatalogPath);
    app.m_szCatalogPath[path.size()] = u'\0';
    platform.addFile(kSystem + u"/a.ttf");
    scan();
    EXPECT_EQ(app.m_nStatus, kGeneralError);
    EXPECT_EQ(platform.listings, 0);
}

TEST_F(FontScanTest, TooManyFilesForA32BitListIsOutOfMemoryWithoutListing) {
    // 2^24 files need 2^31 bytes: one more than a 32-bit length can describe.
    platform.addDirectory(kSystem);
    platform.node(kSystem).generatedFiles = int64_t(INT32_MAX / kJsonBytesPerFile) + 1;
    scan();
    EXPECT_EQ(app.m_nStatus, kOutOfMemory);
    EXPECT_EQ(app.m_nProgressTotal.load(), INT32_MAX / kJsonBytesPerFile + 1);
    EXPECT_EQ(app.m_pJsonBuffer, nullptr);
    EXPECT_TRUE(script.paths.empty());
}

TEST(LoadCatalogFileTest, StatusesOfReadingAndLoading) {
    TempDir dir;
    FontCatalog catalog;
    EXPECT_EQ(LoadCatalogFile(dir.write("ok.awfc", simpleCatalog()).c_str(), catalog), kOk);
    int32_t group = -1;
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"Test Font", group), 0);
    EXPECT_EQ(group, 1);

    // Reloading resets first: the old entries are gone when the new file is rejected.
    EXPECT_EQ(LoadCatalogFile(dir.write("v3.awfc", catalogImage({}, 0x00030000)).c_str(), catalog),
              kGeneralError);
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"Test Font", group), -1);

    EXPECT_EQ(LoadCatalogFile(utf8ToUtf16(dir.path() + "/missing.awfc").c_str(), catalog), kIoError);
    EXPECT_EQ(LoadCatalogFile(dir.write("empty.awfc", {}).c_str(), catalog), kGeneralError);
    // A folder opens but cannot be read.
    EXPECT_EQ(LoadCatalogFile(utf8ToUtf16(dir.path()).c_str(), catalog), kIoError);
}

}  // namespace
