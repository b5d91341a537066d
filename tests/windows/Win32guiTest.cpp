// The Win32 window's calls onto its GUI thread (woken by a message to a
// message-only window) and its file choice, under Wine without a screen.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "gui/Guithread.h"
#include "gui/Win32services.h"
#include "toolkit/Win32text.h"

using namespace tolm;

// Calls handed over from another thread in a burst, many for each wake
// message, all run on the GUI thread, in order, none lost; a waiter gets its
// call's exception. A wake-up lost while calls are queued leaves the waiter
// stuck: the test then closes the GUI thread, which releases it.
TEST(Win32GuiCalls, EveryCallRunsOnTheGuiThreadInOrder) {
    InitGuiThread();
    const std::thread::id gui = std::this_thread::get_id();
    constexpr int kCalls = 20000;
    std::vector<int> ran;  // touched on the GUI thread alone
    std::atomic<int> elsewhere{0};
    std::atomic<bool> done{false};
    std::atomic<int> overtaken{0};
    std::string thrown;
    std::thread form([&] {
        try {
            for (int i = 0; i < kCalls; ++i) {
                PostToGuiThread([&, i] {
                    if (std::this_thread::get_id() != gui) ++elsewhere;
                    ran.push_back(i);
                });
                // A waited call runs after every call posted before it.
                if (i % 1000 == 0)
                    RunOnGuiThread([&, i] {
                        if (ran.size() != static_cast<size_t>(i) + 1) ++overtaken;
                    });
            }
            RunOnGuiThread([] { throw std::runtime_error("raised on the GUI thread"); });
        } catch (const std::exception& e) {
            thrown = e.what();
        }
        done = true;
    });
    const DWORD until = GetTickCount() + 30000;
    while (!done && GetTickCount() < until) ServeGuiThread(20);
    const bool finished = done;
    CloseGuiThread();
    form.join();
    InitGuiThread();

    ASSERT_TRUE(finished) << "a call was never run: " << ran.size() << " of " << kCalls;
    EXPECT_EQ(thrown, "raised on the GUI thread");
    EXPECT_EQ(elsewhere, 0);
    EXPECT_EQ(overtaken, 0);
    ASSERT_EQ(ran.size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(ran[static_cast<size_t>(i)], i);
}

// The dialog's filter as GetOpenFileNameW reads it: zero-terminated parts and
// a second zero at the end, Chinese descriptions intact, a description
// without patterns left out.
TEST(Win32FileChoice, FilterAndScriptedChoice) {
    constexpr wchar_t kExpected[] = L"\u97CC\u9AD4 (*.Bin)\0*.bin\0Tolm Font File(*.Fon)\0*.fon;*.FON\0";
    EXPECT_EQ(DialogFilter("韌體 (*.Bin)|*.bin|Tolm Font File(*.Fon)|*.fon;*.FON|Left out|"),
              std::wstring(kExpected, std::size(kExpected)));

    // TOLM_UPGRADE_OPEN_FILE names a file relative to the current folder: it
    // comes back whole, in UTF-8, and no dialog opens.
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, folder), 0u);
    ASSERT_EQ(_wputenv(L"TOLM_UPGRADE_OPEN_FILE=\u97CC\u9AD4.bin"), 0);
    std::string chosen;
    EXPECT_TRUE(TWin32FileChooser(nullptr)(TOpenDialog{}, chosen));
    _wputenv(L"TOLM_UPGRADE_OPEN_FILE=");
    EXPECT_EQ(chosen, WideToUtf8(std::wstring(folder) + L"\\\u97CC\u9AD4.bin"));
}
