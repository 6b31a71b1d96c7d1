#include "app/posix/PosixPlatform.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AppFakes.h"
#include "app/FontScan.h"
#include "app/KorvApp.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace fs = std::filesystem;

namespace {

// Sets (or unsets, with nullopt) an environment variable for the length of a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// The process's working directory is changed by the port: put it back after each test.
class PosixPlatformTest : public ::testing::Test {
protected:
    void SetUp() override { m_start = fs::current_path(); }
    void TearDown() override { fs::current_path(m_start); }

    std::u16string u(const std::string& s) { return utf8ToUtf16(s); }
    std::string root() const { return dir.path(); }
    void touch(const std::string& relative, const std::string& content = "x") {
        std::ofstream(root() + "/" + relative, std::ios::binary) << content;
    }
    void mkdirs(const std::string& relative) { fs::create_directories(root() + "/" + relative); }

    std::u16string cwd() {
        char16_t buffer[kMaxPathUnits];
        const uint32_t n = platform.getCurrentDirectory(kMaxPathUnits, buffer);
        return n == 0 || n >= kMaxPathUnits ? std::u16string() : std::u16string(buffer, n);
    }

    std::vector<std::string> list() {
        std::vector<std::string> names;
        auto listing = platform.listCurrentDirectory();
        if (!listing) return {"<failed>"};
        DirectoryEntry e;
        while (listing->next(e)) names.push_back((e.isDirectory ? "D " : "F ") + utf16ToUtf8(e.name));
        return names;
    }

    std::string read(const std::string& path) {
        std::string out;
        if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
            char chunk[4096];
            size_t n;
            while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
            std::fclose(f);
        }
        return out;
    }

    std::vector<std::string> entriesOf(const std::string& path) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    PosixPlatform platform;
    fs::path m_start;
};

TEST(PosixPathTest, NormalisationIsLexical) {
    EXPECT_EQ(normalisePath(u"/"), u"/");
    EXPECT_EQ(normalisePath(u"/a/b/"), u"/a/b");
    EXPECT_EQ(normalisePath(u"//a/./b//c/.."), u"/a/b");
    EXPECT_EQ(normalisePath(u"/../.."), u"/");
    EXPECT_EQ(normalisePath(u"/a/.../b"), u"/a/.../b");
}

TEST(PosixPathTest, ListingOrderFoldsAsciiLettersOnly) {
    std::vector<std::u16string> names = {u"b", u"ä", u"_x", u"a", u"Z", u"B", u"A", u"ab", u"Ä"};
    std::sort(names.begin(), names.end(), listingOrderLess);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"a", u"ab", u"B", u"b", u"Z", u"_x", u"Ä", u"ä"}));
}

TEST_F(PosixPlatformTest, CurrentDirectoryIsLogicalAndLeavesALinkTheWayItCame) {
    mkdirs("a/inner");
    mkdirs("b/target");
    touch("b/target/t.ttf");
    fs::create_directory_symlink(root() + "/b/target", root() + "/a/link");
    ASSERT_TRUE(platform.setCurrentDirectory(u(root() + "/a").c_str()));
    ASSERT_TRUE(platform.setCurrentDirectory(u"link"));
    EXPECT_EQ(cwd(), u(root() + "/a/link"));
    EXPECT_EQ(list(), (std::vector<std::string>{"D .", "D ..", "F t.ttf"}));
    ASSERT_TRUE(platform.setCurrentDirectory(u".."));
    EXPECT_EQ(cwd(), u(root() + "/a"));
    EXPECT_EQ(fs::current_path(), fs::path(root() + "/a"));  // the process really is there
    EXPECT_FALSE(platform.setCurrentDirectory(u"missing"));
    EXPECT_EQ(platform.getLastError(), uint32_t(ENOENT));
    EXPECT_EQ(cwd(), u(root() + "/a"));
}

TEST_F(PosixPlatformTest, GetCurrentDirectoryReturnsLengthOrSizeNeeded) {
    ASSERT_TRUE(platform.setCurrentDirectory(u(root()).c_str()));
    const size_t length = root().size();
    ASSERT_GE(length, 16u);
    char16_t small[16];
    std::fill(std::begin(small), std::end(small), u'#');
    EXPECT_EQ(platform.getCurrentDirectory(16, small), length + 1);
    EXPECT_EQ(small[0], u'#');  // nothing copied
    std::vector<char16_t> exact(length + 1);
    EXPECT_EQ(platform.getCurrentDirectory(uint32_t(length + 1), exact.data()), length);
    EXPECT_EQ(platform.getCurrentDirectory(uint32_t(length), exact.data()), length + 1);

    ASSERT_TRUE(platform.setCurrentDirectory(u"/"));
    EXPECT_EQ(platform.getCurrentDirectory(16, small), 1u);
    EXPECT_EQ(std::u16string(small), u"/");
}

