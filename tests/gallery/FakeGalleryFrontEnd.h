#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gallery/GalleryInterfaces.h"
#include "tests/gallery/CallLog.h"

namespace fotolane::testing {

inline const char* ControlName(gallery::Control control) {
    switch (control) {
        case gallery::Control::Command1:
            return "Command1";
        case gallery::Control::Command2:
            return "Command2";
        case gallery::Control::Frame1:
            return "Frame1";
        case gallery::Control::Frame2:
            return "Frame2";
        case gallery::Control::Frame3:
            return "Frame3";
        case gallery::Control::Frame4:
            return "Frame4";
    }
    return "?";
}

inline const char* IconName(ui::Icon icon) {
    switch (icon) {
        case ui::Icon::None:
            return "None";
        case ui::Icon::Information:
            return "Information";
        case ui::Icon::Exclamation:
            return "Exclamation";
        case ui::Icon::Critical:
            return "Critical";
    }
    return "?";
}

// The window's controls as plain values that a test sets. Every read is
// logged as "read " + the control's name, so a test can see when the run
// looked at a control.
class FakeGalleryInputs : public gallery::IGalleryInputs {
  public:
    FakeGalleryInputs() : log(ownLog_) {}
    explicit FakeGalleryInputs(CallLog& shared) : log(shared) {}
    FakeGalleryInputs(const FakeGalleryInputs&) = delete;
    FakeGalleryInputs& operator=(const FakeGalleryInputs&) = delete;

    std::string folderPath;                                            // File1
    std::string forRowText = "3";                                      // Text1
    std::string sizeText = "100";                                      // Text2
    std::string titleText;                                             // Text3
    gallery::CheckValue titleCheck = gallery::CheckValue::Unchecked;   // Check1
    gallery::CheckValue viewerCheck = gallery::CheckValue::Unchecked;  // chkJava
    bool allSelected = true;                                           // optThumb(0)
    bool keepGoing = false;
    bool writesAlbum = false;

    std::string FolderPath() const override { return Read("File1", folderPath); }
    std::string ForRowText() const override { return Read("Text1", forRowText); }
    std::string SizeText() const override { return Read("Text2", sizeText); }
    std::string TitleText() const override { return Read("Text3", titleText); }
    gallery::CheckValue TitleCheck() const override { return Read("Check1", titleCheck); }
    gallery::CheckValue ViewerCheck() const override { return Read("chkJava", viewerCheck); }
    bool AllSelected() const override { return Read("optThumb", allSelected); }
    bool KeepGoing() const override { return keepGoing; }
    bool WritesAlbum() const override { return writesAlbum; }

  private:
    template <typename T>
    T Read(const char* control, const T& value) const {
        log.Add(std::string("read ") + control);
        return value;
    }

    CallLog ownLog_;

  public:
    CallLog& log;
};

// The window as the run drives it: records each call in the log and keeps
// the resulting state. onYield runs inside YieldToEvents with the number of
// that yield (from 1), as a pending click would; onMessage inside
// ShowMessage.
class FakeGalleryView : public gallery::IGalleryView {
  public:
    struct Message {
        std::string text;
        std::string caption;
        ui::Icon icon;
        ui::Buttons buttons;
    };

    FakeGalleryView() : log(ownLog_) {}
    explicit FakeGalleryView(CallLog& shared) : log(shared) {}
    FakeGalleryView(const FakeGalleryView&) = delete;
    FakeGalleryView& operator=(const FakeGalleryView&) = delete;

    void SetEnabled(gallery::Control control, bool enabled) override {
        log.Add(std::string(enabled ? "enable " : "disable ") + ControlName(control));
        this->enabled[control] = enabled;
    }
    void SetProgressMax(std::int32_t maximum) override {
        log.Add("progress max " + std::to_string(maximum));
        progressMax = maximum;
    }
    void SetProgressValue(std::int32_t value) override {
        log.Add("progress " + std::to_string(value));
        progressValue = value;
    }
    void SetBusyPointer(bool busy) override {
        log.Add(busy ? "pointer busy" : "pointer default");
        busyPointer = busy;
    }
    void ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                     ui::Buttons buttons) override {
        log.Add("message " + text);
        messages.push_back({text, caption, icon, buttons});
        if (onMessage) onMessage(messages.back());
    }
    void YieldToEvents() override {
        log.Add("yield");
        ++yields;
        if (onYield) onYield(yields);
    }

    // The state of a window that no run holds: "&Get" usable, "&Stop" not,
    // the frames usable, the progress bar at 0 and the default pointer.
    // Controls the run never touched count as in that state.
    bool IsIdle() const {
        for (const auto& [control, on] : enabled) {
            if (on != (control != gallery::Control::Command2)) return false;
        }
        return progressValue == 0 && !busyPointer;
    }

    std::map<gallery::Control, bool> enabled;
    std::int32_t progressMax = 100;
    std::int32_t progressValue = 0;
    bool busyPointer = false;
    std::vector<Message> messages;
    int yields = 0;
    std::function<void(int)> onYield;
    std::function<void(const Message&)> onMessage;

  private:
    CallLog ownLog_;

  public:
    CallLog& log;
};

}  // namespace fotolane::testing
