// The real worker on its own thread over real folder trees, with the main thread polling as the run flow
// does: built with ThreadSanitizer this shows any access to shared state outside the flag's hand-over.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "AppFakes.h"
#include "app/KorvApp.h"
#include "app/posix/PosixPlatform.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace fs = std::filesystem;

namespace {

class ScanThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_start = fs::current_path();
        save("XDG_DATA_DIRS");
        save("HOME");
        fs::create_directories(share() + "/Quorvane");
        fs::create_directories(share() + "/fonts");
        fs::create_directories(home() + "/Desktop");
        setenv("XDG_DATA_DIRS", share().c_str(), 1);
        setenv("HOME", home().c_str(), 1);
        writeFile(share() + "/Quorvane/FontCat.awfc", simpleCatalog());
    }
    void TearDown() override {
        fs::current_path(m_start);
        for (auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    std::string share() const { return dir.path() + "/share"; }
    std::string home() const { return dir.path() + "/home"; }
    static void writeFile(const std::string& path, const Bytes& bytes) {
        fs::create_directories(fs::path(path).parent_path());
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    void save(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        m_saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }

    // A tree of many small files in nested folders, with catalog fonts in both roots.
    void populate(int folders, int filesPerFolder) {
        for (int d = 0; d < folders; ++d) {
            const std::string folder = share() + "/fonts/f" + std::to_string(d) + "/inner";
            for (int i = 0; i < filesPerFolder; ++i)
                writeFile(folder + "/n" + std::to_string(i) + (i % 2 ? ".ttf" : ".txt"), asBytes("no font"));
        }
        writeFile(share() + "/fonts/f0/test.ttf", trueTypeFont(u"Test Font"));
        writeFile(home() + "/.local/share/fonts/日本語/test-user.ttf", trueTypeFont(u"Test Font"));
        writeFile(share() + "/fonts/hidden.ttf", trueTypeFont(u"Hidden Font"));
    }

    TempDir dir;
    fs::path m_start;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(ScanThreadTest, RealWorkerAgainstRealTreesHandsOverThroughTheFlag) {
    populate(20, 25);
    for (int run = 0; run < 3; ++run) {
        PosixPlatform platform;
        ScriptedUi ui;
        ui.saveChoice = utf8ToUtf16(home() + "/Desktop/out" + std::to_string(run) + ".json");
        CKorvApp app(platform, ui);
        EXPECT_FALSE(app.InitInstance());
        ASSERT_EQ(app.m_nStatus, kOk) << run;
        EXPECT_EQ(app.m_bScanDone.load(), 1);
        EXPECT_EQ(app.m_nProgressTotal.load(), 20 * 25 + 3);
        EXPECT_EQ(ui.events, (std::vector<std::string>{"init", "register", "progress", "save", "instructions",
                                                       "cleanup"}));
        EXPECT_EQ(ui.progress.positions.back(), 100);
        EXPECT_EQ(ui.progress.refreshes, 2);

        std::FILE* f = std::fopen((home() + "/Desktop/out" + std::to_string(run) + ".json").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        char buffer[4096];
        const size_t n = std::fread(buffer, 1, sizeof buffer, f);
        std::fclose(f);
        EXPECT_EQ(std::string(buffer, n),
                  "{\n  \"version\": \"1.0\",\n  \"fontlist\": [\n"
                  "    {\n      \"filename\": \"test.ttf\"\n    },\n"
                  "    {\n      \"filename\": \"test-user.ttf\"\n    }\n  ]\n}\n");
    }
}

TEST_F(ScanThreadTest, WorkerFindingNothingStillHandsOver) {
    populate(5, 10);
    fs::remove(share() + "/fonts/f0/test.ttf");
    fs::remove_all(home() + "/.local");
    PosixPlatform platform;
    ScriptedUi ui;
    CKorvApp app(platform, ui);
    app.InitInstance();
    EXPECT_EQ(app.m_nStatus, kNoFontsFound);
    EXPECT_EQ(ui.messages, std::vector<uint32_t>{132});
}

}  // namespace