TEST_F(PosixPlatformTest, CurrentDirectoryLongerThan258UnitsIsRefused) {
    ASSERT_TRUE(platform.setCurrentDirectory(u(root()).c_str()));
    const size_t base = root().size() + 1;
    const std::string fits(258 - base, 'f');  // exactly 258 units
    const std::string over(259 - base, 'o');
    mkdirs(fits);
    mkdirs(over);
    EXPECT_TRUE(platform.setCurrentDirectory(u(fits).c_str()));
    EXPECT_EQ(cwd().size(), 258u);
    ASSERT_TRUE(platform.setCurrentDirectory(u(root()).c_str()));
    EXPECT_FALSE(platform.setCurrentDirectory(u(over).c_str()));
    EXPECT_EQ(platform.getLastError(), uint32_t(ENAMETOOLONG));
}

TEST_F(PosixPlatformTest, ListingIsSortedAndHoldsOnlyFilesAndFolders) {
    for (auto name : {"b.ttf", "A.ttf", "a.ttf", "_x.ttf", "Z.ttf", "ä.ttf"}) touch(name);
    mkdirs("Sub");
    fs::create_symlink(root() + "/a.ttf", root() + "/filelink.ttf");
    fs::create_directory_symlink(root() + "/Sub", root() + "/dirlink");
    fs::create_symlink(root() + "/gone", root() + "/dangling.ttf");
    ASSERT_EQ(mkfifo((root() + "/pipe.ttf").c_str(), 0600), 0);
    touch("\xff\xfe.ttf");                  // not UTF-8: cannot be named in UTF-16
    touch(std::string(200, 'n') + ".ttf");  // long but fine
    ASSERT_TRUE(platform.setCurrentDirectory(u(root()).c_str()));
    EXPECT_EQ(list(), (std::vector<std::string>{"D .", "D ..", "F A.ttf", "F a.ttf", "F b.ttf", "D dirlink",
                                                "F filelink.ttf", "F " + std::string(200, 'n') + ".ttf",
                                                "D Sub", "F Z.ttf", "F _x.ttf", "F ä.ttf"}));
}

TEST_F(PosixPlatformTest, LinkToAFolderAlreadyListedIsNotListedAgain) {
    mkdirs("fonts/sub");
    fs::create_directory_symlink(root() + "/fonts", root() + "/fonts/sub/loop");
    fs::create_directory_symlink(root() + "/fonts/sub", root() + "/fonts/again");
    ASSERT_TRUE(platform.setCurrentDirectory(u(root() + "/fonts").c_str()));
    EXPECT_EQ(list(), (std::vector<std::string>{"D .", "D ..", "D again", "D sub"}));
    ASSERT_TRUE(platform.setCurrentDirectory(u"sub"));
    EXPECT_EQ(list(), (std::vector<std::string>{"D .", "D .."}));  // "loop" leads back to a listed folder
    ASSERT_TRUE(platform.setCurrentDirectory(u".."));
    ASSERT_TRUE(platform.setCurrentDirectory(u"again"));
    EXPECT_EQ(list(), (std::vector<std::string>{"D .", "D .."}));
    // Setting an absolute directory starts a new walk: the same links are listed again.
    ASSERT_TRUE(platform.setCurrentDirectory(u(root() + "/fonts").c_str()));
    EXPECT_EQ(list(), (std::vector<std::string>{"D .", "D ..", "D again", "D sub"}));
}

// Folders that link to each other twice per level would double the walk at every level; the walk must
// stay linear and finish.
int32_t countingIdentify(const char16_t*, const FontCatalog&, FontIdentity& result) {
    result.reset();
    result.group = 0;
    return kOk;
}

