#pragma once

#include <cstdint>

// Test-only switches of the drawing layer: they make its calls fail on
// purpose, so that tests can walk the failure paths of the callers.
namespace fotolane::gdi {

// Calls that the layer refuses while an object of this type lives, so that
// tests can walk the failure paths of its callers: the first `allowed` calls
// of the chosen kind succeed, every later one fails as if the system had
// run out of the resource. The refusal in force before is restored at the end.
enum class Refusable { CreateCompatibleDC, CreateBitmap, GetDC, OpenClipboard, SetClipboardData };
class ScopedRefusal {
  public:
    explicit ScopedRefusal(Refusable call, std::int32_t allowed = 0);
    ScopedRefusal(const ScopedRefusal&) = delete;
    ScopedRefusal& operator=(const ScopedRefusal&) = delete;
    ~ScopedRefusal();

  private:
    Refusable call_;
    std::int32_t previous_;
};

}  // namespace fotolane::gdi
