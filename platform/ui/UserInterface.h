#pragma once

#include <string>

namespace fotolane::ui {

// The application's name: the caption of every message box.
inline constexpr const char* kApplicationName = "Fotolane";

enum class Icon { None, Information, Exclamation, Critical };
enum class Buttons { OK };

// What the program's code needs of whichever front end runs it: a modal
// message box, and a chance for pending window events to run during long
// work. The window, the batch front end and the tests each install one.
class Host {
  public:
    virtual ~Host() = default;
    // Returns once the user has closed the box.
    virtual void ShowMessage(const std::string& text, const std::string& caption, Icon icon,
                             Buttons buttons) = 0;
    virtual void YieldToEvents() = 0;
    // A warning about one file that does not end the work under way (a
    // thumbnail that could not be written). By default the modal box of
    // `text` alone with an exclamation icon; a front end that lists such
    // warnings, or a run that counts them, takes `path` as well.
    virtual void ShowWarning(const std::string& text, const std::string& path);
};

// Installs `host` for the calls below; nullptr goes back to the fallback,
// which writes messages to standard error and has no events to yield to.
// The host is not owned and must outlive its installation.
void Install(Host* host);
// The host of this thread (ScopedThreadHost) when it has one, else the one
// installed.
Host& Current();

// Installs a host for the lifetime of the object and puts back the one
// that was there before.
class ScopedHost {
  public:
    explicit ScopedHost(Host& host);
    ScopedHost(const ScopedHost&) = delete;
    ScopedHost& operator=(const ScopedHost&) = delete;
    ~ScopedHost();

  private:
    Host* previous_;
};

// Installs a host for the calling thread alone, for the lifetime of the
// object: a worker thread keeps what it would show (to hand it to the
// caller's thread later) and never reaches the front end's host.
class ScopedThreadHost {
  public:
    explicit ScopedThreadHost(Host& host);
    ScopedThreadHost(const ScopedThreadHost&) = delete;
    ScopedThreadHost& operator=(const ScopedThreadHost&) = delete;
    ~ScopedThreadHost();

  private:
    Host* previous_;
};

void MessageBox(const std::string& text, Icon icon = Icon::None, Buttons buttons = Buttons::OK,
                const std::string& caption = kApplicationName);
void DoEvents();
// Hands a warning about the file `path` to the current host.
void Warn(const std::string& text, const std::string& path);

}  // namespace fotolane::ui
