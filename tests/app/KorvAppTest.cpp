#include "app/KorvApp.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AppFakes.h"
#include "app/FontList.h"
#include "app/Strings.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace {

using Events = std::vector<std::string>;

// A run of InitInstance over a real catalog and real font files, reached through the fake platform's
// folders (the identification opens the real files by the paths the walk builds).
class KorvAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string quorvane = appData.path() + "/Quorvane";
        ASSERT_EQ(mkdir(quorvane.c_str(), 0755), 0);
        appData.write("Quorvane/FontCat.awfc", simpleCatalog());
        platform.folders[KnownFolder::CommonAppData] = utf8ToUtf16(appData.path());
        platform.folders[KnownFolder::Fonts] = fontsRoot();
        platform.folders[KnownFolder::Desktop] = u"/desk";
        platform.environment[u"HOME"] = u"/home/u";
        platform.addDirectory(fontsRoot());
    }

    std::u16string fontsRoot() const { return utf8ToUtf16(fonts.path()); }

    // A file both on disk and in the fake tree.
    void addFont(const std::string& name, const Bytes& bytes) {
        fonts.write(name, bytes);
        platform.addFile(fontsRoot() + u"/" + utf8ToUtf16(name));
    }
    void addCatalogFont() { addFont("test.ttf", trueTypeFont(u"Test Font")); }

    int32_t run() {
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.m_pJsonBuffer, nullptr);  // freed on every path
        return app.m_nStatus;
    }

    TempDir appData, fonts;
    FakePlatform platform;
    ScriptedUi ui;
    CKorvApp app{platform, ui};
};

const std::string kExpectedList =
    "{\n  \"version\": \"1.0\",\n  \"fontlist\": [\n    {\n      \"filename\": \"test.ttf\"\n    }\n  ]\n}\n";

TEST_F(KorvAppTest, SuccessSavesTheListAndShowsTheInstructionsOnly) {
    addCatalogFont();
    addFont("other.ttf", trueTypeFont(u"Not In Catalog"));
    addFont("hidden.ttf", trueTypeFont(u"Hidden Font"));  // group 7
    addFont("notes.txt", asBytes("not a font"));
    EXPECT_EQ(run(), kOk);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "save", "instructions", "cleanup"}));
    ASSERT_EQ(platform.replacedPaths, std::vector<std::u16string>{u"/out/FontsList.json"});
    EXPECT_EQ(platform.replacedBytes, kExpectedList);  // exactly the text: no terminator, no byte-order mark
    EXPECT_EQ(ui.saveTitle, u"フォントリストを保存");
    EXPECT_TRUE(ui.saveFolderGiven);
    EXPECT_EQ(ui.saveFolder, u"/desk");
    EXPECT_EQ(ui.saveProposed, u"/desk/FontsList.json");
    ASSERT_FALSE(ui.progress.positions.empty());
    EXPECT_EQ(ui.progress.positions.front(), 0);
    EXPECT_EQ(ui.progress.positions.back(), 100);
    EXPECT_TRUE(ui.progress.closed);
    EXPECT_GE(ui.pumps, 100);  // the final pumps after the scan
    EXPECT_EQ(CKorvApp::exitCodeFor(app.m_nStatus), 0);
}

TEST_F(KorvAppTest, SaveTitleIsEnglishForEveryOtherLocale) {
    addCatalogFont();
    for (uint32_t lcid : {1033u, 2052u, 0u}) {
        FakePlatform p = platform;
        p.lcid = lcid;
        ScriptedUi u;
        CKorvApp a(p, u);
        a.InitInstance();
        EXPECT_EQ(u.saveTitle, u"Save a font list") << lcid;
    }
}

TEST_F(KorvAppTest, WithoutADesktopTheBareNameIsProposed) {
    addCatalogFont();
    platform.folders.erase(KnownFolder::Desktop);
    EXPECT_EQ(run(), kOk);
    EXPECT_FALSE(ui.saveFolderGiven);
    EXPECT_EQ(ui.saveProposed, u"FontsList.json");
}

