// tolm-upgrade.exe: the desktop program on Windows. It takes no options but
// --version.
//
// The form (TForm1) runs on its form thread; this thread, the GUI thread,
// runs the window's messages, draws the control models and hands presses
// over, so the window keeps answering Windows during a transfer.
//
// One window per session: a second start brings the open one to the front
// and ends.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>

#include "gui/Formwindow.h"
#include "gui/Guithread.h"
#include "gui/Win32services.h"
#include "gui/Win32window.h"
#include "platform/Win32programmutex.h"
#include "toolkit/Messages.h"
#include "toolkit/Win32text.h"
#include "tolm/Version.h"

namespace {

bool AskedForVersion() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool asked = args && count == 2 && std::wstring(args[1]) == L"--version";
    if (args) LocalFree(args);
    return asked;
}

// A program of the Windows subsystem has no console: the answer goes to the
// standard output it was given, else into a box.
void ShowVersion() {
    const std::string line = std::string("tolm-upgrade ") + tolm::kVersion + "\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE && WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        return;
    MessageBoxW(nullptr, tolm::Utf8ToWide(line).c_str(), L"Tolm Upgrade", MB_OK | MB_ICONINFORMATION);
}

void ShowFailure(const std::string& text) {
    MessageBoxW(nullptr, tolm::Utf8ToWide(text).c_str(), L"Tolm Upgrade", MB_OK | MB_ICONERROR);
}

// Owned by the window of the session for as long as its program runs.
constexpr const wchar_t* kWindowMutexName = L"Local\\TolmUpgradeWindow";
constexpr DWORD kFindWindowMs = 5000;
constexpr DWORD kWaitForEndMs = 10000;

// True when this start is the session's window. Otherwise the open one is
// brought to the front; one that is still starting is given a few seconds to
// make its window, and one that is ending (no window any more) is waited for.
bool FirstWindowOfSession() {
    HANDLE mine = CreateMutexW(nullptr, TRUE, kWindowMutexName);
    if (!mine) return true;  // no way to tell: open as before
    if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
    for (DWORD waited = 0; waited < kFindWindowMs; waited += 100) {
        if (tolm::TWin32Window::ActivateRunning()) return false;
        Sleep(100);
    }
    const DWORD ended = WaitForSingleObject(mine, kWaitForEndMs);
    return ended == WAIT_OBJECT_0 || ended == WAIT_ABANDONED;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    if (AskedForVersion()) {
        ShowVersion();
        return 0;
    }
    // The setup program replaces nothing while this copy runs.
    tolm::MarkProgramRunning();
    if (!FirstWindowOfSession()) return 0;
    // The file dialog needs COM on the thread that shows it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    tolm::InitGuiThread();
    auto boxes = std::make_shared<tolm::TWin32MessageSink>();
    tolm::InstallMessageSink(boxes);

    const int result = tolm::RunFormWindow<tolm::TWin32Window>(
        *boxes, [&](tolm::TWin32Window& window) { boxes->SetOwner(window.Handle()); },
        [showCommand](tolm::TWin32Window& window) {
            window.Show(showCommand);
            MSG msg;
            BOOL got;
            while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
                if (window.NavigationMessage(msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            return got == 0 ? static_cast<int>(msg.wParam) : 1;
        },
        ShowFailure);
    tolm::InstallMessageSink(nullptr);
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
