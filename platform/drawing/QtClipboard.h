#pragma once

#include "platform/drawing/Clipboard.h"

namespace fotolane::gdi {

// The desktop clipboard through Qt: a bitmap put on the drawing layer's
// clipboard becomes an upright image on QGuiApplication's clipboard. The
// window program installs one (InstallClipboardSink) once its
// QGuiApplication exists; without an application object the sink takes
// nothing.
class QtClipboardSink final : public ClipboardSink {
  public:
    void Clear() override;
    bool TakeImage(const PixelRows& rows) override;
};

}  // namespace fotolane::gdi
