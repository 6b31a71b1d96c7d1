#include "app/KorvApp.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/FontScan.h"
#include "app/Strings.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace {

#ifdef _WIN32
constexpr char16_t kCatalogSuffix[] = u"\\Quorvane\\FontCat.awfc";
#else
constexpr char16_t kCatalogSuffix[] = u"/Quorvane/FontCat.awfc";
#endif

constexpr int kFinalPumps = 100;  // messages taken after the scan, before the progress window closes
// The longest pause between two polls of the wait loop while no message comes: short enough for a fluent
// progress bar (about 60 updates a second) and a prompt end of the wait, long enough to leave the processor
// to the worker.
constexpr uint32_t kPollWaitMs = 15;

// out = folder + suffix within kMaxPathUnits units; false (out empty) when it does not fit.
bool joinPath(char16_t (&out)[kMaxPathUnits], const char16_t* folder, const char16_t* suffix) {
    const size_t a = wideLength(folder);
    const size_t b = wideLength(suffix);
    if (a + b + 1 > kMaxPathUnits) {
        out[0] = u'\0';
        return false;
    }
    std::memcpy(out, folder, a * sizeof(char16_t));
    std::memcpy(out + a, suffix, (b + 1) * sizeof(char16_t));
    return true;
}

// What the outcome step does for a status: the message to show (0 for none) and whether the instructions
// dialog follows.
struct Outcome {
    uint32_t message;
    bool instructions;
};

Outcome outcomeFor(int32_t status) {
    switch (status) {
        case kOk:
            return {0, true};
        case kNoCatalog:
        case kNoFontsFound:
            return {IDS_ERR_NO_APP, true};
        case kOutOfMemory:
            return {IDS_ERR_MEMORY, false};
        case kIoError:
            return {IDS_ERR_FILE, false};
        case kUserCancelled:
            return {0, false};
        default:
            return {IDS_ERR_GENERAL, false};
    }
}

}  // namespace

CKorvApp::~CKorvApp() {
    // InitInstance frees the buffer; this covers an object that never ran (the worker is not running then).
    std::free(m_pJsonBuffer);
}

int CKorvApp::exitCodeFor(int32_t status) {
    if (status == kOk) return 0;
    if (status == kUserCancelled) return 2;
    return 1;
}

bool CKorvApp::InitInstance() {
    m_ui.initFramework();
    m_nStatus = kOk;

    if (!m_ui.registerTransparentImageClass()) {
        m_nStatus = kGeneralError;
    } else {
        char16_t folder[kMaxPathUnits] = {};
        if (!m_platform.getFolderPath(KnownFolder::CommonAppData, folder)) {
            m_nStatus = kGeneralError;
        } else if (!joinPath(m_szCatalogPath, folder, kCatalogSuffix)) {
            m_nStatus = kNoCatalog;  // a path that does not fit cannot be opened
        } else if (!m_platform.getFolderPath(KnownFolder::Fonts, m_szFontsFolder)) {
            // The failure's error code; a look-up that failed without one still fails the run.
            const uint32_t error = m_platform.getLastError();
            m_nStatus = error != 0 ? int32_t(error) : kGeneralError;
        } else {
            int error = 0;
            if (!openFileForReading(m_szCatalogPath, error)) m_nStatus = kNoCatalog;
        }
    }

    if (m_nStatus == kOk) runScan();
    if (m_nStatus == kOk) saveList();

    const Outcome outcome = outcomeFor(m_nStatus);
    if (outcome.message != 0) m_ui.showMessage(outcome.message);
    if (outcome.instructions) m_ui.runInstructionsDialog();

    std::free(m_pJsonBuffer);
    m_pJsonBuffer = nullptr;
    m_ui.cleanup();
    return false;
}

void CKorvApp::runScan() {
    bool workerStarted = false;
    bool failed = false;
    try {
        ProgressWindow* progress = m_ui.showProgress();
        if (!progress) {
            m_nStatus = kGeneralError;
            return;
        }
        m_bScanDone.store(0, std::memory_order_relaxed);
        progress->setPosition(0);
        m_pProgressWnd = progress;

        // Without a worker nothing would ever set the flag: fail instead of waiting forever.
        if (!m_platform.startThread(FontScanThreadProc, this)) {
            progress->close();
            m_nStatus = kGeneralError;
            return;
        }
        workerStarted = true;

        int32_t lastShown = 0;
        while (m_bScanDone.load(std::memory_order_acquire) == 0) {
            m_ui.pumpMessage();
            const int32_t total = m_nProgressTotal.load(std::memory_order_relaxed);
            const int32_t count = m_nProgressCount.load(std::memory_order_relaxed);
            if (progress->isVisible() && total != 0 && count != lastShown) {
                int64_t percent = int64_t(count) * 100 / total;
                if (percent > 100) percent = 100;  // more files in the listing pass than counted
                if (percent < 0) percent = 0;
                progress->setPosition(int32_t(percent));
                lastShown = m_nProgressCount.load(std::memory_order_relaxed);
            }
            m_ui.waitForMessage(kPollWaitMs);
        }
        progress->setPosition(100);
        for (int i = 0; i < kFinalPumps; ++i) m_ui.pumpMessage();
        progress->close();
    } catch (...) {
        failed = true;
    }
    if (failed) {
        // The worker may still be writing the shared fields: let it finish before touching them.
        if (workerStarted) waitForWorker();
        m_nStatus = kGeneralError;
    }
}

void CKorvApp::waitForWorker() {
    while (m_bScanDone.load(std::memory_order_acquire) == 0) {
        // Keep serving the worker's repaint requests, which are answered on this thread.
        try {
            m_ui.pumpMessage();
            m_ui.waitForMessage(kPollWaitMs);
        } catch (...) {
            std::this_thread::yield();
        }
    }
}

void CKorvApp::saveList() {
    try {
        const char16_t* title =
            m_platform.getUserDefaultLcid() == kLcidJapanese ? kSaveTitleJapanese : kSaveTitleEnglish;

        char16_t desktop[kMaxPathUnits] = {};
        const bool haveDesktop = m_platform.getFolderPath(KnownFolder::Desktop, desktop);
        const char16_t separator[] = {kPathSeparator, u'\0'};
        std::u16string proposed;
        if (haveDesktop && wideLength(desktop) + 1 + wideLength(kFontListFileName) < kMaxPathUnits) {
            proposed = desktop;
            if (proposed.empty() || proposed.back() != kPathSeparator) proposed += separator;
        }
        proposed += kFontListFileName;

        std::u16string chosen;
        switch (m_ui.runSaveDialog(title, haveDesktop ? desktop : nullptr, proposed.c_str(), chosen)) {
            case SaveDialogResult::Ok:
                break;
            case SaveDialogResult::Cancelled:
                m_nStatus = kUserCancelled;
                return;
            case SaveDialogResult::Failed:
                m_nStatus = kGeneralError;
                return;
        }
        const size_t length = m_nJsonLength > 0 ? size_t(m_nJsonLength) : 0;
        if (chosen.empty() || !m_platform.replaceFile(chosen.c_str(), m_pJsonBuffer, length))
            m_nStatus = kIoError;
    } catch (...) {
        m_nStatus = kGeneralError;
    }
}
