#include "platform/drawing/Clipboard.h"

namespace fotolane::gdi {
namespace {

ClipboardSink* currentSink = nullptr;

}  // namespace

void InstallClipboardSink(ClipboardSink* sink) {
    currentSink = sink;
}

ClipboardSink* CurrentClipboardSink() {
    return currentSink;
}

ScopedClipboardSink::ScopedClipboardSink(ClipboardSink& sink) : previous_(currentSink) {
    currentSink = &sink;
}

ScopedClipboardSink::~ScopedClipboardSink() {
    currentSink = previous_;
}

}  // namespace fotolane::gdi
