#include "app/posix/TerminalUi.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "AppFakes.h"
#include "app/Strings.h"
#include "platform/Text.h"

namespace {

// A terminal session: the answers typed, and everything the front end printed.
class Session {
public:
    explicit Session(const std::string& answers, std::u16string start = u"/start") {
        m_in = std::tmpfile();
        m_out = std::tmpfile();
        std::fwrite(answers.data(), 1, answers.size(), m_in);
        std::rewind(m_in);
        ui = std::make_unique<TerminalUi>(m_in, m_out, std::move(start));
    }
    ~Session() {
        ui.reset();
        std::fclose(m_in);
        std::fclose(m_out);
    }
    std::string output() {
        std::fflush(m_out);
        std::rewind(m_out);
        std::string text;
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, m_out)) > 0) text.append(chunk, n);
        return text;
    }
    SaveDialogResult save(const char16_t* folder, const char16_t* proposed, std::u16string& chosen) {
        return ui->runSaveDialog(u"Save a font list", folder, proposed, chosen);
    }
    std::unique_ptr<TerminalUi> ui;

private:
    std::FILE* m_in;
    std::FILE* m_out;
};

TEST(TerminalUiTest, EmptyAnswerTakesTheProposedPath) {
    Session s("\n");
    std::u16string chosen;
    EXPECT_EQ(s.save(u"/desk", u"/desk/FontsList.json", chosen), SaveDialogResult::Ok);
    EXPECT_EQ(chosen, u"/desk/FontsList.json");
    EXPECT_NE(s.output().find("== Save a font list =="), std::string::npos);
    EXPECT_NE(s.output().find("ファイル名 [/desk/FontsList.json]: "), std::string::npos);
}

TEST(TerminalUiTest, RelativeNamesGoToTheProposedFolderAndGetTheDefaultExtension) {
    std::u16string chosen;
    {
        Session s("mine\n");
        EXPECT_EQ(s.save(u"/desk", u"/desk/FontsList.json", chosen), SaveDialogResult::Ok);
        EXPECT_EQ(chosen, u"/desk/mine.json");
    }
    {
        Session s("sub/list.txt\r\n");
        EXPECT_EQ(s.save(nullptr, u"FontsList.json", chosen), SaveDialogResult::Ok);
        EXPECT_EQ(chosen, u"/start/sub/list.txt");
    }
    {
        Session s("/abs/リスト\n");
        EXPECT_EQ(s.save(u"/desk", u"/desk/FontsList.json", chosen), SaveDialogResult::Ok);
        EXPECT_EQ(chosen, u"/abs/リスト.json");
    }
}

TEST(TerminalUiTest, EndOfInputCancels) {
    Session s("");
    std::u16string chosen = u"untouched";
    EXPECT_EQ(s.save(u"/desk", u"/desk/FontsList.json", chosen), SaveDialogResult::Cancelled);
    EXPECT_EQ(chosen, u"untouched");
}

TEST(TerminalUiTest, ExistingFileNeedsConfirmation) {
    TempDir dir;
    const std::u16string existing = dir.write("FontsList.json", asBytes("old"));
    const std::u16string folder = utf8ToUtf16(dir.path());
    std::u16string chosen;
    {
        Session s("\ny\n");
        EXPECT_EQ(s.save(folder.c_str(), existing.c_str(), chosen), SaveDialogResult::Ok);
        EXPECT_EQ(chosen, existing);
        EXPECT_NE(s.output().find("FontsList.json は既に存在します。\n上書きしますか? [y/N]: "),
                  std::string::npos);
    }
    {
        Session s("\nn\nother\n");  // refused: asked again
        EXPECT_EQ(s.save(folder.c_str(), existing.c_str(), chosen), SaveDialogResult::Ok);
        EXPECT_EQ(chosen, folder + u"/other.json");
    }
    {
        Session s("\n");  // no answer to the question
        EXPECT_EQ(s.save(folder.c_str(), existing.c_str(), chosen), SaveDialogResult::Cancelled);
    }
    {
        ASSERT_EQ(mkdir((dir.path() + "/sub.json").c_str(), 0755), 0);
        Session s("sub.json\nok\n");  // a folder is not a file name
        EXPECT_EQ(s.save(folder.c_str(), existing.c_str(), chosen), SaveDialogResult::Ok);
        EXPECT_EQ(chosen, folder + u"/ok.json");
    }
}

TEST(TerminalUiTest, MessagesCarryTheToolTitle) {
    Session s("");
    s.ui->showMessage(IDS_ERR_NO_APP);
    EXPECT_EQ(s.output(), "[ZELKO フォント移行ツール] ZELKO アプリがないため抽出が実行されませんでした。\n");
}

TEST(TerminalUiTest, ProgressShowsTextAndFinalPosition) {
    Session s("");
    ProgressWindow* progress = s.ui->showProgress();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    progress->setPosition(40);
    progress->refresh();
    progress->setPosition(100);
    progress->close();
    EXPECT_FALSE(progress->isVisible());
    progress->refresh();  // after closing: nothing
    progress->close();
    EXPECT_EQ(s.output(), "ZELKO フォント移行ツール\nZELKO フォントの検索中... 100%\n");
}

TEST(TerminalUiTest, InstructionsCloseWithQOrEndOfInput) {
    for (const char* answers : {"q\n", ""}) {
        Session s(answers);
        s.ui->runInstructionsDialog();
        const std::string out = s.output();
        EXPECT_NE(out.find("== 新 ZELKO への移行手順 =="), std::string::npos);
        EXPECT_NE(out.find("【フォントリスト登録手順】"), std::string::npos);
        EXPECT_NE(out.find("ログイン: https://www.zelko.example/fonts/lists"), std::string::npos);
    }
}

}  // namespace
