#include "imaging/cDIBSection.h"

#include <algorithm>
#include <cstddef>
#include <ctime>
#include <utility>

#include "platform/core/Numbers.h"
#include "platform/core/PixelRows.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::imaging {
namespace {

// Runs a release step when the scope ends, unless dismissed: the borrowed
// screen context and the temporary objects below are given back on every way
// out, a throwing message box included.
template <typename Release>
class OnScopeExit {
  public:
    explicit OnScopeExit(Release release) : release_(std::move(release)) {}
    OnScopeExit(const OnScopeExit&) = delete;
    OnScopeExit& operator=(const OnScopeExit&) = delete;
    ~OnScopeExit() {
        if (armed_) release_();
    }
    void Dismiss() { armed_ = false; }

  private:
    Release release_;
    bool armed_ = true;
};

}  // namespace

cDIBSection::~cDIBSection() {
    ClearUp();
}

bool cDIBSection::CopyToClipboard(bool bAsDIB) {
    const gdi::HWND hDesktop = gdi::GetDesktopWindow();
    const gdi::HDC lhDCDesktop = gdi::GetDC(hDesktop);
    if (lhDCDesktop == nullptr) return false;
    OnScopeExit giveBackScreen([&] { gdi::ReleaseDC(hDesktop, lhDCDesktop); });

    const gdi::HDC lhDC = gdi::CreateCompatibleDC(lhDCDesktop);
    if (lhDC == nullptr) return false;
    OnScopeExit deleteMemoryDC([&] { gdi::DeleteDC(lhDC); });

    if (bAsDIB) {
        ui::MessageBox("I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!",
                       ui::Icon::None, ui::Buttons::OK);
        return false;
    }

    const gdi::HBITMAP hBmp = gdi::CreateCompatibleBitmap(lhDCDesktop, Width(), Height());
    if (hBmp == nullptr) return false;
    // Until the clipboard has taken the bitmap it is ours to delete.
    OnScopeExit deleteBitmap([&] { gdi::DeleteObject(hBmp); });
    const gdi::HGDIOBJ hBmpOld = gdi::SelectObject(lhDC, hBmp);
    PaintPicture(lhDC);
    gdi::SelectObject(lhDC, hBmpOld);

    bool bHandedOver = false;
    if (gdi::OpenClipboard(nullptr)) {
        gdi::EmptyClipboard();
        bHandedOver = gdi::SetClipboardData(gdi::CF_BITMAP, hBmp) != nullptr;
        gdi::CloseClipboard();
    }
    if (bHandedOver) deleteBitmap.Dismiss();
    return bHandedOver;
}

bool cDIBSection::CreateDIB(gdi::HDC lhDC, std::int32_t lWidth, std::int32_t lHeight,
                            gdi::HBITMAP& hDib) {
    m_tBIH.biSize = sizeof(gdi::BITMAPINFOHEADER);
    m_tBIH.biWidth = lWidth;
    m_tBIH.biHeight = lHeight;
    m_tBIH.biPlanes = 1;
    m_tBIH.biBitCount = 24;
    m_tBIH.biCompression = gdi::BI_RGB;
    // After biWidth: the stride is computed from it.
    m_tBIH.biSizeImage = static_cast<std::uint32_t>(CheckedMul(BytesPerScanLine(), lHeight));

    gdi::BITMAPINFO info{};
    info.bmiHeader = m_tBIH;
    hDib = gdi::CreateDIBSection(lhDC, &info, gdi::DIB_RGB_COLORS, &m_lPtr, nullptr, 0);
    return hDib != nullptr;
}

void cDIBSection::CreateFromPicture(const gdi::Picture& picThis) {
    gdi::BITMAP tBM{};
    gdi::GetObjectA(picThis.Handle(), sizeof(tBM), &tBM);
    if (!Create(tBM.bmWidth, tBM.bmHeight)) return;

    const gdi::HWND hDesktop = gdi::GetDesktopWindow();
    const gdi::HDC lhDCDesktop = gdi::GetDC(hDesktop);
    if (lhDCDesktop == nullptr) return;
    const gdi::HDC lhDC = gdi::CreateCompatibleDC(lhDCDesktop);
    gdi::ReleaseDC(hDesktop, lhDCDesktop);
    if (lhDC == nullptr) return;
    OnScopeExit deleteTemporaryDC([&] { gdi::DeleteDC(lhDC); });

    const gdi::HGDIOBJ hBmpOld = gdi::SelectObject(lhDC, picThis.Handle());
    LoadPictureBlt(lhDC);
    gdi::SelectObject(lhDC, hBmpOld);
}

