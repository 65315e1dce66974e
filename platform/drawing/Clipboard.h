#pragma once

#include "platform/core/PixelRows.h"

namespace fotolane::gdi {

// Where the drawing layer's clipboard (OpenClipboard ... CloseClipboard in
// platform/drawing/Gdi.h) delivers what it is given: the desktop clipboard when the
// window program runs (QtClipboardSink), a recorder in tests. Without an
// installed sink there is no clipboard: OpenClipboard fails.
class ClipboardSink {
  public:
    virtual ~ClipboardSink() = default;
    // EmptyClipboard: drop what the clipboard holds.
    virtual void Clear() = 0;
    // SetClipboardData with a bitmap: its pixels, valid only during the call.
    // True when the clipboard took them.
    virtual bool TakeImage(const PixelRows& rows) = 0;
};

// Installs `sink` (not owned; it must outlive its installation); nullptr
// removes the clipboard again.
void InstallClipboardSink(ClipboardSink* sink);
ClipboardSink* CurrentClipboardSink();

// Installs a sink for the lifetime of the object and puts back the one that
// was there before.
class ScopedClipboardSink {
  public:
    explicit ScopedClipboardSink(ClipboardSink& sink);
    ScopedClipboardSink(const ScopedClipboardSink&) = delete;
    ScopedClipboardSink& operator=(const ScopedClipboardSink&) = delete;
    ~ScopedClipboardSink();

  private:
    ClipboardSink* previous_;
};

}  // namespace fotolane::gdi
