#include "platform/drawing/QtClipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>

namespace fotolane::gdi {
namespace {

bool HaveGuiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

}  // namespace

void QtClipboardSink::Clear() {
    if (HaveGuiApplication()) QGuiApplication::clipboard()->clear();
}

bool QtClipboardSink::TakeImage(const PixelRows& rows) {
    if (!HaveGuiApplication() || !rows.bits || rows.width <= 0 || rows.height <= 0) return false;
    // The rows are bottom-up B, G, R with 4-byte padding: Qt reads them in
    // place as a top-down BGR888 image, which stands on its head; mirroring
    // it makes the upright copy that the clipboard keeps.
    const QImage headDown(rows.bits.get(), rows.width, rows.height, rows.stride,
                          QImage::Format_BGR888);
    const QImage upright = headDown.mirrored(false, true);
    if (upright.isNull()) return false;
    QGuiApplication::clipboard()->setImage(upright);
    return true;
}

}  // namespace fotolane::gdi