TEST_F(KorvAppTest, NoCatalogReportsNoAppThenInstructionsWithoutScanOrSave) {
    addCatalogFont();
    platform.folders[KnownFolder::CommonAppData] = u"/nowhere";
    EXPECT_EQ(run(), kNoCatalog);
    EXPECT_EQ(ui.events, (Events{"init", "register", "message 132", "instructions", "cleanup"}));
    EXPECT_TRUE(platform.replacedPaths.empty());
    EXPECT_EQ(CKorvApp::exitCodeFor(app.m_nStatus), 1);
}

TEST_F(KorvAppTest, CatalogPathThatDoesNotFitCountsAsNoCatalog) {
    platform.folders[KnownFolder::CommonAppData] = u"/" + std::u16string(240, u'a');  // + 22 > 259
    EXPECT_EQ(run(), kNoCatalog);
    EXPECT_EQ(ui.events, (Events{"init", "register", "message 132", "instructions", "cleanup"}));
}

TEST_F(KorvAppTest, NoCatalogFontReportsNoAppAfterTheScan) {
    addFont("other.ttf", trueTypeFont(u"Not In Catalog"));
    EXPECT_EQ(run(), kNoFontsFound);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "message 132", "instructions", "cleanup"}));
    EXPECT_TRUE(ui.progress.closed);
}

TEST_F(KorvAppTest, OutOfMemoryReportsMemoryAndEnds) {
    platform.node(fontsRoot()).generatedFiles = int64_t(INT32_MAX / kJsonBytesPerFile) + 1;
    EXPECT_EQ(run(), kOutOfMemory);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "message 130", "cleanup"}));
}

TEST_F(KorvAppTest, FailedWriteReportsFileErrorAndEnds) {
    addCatalogFont();
    platform.replaceFails = true;
    EXPECT_EQ(run(), kIoError);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "save", "message 131", "cleanup"}));
    EXPECT_EQ(CKorvApp::exitCodeFor(app.m_nStatus), 1);
}

TEST_F(KorvAppTest, CancelledSaveEndsSilently) {
    addCatalogFont();
    ui.saveResult = SaveDialogResult::Cancelled;
    EXPECT_EQ(run(), kUserCancelled);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "save", "cleanup"}));
    EXPECT_TRUE(platform.replacedPaths.empty());
    EXPECT_EQ(CKorvApp::exitCodeFor(app.m_nStatus), 2);
}

TEST_F(KorvAppTest, SaveDialogThatCannotBeShownIsAGeneralError) {
    addCatalogFont();
    ui.saveResult = SaveDialogResult::Failed;
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "save", "message 133", "cleanup"}));
}

TEST_F(KorvAppTest, RejectedCatalogIsAGeneralError) {
    appData.write("Quorvane/FontCat.awfc", catalogImage({}, 0x00030000));
    addCatalogFont();
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "message 133", "cleanup"}));
}

TEST_F(KorvAppTest, UnusableImageClassFailsBeforeAnyLookUp) {
    ui.classUsable = false;
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_EQ(ui.events, (Events{"init", "register", "message 133", "cleanup"}));
}

TEST_F(KorvAppTest, MissingAppDataFolderIsAGeneralError) {
    platform.folders.erase(KnownFolder::CommonAppData);
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_EQ(ui.events, (Events{"init", "register", "message 133", "cleanup"}));
}

TEST_F(KorvAppTest, MissingFontsFolderReportsTheLastErrorOrAGeneralError) {
    platform.folders.erase(KnownFolder::Fonts);
    platform.folderError = 5;
    EXPECT_EQ(run(), 5);
    EXPECT_EQ(ui.events, (Events{"init", "register", "message 133", "cleanup"}));

    // A failure without an error code must not pass for success.
    FakePlatform p = platform;
    p.folderError = 0;
    ScriptedUi u;
    CKorvApp a(p, u);
    a.InitInstance();
    EXPECT_EQ(a.m_nStatus, kGeneralError);
    EXPECT_EQ(u.events, (Events{"init", "register", "message 133", "cleanup"}));
}

TEST_F(KorvAppTest, ProgressWindowThatCannotBeCreatedIsAGeneralError) {
    addCatalogFont();
    ui.progressCreated = false;
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "message 133", "cleanup"}));
}

TEST_F(KorvAppTest, ExceptionsInTheProgressOrSaveStepAreGeneralErrors) {
    addCatalogFont();
    ui.throwIn = "showProgress";
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "message 133", "cleanup"}));

    ScriptedUi u;
    u.throwIn = "save";
    CKorvApp a(platform, u);
    a.InitInstance();
    EXPECT_EQ(a.m_nStatus, kGeneralError);
    EXPECT_EQ(u.events, (Events{"init", "register", "progress", "save", "message 133", "cleanup"}));
}