TEST_F(PosixPlatformTest, WalkThroughLinkedFoldersStaysFinite) {
    // fonts/start -> chain/d0; each chain/dN holds a file and two links "a", "b" to dN+1 (met before dN+1
    // is listed) and "up" back to the root. Followed blindly that is 2^24 folders.
    const int levels = 24;
    mkdirs("fonts");
    for (int i = 0; i <= levels; ++i) {
        mkdirs("chain/d" + std::to_string(i));
        touch("chain/d" + std::to_string(i) + "/f" + std::to_string(i) + ".ttf");
    }
    fs::create_directory_symlink(root() + "/chain/d0", root() + "/fonts/start");
    for (int i = 0; i < levels; ++i) {
        const std::string here = root() + "/chain/d" + std::to_string(i);
        const std::string next = root() + "/chain/d" + std::to_string(i + 1);
        fs::create_directory_symlink(next, here + "/a");
        fs::create_directory_symlink(next, here + "/b");
        fs::create_directory_symlink(root() + "/fonts", here + "/up");
    }
    TempDir catalogDir;
    ScopedEnv home("HOME", root() + "/nohome");
    ScriptedUi ui;
    CKorvApp app(platform, ui);
    const std::u16string catalog = catalogDir.write("FontCat.awfc", simpleCatalog());
    std::copy(catalog.begin(), catalog.end(), app.m_szCatalogPath);
    const std::u16string fonts = u(root() + "/fonts");
    std::copy(fonts.begin(), fonts.end(), app.m_szFontsFolder);
    const auto start = std::chrono::steady_clock::now();
    ScanFonts(app, countingIdentify);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(app.m_nStatus, kOk);
    // Each real folder is reached by its real path and at most once more through a link.
    EXPECT_GE(app.m_nProgressTotal.load(), levels + 1);
    EXPECT_LE(app.m_nProgressTotal.load(), 2 * (levels + 1));
}

TEST_F(PosixPlatformTest, ExpansionFollowsTheWindowsRules) {
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv unset("KORV_TEST_UNSET", std::nullopt);
    char16_t out[64];
    EXPECT_EQ(platform.expandEnvironmentStrings(u"%HOME%/x", out, 64), 16u);
    EXPECT_EQ(std::u16string(out), u"/home/someone/x");
    EXPECT_EQ(platform.expandEnvironmentStrings(u"%KORV_TEST_UNSET%-100%-%%", out, 64), 26u);
    EXPECT_EQ(std::u16string(out), u"%KORV_TEST_UNSET%-100%-%%");
    EXPECT_EQ(platform.expandEnvironmentStrings(u"a%HOME%", out, 64), 15u);
    EXPECT_EQ(std::u16string(out), u"a/home/someone");
    // Too small: the size needed, nothing written.
    out[0] = u'#';
    EXPECT_EQ(platform.expandEnvironmentStrings(u"%HOME%", out, 13), 14u);
    EXPECT_EQ(out[0], u'#');
    EXPECT_EQ(platform.expandEnvironmentStrings(u"%HOME%", out, 14), 14u);
    EXPECT_EQ(std::u16string(out), u"/home/someone");
}

TEST_F(PosixPlatformTest, KnownFoldersComeFromTheEnvironment) {
    char16_t out[kMaxPathUnits];
    {
        ScopedEnv data("XDG_DATA_DIRS", "relative:/opt/data/:/usr/share");
        EXPECT_TRUE(platform.getFolderPath(KnownFolder::CommonAppData, out));
        EXPECT_EQ(std::u16string(out), u"/opt/data");
        EXPECT_TRUE(platform.getFolderPath(KnownFolder::Fonts, out));
        EXPECT_EQ(std::u16string(out), u"/opt/data/fonts");
    }
    {
        ScopedEnv data("XDG_DATA_DIRS", std::nullopt);
        EXPECT_TRUE(platform.getFolderPath(KnownFolder::CommonAppData, out));
        EXPECT_EQ(std::u16string(out), u"/usr/share");
    }
    {
        ScopedEnv data("XDG_DATA_DIRS", "/" + std::string(300, 'x'));
        EXPECT_FALSE(platform.getFolderPath(KnownFolder::CommonAppData, out));
        EXPECT_EQ(out[0], u'\0');
        EXPECT_EQ(platform.getLastError(), uint32_t(ENAMETOOLONG));
    }
    {
        ScopedEnv home("HOME", root());
        EXPECT_FALSE(platform.getFolderPath(KnownFolder::Desktop, out));  // no Desktop folder yet
        EXPECT_NE(platform.getLastError(), 0u);
        mkdirs("Desktop");
        EXPECT_TRUE(platform.getFolderPath(KnownFolder::Desktop, out));
        EXPECT_EQ(std::u16string(out), u(root() + "/Desktop"));
    }
    {
        ScopedEnv home("HOME", std::nullopt);
        EXPECT_FALSE(platform.getFolderPath(KnownFolder::Desktop, out));
    }
}

