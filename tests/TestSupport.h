#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Fault.h"
#include "platform/core/PixelRows.h"
#include "platform/drawing/Clipboard.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::testing {

// The description of the fault that `call` raises, or "no fault".
std::string FaultOf(auto&& call) {
    try {
        call();
    } catch (const Fault& fault) {
        return fault.Description();
    }
    return "no fault";
}

// Records the message boxes instead of showing them, and counts the yields.
class RecordingHost final : public ui::Host {
  public:
    struct Message {
        std::string text;
        std::string caption;
        ui::Icon icon;
        ui::Buttons buttons;
    };
    void ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                     ui::Buttons buttons) override {
        messages.push_back({text, caption, icon, buttons});
    }
    void YieldToEvents() override { ++yields; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Message& message : messages) texts.push_back(message.text);
        return texts;
    }

    std::vector<Message> messages;
    int yields = 0;
};

// A clipboard that keeps a copy of what it is handed; it refuses the picture
// when `accept` is false.
class RecordingSink final : public gdi::ClipboardSink {
  public:
    void Clear() override { ++clears; }
    bool TakeImage(const PixelRows& rows) override {
        width = rows.width;
        height = rows.height;
        bytes.assign(rows.bits.get(), rows.bits.get() + rows.stride * rows.height);
        ++images;
        return accept;
    }
    bool accept = true;
    int clears = 0;
    int images = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> bytes;
};

}  // namespace fotolane::testing
