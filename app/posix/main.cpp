// The tool on Linux: the run flow with the POSIX platform port and a terminal front end. Its one option,
// --version, prints the version and exits; otherwise it takes no arguments, and answers come from standard
// input. Exit code: 0 saved (or the version printed), 2 save cancelled, 1 any other outcome.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/KorvApp.h"
#include "app/Version.h"
#include "app/posix/PosixPlatform.h"
#include "app/posix/TerminalUi.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("korv %s\n", KORV_VERSION_TEXT);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    std::signal(SIGPIPE, SIG_IGN);  // a closed output must not kill the run half-way
    PosixPlatform platform;
    TerminalUi ui(stdin, stdout, stderr, platform.currentDirectory());
    CKorvApp app(platform, ui);
    app.InitInstance();
    return CKorvApp::exitCodeFor(app.m_nStatus);
}