TEST_F(PosixPlatformTest, UserLocaleIsJapaneseOnlyForJa) {
    ScopedEnv all("LC_ALL", std::nullopt), messages("LC_MESSAGES", std::nullopt), lang("LANG", std::nullopt);
    EXPECT_EQ(platform.getUserDefaultLcid(), 1033u);
    {
        ScopedEnv l("LANG", "ja_JP.UTF-8");
        EXPECT_EQ(platform.getUserDefaultLcid(), 1041u);
        ScopedEnv a("LC_ALL", "C");  // the first one set decides
        EXPECT_EQ(platform.getUserDefaultLcid(), 1033u);
    }
    ScopedEnv m("LC_MESSAGES", "ja_JP.eucJP");
    EXPECT_EQ(platform.getUserDefaultLcid(), 1041u);
}

TEST_F(PosixPlatformTest, ReplaceFileWritesNewAndReplacesExistingEntirely) {
    const std::string target = root() + "/list.json";
    ASSERT_TRUE(platform.replaceFile(u(target).c_str(), "first version, rather long", 26));
    EXPECT_EQ(read(target), "first version, rather long");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_TRUE(platform.replaceFile(u(target).c_str(), "short", 5));
    EXPECT_EQ(read(target), "short");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the file keeps its permissions
    ASSERT_TRUE(platform.replaceFile(u(target).c_str(), "", 0));
    EXPECT_EQ(read(target), "");
    EXPECT_EQ(entriesOf(root()), std::vector<std::string>{"list.json"});  // no temporary left
}

TEST_F(PosixPlatformTest, ReplaceFileThroughALinkReplacesTheFileItNames) {
    mkdirs("real");
    touch("real/list.json", "old");
    fs::create_symlink(root() + "/real/list.json", root() + "/link.json");
    ASSERT_TRUE(platform.replaceFile(u(root() + "/link.json").c_str(), "new", 3));
    EXPECT_TRUE(fs::is_symlink(root() + "/link.json"));
    EXPECT_EQ(read(root() + "/real/list.json"), "new");
}

TEST_F(PosixPlatformTest, ReplaceFileFailuresLeaveEverythingAsItWas) {
    EXPECT_FALSE(platform.replaceFile(u(root() + "/missing/list.json").c_str(), "x", 1));
    EXPECT_EQ(platform.getLastError(), uint32_t(ENOENT));
    mkdirs("folder.json");
    EXPECT_FALSE(platform.replaceFile(u(root() + "/folder.json").c_str(), "x", 1));
    ASSERT_EQ(mkfifo((root() + "/pipe.json").c_str(), 0600), 0);
    EXPECT_FALSE(platform.replaceFile(u(root() + "/pipe.json").c_str(), "x", 1));
    EXPECT_FALSE(platform.replaceFile(u"", "x", 1));
    if (geteuid() != 0) {  // root may write anything
        touch("readonly.json", "keep");
        ASSERT_EQ(chmod((root() + "/readonly.json").c_str(), 0444), 0);
        EXPECT_FALSE(platform.replaceFile(u(root() + "/readonly.json").c_str(), "x", 1));
        EXPECT_EQ(read(root() + "/readonly.json"), "keep");
    }
    EXPECT_EQ(entriesOf(root()).size(), geteuid() != 0 ? 3u : 2u);
}

TEST_F(PosixPlatformTest, ShortWriteLeavesTheOldFileAndNoTemporary) {
    touch("list.json", "old content");
    // Files may not grow past 16 bytes: the write of 4096 stops short (EFBIG instead of the signal).
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string big(4096, 'x');
    const bool ok = platform.replaceFile(u(root() + "/list.json").c_str(), big.data(), big.size());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok);
    EXPECT_EQ(platform.getLastError(), uint32_t(EFBIG));
    EXPECT_EQ(read(root() + "/list.json"), "old content");
    EXPECT_EQ(entriesOf(root()), std::vector<std::string>{"list.json"});
}

uint32_t setFlag(void* parameter) {
    static_cast<std::atomic<int>*>(parameter)->store(1, std::memory_order_release);
    return 0;
}

TEST_F(PosixPlatformTest, StartedThreadRuns) {
    std::atomic<int> flag{0};
    ASSERT_TRUE(platform.startThread(setFlag, &flag));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (flag.load(std::memory_order_acquire) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(flag.load(), 1);
}

}  // namespace