TEST_F(KorvAppTest, ThreadThatCannotStartFailsInsteadOfWaitingForever) {
    addCatalogFont();
    platform.threads = FakePlatform::Threads::Fail;
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_TRUE(ui.progress.closed);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "message 133", "cleanup"}));
}

// With a real worker thread: the wait loop polls until the flag, and the progress positions stay in range.
TEST_F(KorvAppTest, RealWorkerThreadEndsTheWaitWithTheFlag) {
    for (int i = 0; i < 200; ++i) addFont("f" + std::to_string(i) + ".txt", asBytes("x"));
    addCatalogFont();
    platform.threads = FakePlatform::Threads::Real;
    EXPECT_EQ(run(), kOk);
    EXPECT_EQ(app.m_bScanDone.load(), 1);
    EXPECT_EQ(platform.replacedBytes, kExpectedList);
    for (int32_t p : ui.progress.positions) {
        EXPECT_GE(p, 0);
        EXPECT_LE(p, 100);
    }
    EXPECT_EQ(ui.progress.positions.back(), 100);
    EXPECT_EQ(ui.progress.refreshes, 2);
}

// The wait loop does not spin: every poll is followed by a short wait for a message, and only the final
// pumps after the scan come without one.
TEST_F(KorvAppTest, WaitLoopWaitsForAMessageBetweenPolls) {
    for (int i = 0; i < 200; ++i) addFont("f" + std::to_string(i) + ".txt", asBytes("x"));
    addCatalogFont();
    platform.threads = FakePlatform::Threads::Real;
    // The worker holds at its first listing until the main thread has waited a few times.
    std::atomic<int> waits{0};
    ui.onWait = [&] { ++waits; };
    platform.onList = [&] {
        while (waits.load() < 3) std::this_thread::yield();
    };
    EXPECT_EQ(run(), kOk);
    ASSERT_GE(ui.polls.size(), size_t(6 + 100));
    const std::string loop = ui.polls.substr(0, ui.polls.size() - 100);
    for (size_t i = 0; i < loop.size(); ++i) ASSERT_EQ(loop[i], i % 2 ? 'w' : 'p') << i;
    EXPECT_EQ(loop.back(), 'w');
    EXPECT_EQ(ui.polls.substr(loop.size()), std::string(100, 'p'));
    for (uint32_t t : ui.waitTimes) {
        EXPECT_GE(t, 1u);   // a wait, not a poll
        EXPECT_LE(t, 20u);  // short enough for a fluent progress bar
    }
}

TEST_F(KorvAppTest, HiddenProgressWindowOnlyStopsTheUpdates) {
    for (int i = 0; i < 200; ++i) addFont("f" + std::to_string(i) + ".txt", asBytes("x"));
    addCatalogFont();
    platform.threads = FakePlatform::Threads::Real;
    ui.progress.visible = false;
    EXPECT_EQ(run(), kOk);
    EXPECT_EQ(ui.progress.positions, (std::vector<int32_t>{0, 100}));
}

// An exception in the wait loop while the worker runs: the flow waits for the worker before it touches the
// shared fields or frees the buffer (a sanitizer build sees any overlap).
TEST_F(KorvAppTest, ExceptionWhileTheWorkerRunsWaitsForItBeforeCleanUp) {
    for (int i = 0; i < 300; ++i) addFont("f" + std::to_string(i) + ".txt", asBytes("x"));
    addCatalogFont();
    platform.threads = FakePlatform::Threads::Real;
    // The worker holds at its first listing until the main thread has pumped once, so the exception
    // surely comes while it runs.
    std::atomic<bool> pumped{false};
    ui.onPump = [&] { pumped.store(true); };
    platform.onList = [&] {
        while (!pumped.load()) std::this_thread::yield();
    };
    ui.throwIn = "pump";
    EXPECT_EQ(run(), kGeneralError);
    EXPECT_EQ(app.m_bScanDone.load(), 1);
    EXPECT_EQ(ui.events, (Events{"init", "register", "progress", "message 133", "cleanup"}));
}

}  // namespace
