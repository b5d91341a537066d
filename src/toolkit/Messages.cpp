#include "toolkit/Messages.h"

#include "toolkit/MainThread.h"

#include <cstdio>
#include <mutex>

namespace tolm {

namespace {
std::mutex g_sinkMutex;
std::shared_ptr<IMessageSink> g_sink = std::make_shared<StderrMessageSink>();

std::shared_ptr<IMessageSink> CurrentSink() {
    std::lock_guard lock(g_sinkMutex);
    return g_sink;
}

constexpr const char* kApplicationTitle = "Tolm Upgrade";
}  // namespace

std::shared_ptr<IMessageSink> InstallMessageSink(std::shared_ptr<IMessageSink> sink) {
    std::lock_guard lock(g_sinkMutex);
    auto previous = g_sink;
    g_sink = sink ? std::move(sink) : std::make_shared<StderrMessageSink>();
    return previous;
}

void MessageBox(const std::string& text, const std::string& caption, TMsgIcon icon) {
    if (IsMainThread()) {
        CurrentSink()->Show(text, caption, icon);
        return;
    }
    // A polling thread never waits for the main thread: hand the message over.
    PostToMainThread([text, caption, icon] { CurrentSink()->Show(text, caption, icon); });
}

void ShowMessage(const std::string& text) { MessageBox(text, kApplicationTitle, TMsgIcon::None); }

void StderrMessageSink::Show(const std::string& text, const std::string& caption, TMsgIcon) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace tolm
