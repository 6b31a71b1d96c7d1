#include "app/posix/TerminalUi.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "app/Strings.h"
#include "platform/Text.h"

extern char** environ;

namespace {

std::u16string lastComponent(const std::u16string& path) {
    const size_t slash = path.rfind(u'/');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

std::u16string folderOf(const std::u16string& path) {
    const size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos) return {};
    return slash == 0 ? u"/" : path.substr(0, slash);
}

bool isYes(const std::string& answer) {
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "はい";
}

}  // namespace

TerminalUi::TerminalUi(std::FILE* input, std::FILE* output, std::FILE* errorOutput,
                       std::u16string startDirectory)
    : m_input(input),
      m_output(output),
      m_errorOutput(errorOutput),
      m_startDirectory(std::move(startDirectory)),
      m_interactive(isatty(fileno(errorOutput)) != 0),
      m_echo(isatty(fileno(input)) == 0) {}

TerminalUi::~TerminalUi() {
    reapChildren(false);
}

void TerminalUi::writeUtf8(std::FILE* stream, const std::u16string& text) {
    const std::string bytes = utf16ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

TerminalUi::Line TerminalUi::readLine(std::string& line) {
    std::fflush(m_errorOutput);
    std::fflush(m_output);
    line.clear();
    int c;
    while ((c = std::fgetc(m_input)) != EOF && c != '\n') line.push_back(char(c));
    if (c == EOF) {
        if (std::ferror(m_input)) return Line::Error;
        if (line.empty()) return Line::End;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (m_echo) {
        std::fwrite(line.data(), 1, line.size(), m_output);
        std::fputc('\n', m_output);
    }
    return Line::Text;
}

ProgressWindow* TerminalUi::showProgress() {
    m_progress.show();
    return &m_progress;
}

void TerminalUi::Progress::show() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_percent = 0;
    m_ui.printError(loadString(IDS_TOOL_TITLE));
    m_ui.printError(u"\n");
    draw();
}

void TerminalUi::Progress::draw() {
    if (!m_open) return;
    if (m_ui.m_interactive) {
        m_ui.printError(u"\r", kProgressText, u" ", utf8ToUtf16(std::to_string(m_percent)), u"%");
    }
    std::fflush(m_ui.m_errorOutput);
}

void TerminalUi::Progress::setPosition(int32_t percent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (percent == m_percent) return;
    m_percent = percent;
    draw();
}

bool TerminalUi::Progress::isVisible() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

void TerminalUi::Progress::refresh() {
    std::lock_guard<std::mutex> lock(m_mutex);
    draw();
}

void TerminalUi::Progress::close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return;
    if (!m_ui.m_interactive) {
        m_ui.printError(kProgressText, u" ", utf8ToUtf16(std::to_string(m_percent)), u"%");
    }
    m_ui.printError(u"\n");
    std::fflush(m_ui.m_errorOutput);
    m_open = false;
}

SaveDialogResult TerminalUi::runSaveDialog(const char16_t* title, const char16_t* initialFolder,
                                           const char16_t* proposedPath, std::u16string& chosen) {
    const std::u16string proposed = proposedPath ? proposedPath : u"";
    std::u16string base = initialFolder ? initialFolder : folderOf(proposed);
    if (base.empty() || base[0] != u'/') base = m_startDirectory;

    print(u"\n== ", title ? title : u"", u" ==\n");
    for (;;) {
        print(u"ファイル名 [", proposed, u"]: ");
        std::string answer;
        switch (readLine(answer)) {
            case Line::End:
                print(u"\n");
                return SaveDialogResult::Cancelled;
            case Line::Error:
                return SaveDialogResult::Failed;
            case Line::Text:
                break;
        }
        std::u16string path = answer.empty() ? proposed : utf8ToUtf16(answer);
        if (path.empty()) continue;
        if (path[0] != u'/') {
            std::u16string absolute = base == u"/" ? std::u16string() : base;
            absolute += u'/';
            path = absolute += path;
        }
        if (lastComponent(path).find(u'.') == std::u16string::npos) path += u".json";

        struct stat st;
        if (stat(utf16ToUtf8(path).c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                print(path, u" はフォルダーです。\n");
                continue;
            }
            print(lastComponent(path), u" は既に存在します。\n上書きしますか? [y/N]: ");
            std::string confirm;
            const Line line = readLine(confirm);
            if (line == Line::End) {
                print(u"\n");
                return SaveDialogResult::Cancelled;
            }
            if (line == Line::Error) return SaveDialogResult::Failed;
            if (!isYes(confirm)) continue;
        }
        chosen = path;
        return SaveDialogResult::Ok;
    }
}

void TerminalUi::showMessage(uint32_t stringId) {
    const char16_t* text = loadString(stringId);
    printError(u"[", loadString(IDS_TOOL_TITLE), u"] ", text ? text : u"", u"\n");
    std::fflush(m_errorOutput);
}

void TerminalUi::runInstructionsDialog() {
    print(u"\n== ", kInstructionsCaption, u" ==\n");
    for (const char16_t* line :
         {kInstructionsIntro, kInstructionsHeading, kInstructionsStep, kInstructionsNote})
        print(line, u"\n");
    print(kInstructionsLogin, u": ", kLoginPageAddress, u"\n");
    for (;;) {
        print(u"[Enter/l: ", kInstructionsLogin, u", q: ", kInstructionsClose, u"] ");
        std::string answer;
        if (readLine(answer) != Line::Text) {
            print(u"\n");
            return;
        }
        if (answer == "q" || answer == "Q") return;
        if (answer.empty() || answer == "l" || answer == "L") openPage();
        reapChildren(false);
    }
}

void TerminalUi::openPage() {
    // Like the shell's "open": hand the address to the desktop's opener and do not wait for it. A failure
    // is not reported.
    std::fflush(m_output);
    const std::string address = utf16ToUtf8(kLoginPageAddress);
    char opener[] = "xdg-open";
    std::vector<char> argument(address.begin(), address.end());
    argument.push_back('\0');
    char* argv[] = {opener, argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, opener, nullptr, nullptr, argv, environ) == 0) m_children.push_back(pid);
}

void TerminalUi::reapChildren(bool wait) {
    for (auto it = m_children.begin(); it != m_children.end();) {
        if (waitpid(*it, nullptr, wait ? 0 : WNOHANG) != 0)
            it = m_children.erase(it);
        else
            ++it;
    }
}

void TerminalUi::cleanup() {
    m_progress.close();
    reapChildren(false);
    std::fflush(m_output);
}
