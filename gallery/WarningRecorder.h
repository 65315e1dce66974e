#pragma once

#include <string>
#include <vector>

#include "gallery/RunOutcome.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::gallery {

// Passes the host's messages on and keeps every warning in the outcome, for
// as long as a run is under way.
class WarningRecorder final : public ui::Host {
  public:
    explicit WarningRecorder(std::vector<RunWarning>& warnings)
        : next_(ui::Current()), warnings_(warnings), installed_(*this) {}

    void ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                     ui::Buttons buttons) override {
        next_.ShowMessage(text, caption, icon, buttons);
    }
    void YieldToEvents() override { next_.YieldToEvents(); }
    void ShowWarning(const std::string& text, const std::string& path) override {
        warnings_.push_back(RunWarning{text, path});
        next_.ShowWarning(text, path);
    }

  private:
    ui::Host& next_;
    std::vector<RunWarning>& warnings_;
    ui::ScopedHost installed_;
};

}  // namespace fotolane::gallery