bool cDIBSection::Create(std::int32_t lWidth, std::int32_t lHeight) {
    ClearUp();
    m_hDC = gdi::CreateCompatibleDC(nullptr);
    if (m_hDC == nullptr) return false;
    // An overflow fault leaves the memory device context in the buffer, for
    // ClearUp or the destructor to release.
    if (CreateDIB(m_hDC, lWidth, lHeight, m_hDib)) {
        m_hBmpOld = gdi::SelectObject(m_hDC, m_hDib);
        return true;
    }
    gdi::DeleteDC(m_hDC);
    m_hDC = nullptr;
    return false;
}

std::int32_t cDIBSection::BytesPerScanLine() const {
    return StrideOf24BitRow(m_tBIH.biWidth);
}

void cDIBSection::LoadPictureBlt(gdi::HDC lhDC, std::int32_t lSrcLeft, std::int32_t lSrcTop,
                                 std::int32_t lSrcWidth, std::int32_t lSrcHeight,
                                 std::uint32_t eRop) {
    if (lSrcWidth < 0) lSrcWidth = Width();
    if (lSrcHeight < 0) lSrcHeight = Height();
    gdi::BitBlt(m_hDC, 0, 0, lSrcWidth, lSrcHeight, lhDC, lSrcLeft, lSrcTop, eRop);
}

void cDIBSection::PaintPicture(gdi::HDC lhDC, std::int32_t lDestLeft, std::int32_t lDestTop,
                               std::int32_t lDestWidth, std::int32_t lDestHeight,
                               std::int32_t lSrcLeft, std::int32_t lSrcTop, std::uint32_t eRop) {
    if (lDestWidth < 0) lDestWidth = Width();
    if (lDestHeight < 0) lDestHeight = Height();
    gdi::BitBlt(lhDC, lDestLeft, lDestTop, lDestWidth, lDestHeight, m_hDC, lSrcLeft, lSrcTop, eRop);
}

void cDIBSection::RandomiseBits(bool bGray) {
    const std::uint32_t seed = SecondsSinceMidnight();
    RandomisePixels(DIBSectionBitsPtr(), Width(), Height(), BytesPerScanLine(), bGray, seed);
}

void cDIBSection::ClearUp() {
    if (m_hDC != nullptr) {
        if (m_hDib != nullptr) {
            gdi::SelectObject(m_hDC, m_hBmpOld);
            gdi::DeleteObject(m_hDib);
        }
        gdi::DeleteDC(m_hDC);
    }
    m_hDib = nullptr;
    m_hBmpOld = nullptr;
    m_hDC = nullptr;
    m_lPtr = nullptr;
}

void RandomisePixels(std::uint8_t* bits, std::int32_t width, std::int32_t height,
                     std::int32_t stride, bool bGray, std::uint32_t seed) {
    // An Empty buffer has no memory to write.
    if (bits == nullptr || width <= 0 || height <= 0) return;
    UniformDraws draws(seed);
    auto nextValue = [&draws] {
        return static_cast<std::uint8_t>(RoundHalfEven(draws.Next() * 255.0));
    };
    auto pixel = [&](std::int32_t column, std::int32_t scanLine) {
        return bits + static_cast<std::ptrdiff_t>(scanLine) * stride +
               static_cast<std::ptrdiff_t>(column) * 3;
    };
    if (bGray) {
        for (std::int32_t s = 0; s < height; ++s) {
            for (std::int32_t c = 0; c < width; ++c) {
                std::uint8_t* p = pixel(c, s);
                const std::uint8_t v = nextValue();
                p[0] = v;
                p[1] = v;
                p[2] = v;
            }
        }
    } else {
        for (std::int32_t c = 0; c < width; ++c) {
            for (std::int32_t s = 0; s < height; ++s) {
                std::uint8_t* p = pixel(c, s);
                p[0] = 0;
                p[1] = nextValue();
                p[2] = nextValue();
            }
        }
    }
}

std::uint32_t SecondsSinceMidnight() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return 0;
    // tm_sec reaches 60 on a leap second.
    const int seconds = local.tm_hour * 3600 + local.tm_min * 60 + std::min(local.tm_sec, 59);
    return static_cast<std::uint32_t>(seconds);
}

}  // namespace fotolane::imaging
