#include "platform/ui/UserInterface.h"

#include <cstdio>

namespace fotolane::ui {
namespace {

class StandardErrorHost final : public Host {
  public:
    void ShowMessage(const std::string& text, const std::string& caption, Icon, Buttons) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    void YieldToEvents() override {}
};

StandardErrorHost fallbackHost;
Host* currentHost = nullptr;
thread_local Host* threadHost = nullptr;

}  // namespace

void Install(Host* host) {
    currentHost = host;
}

Host& Current() {
    if (threadHost != nullptr) return *threadHost;
    return currentHost != nullptr ? *currentHost : fallbackHost;
}

ScopedHost::ScopedHost(Host& host) : previous_(currentHost) {
    currentHost = &host;
}

ScopedHost::~ScopedHost() {
    currentHost = previous_;
}

ScopedThreadHost::ScopedThreadHost(Host& host) : previous_(threadHost) {
    threadHost = &host;
}

ScopedThreadHost::~ScopedThreadHost() {
    threadHost = previous_;
}

void MessageBox(const std::string& text, Icon icon, Buttons buttons, const std::string& caption) {
    Current().ShowMessage(text, caption, icon, buttons);
}

void DoEvents() {
    Current().YieldToEvents();
}

void Host::ShowWarning(const std::string& text, const std::string&) {
    ShowMessage(text, kApplicationName, Icon::Exclamation, Buttons::OK);
}

void Warn(const std::string& text, const std::string& path) {
    Current().ShowWarning(text, path);
}

}  // namespace fotolane::ui
