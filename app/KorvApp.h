// The application object: one per process. InitInstance runs the whole tool once on the main thread -
// catalog check, scan on a worker thread behind a progress window, save dialog, outcome message,
// instructions - and returns false so that the process ends.
//
// Exactly two threads share this object. The main thread writes the two paths and m_pProgressWnd before it
// starts the worker. The worker writes the counters while the main thread reads them (relaxed atomics: only
// torn values must be impossible), fills m_pJsonBuffer, m_nJsonLength and m_nStatus, and stores
// m_bScanDone = 1 last, with release; the main thread loads the flag with acquire and reads the results only
// after it has seen 1.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/Ports.h"

class CKorvApp {
public:
    CKorvApp(PlatformPort& platform, UserInterfacePort& ui) : m_platform(platform), m_ui(ui) {}
    ~CKorvApp();
    CKorvApp(const CKorvApp&) = delete;
    CKorvApp& operator=(const CKorvApp&) = delete;

    // Runs the tool; always returns false. Call once.
    bool InitInstance();

    // The process exit code for a final status: 0 success, 2 save dialog cancelled, 1 any other failure.
    static int exitCodeFor(int32_t status);

    char16_t m_szCatalogPath[kMaxPathUnits] = {};  // the catalog file; written before the worker starts
    char16_t m_szFontsFolder[kMaxPathUnits] = {};  // the system font folder; written before the worker starts
    char* m_pJsonBuffer = nullptr;  // the font list; std::malloc by the worker, std::free by InitInstance
    int32_t m_nJsonLength = 0;      // text bytes in the buffer, no terminator counted
    int32_t m_nStatus = 0;          // the run's status (sfnt/Status.h)
    ProgressWindow* m_pProgressWnd = nullptr;  // while the worker runs; not owned
    std::atomic<int32_t> m_nProgressCount{0};  // files met so far in the worker's current pass
    std::atomic<int32_t> m_nProgressTotal{0};  // files of the counting pass; 0 until it ends
    std::atomic<int32_t> m_bScanDone{0};       // 1 once the worker has finished with every shared field

    PlatformPort& m_platform;
    UserInterfacePort& m_ui;

private:
    void runScan();   // steps 7 to 10
    void saveList();  // step 11
    void waitForWorker();
};
