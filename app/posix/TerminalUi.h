// The user-interface port for a terminal: dialogs become prompts on the given streams.
//
// - Progress (error stream): the progress text, with a percentage that updates in place only when the
//   error stream is a terminal.
// - Save: the title, then "ファイル名 [<proposed>]: ". An empty answer takes the proposed path; a relative
//   name is taken in the proposed folder (else the folder the program started in); a name without an
//   extension gets ".json". An existing file needs a "y" to the overwrite question, otherwise the name is
//   asked again. End of input cancels.
// - Messages (error stream): caption and text.
// - Instructions (output stream): the texts and the page address; an empty line or "l" opens the page
// (xdg-open, not
//   waited for), "q" or end of input closes.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

#include "app/Ports.h"

class TerminalUi final : public UserInterfacePort {
public:
    // `startDirectory`: absolute folder for relative answers when there is no proposed folder.
    TerminalUi(std::FILE* input, std::FILE* output, std::FILE* errorOutput, std::u16string startDirectory);
    // Everything on one output stream (tests).
    TerminalUi(std::FILE* input, std::FILE* output, std::u16string startDirectory)
        : TerminalUi(input, output, output, std::move(startDirectory)) {}
    ~TerminalUi() override;

    void initFramework() override {}
    bool registerTransparentImageClass() override { return true; }
    ProgressWindow* showProgress() override;
    void pumpMessage() override {}  // a terminal has no messages; the wait between polls just sleeps
    SaveDialogResult runSaveDialog(const char16_t* title, const char16_t* initialFolder,
                                   const char16_t* proposedPath, std::u16string& chosen) override;
    void showMessage(uint32_t stringId) override;
    void runInstructionsDialog() override;
    void cleanup() override;

private:
    class Progress final : public ProgressWindow {
    public:
        explicit Progress(TerminalUi& ui) : m_ui(ui) {}
        void setPosition(int32_t percent) override;
        bool isVisible() override;
        void refresh() override;
        void close() override;
        void show();

    private:
        void draw();  // m_mutex held
        TerminalUi& m_ui;
        std::mutex m_mutex;
        int32_t m_percent = 0;
        bool m_open = false;
    };

    enum class Line { Text, End, Error };
    Line readLine(std::string& line);
    // Writes the pieces (UTF-16 strings or characters) as UTF-8.
    template <typename... Pieces>
    void print(const Pieces&... pieces) {
        std::u16string text;
        (text += ... += pieces);
        writeUtf8(m_output, text);
    }
    template <typename... Pieces>
    void printError(const Pieces&... pieces) {
        std::u16string text;
        (text += ... += pieces);
        writeUtf8(m_errorOutput, text);
    }
    static void writeUtf8(std::FILE* stream, const std::u16string& text);
    void openPage();
    void reapChildren(bool wait);

    std::FILE* m_input;
    std::FILE* m_output;
    std::FILE* m_errorOutput;
    std::u16string m_startDirectory;
    bool m_interactive;  // the error stream is a terminal: progress updates in place
    bool m_echo;         // the input is not a terminal: answers are echoed so the transcript reads right
    Progress m_progress{*this};
    std::vector<pid_t> m_children;
};
