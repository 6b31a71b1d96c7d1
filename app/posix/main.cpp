// The tool on Linux: the run flow with the POSIX platform port and a terminal front end. It takes no
// arguments; answers come from standard input. Exit code: 0 saved, 2 save cancelled, 1 any other outcome.
#include <csignal>
#include <cstdio>

#include "app/KorvApp.h"
#include "app/posix/PosixPlatform.h"
#include "app/posix/TerminalUi.h"

int main() {
    std::signal(SIGPIPE, SIG_IGN);  // a closed output must not kill the run half-way
    PosixPlatform platform;
    TerminalUi ui(stdin, stdout, stderr, platform.currentDirectory());
    CKorvApp app(platform, ui);
    app.InitInstance();
    return CKorvApp::exitCodeFor(app.m_nStatus);
}
