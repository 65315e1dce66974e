#pragma once

namespace fotolane::app {

// The desktop program: shows the main window and runs until no window
// remains. The exit status is 0, or 1 when the program ended through an
// unexpected error.
int RunFotolane(int argc, char** argv);

}  // namespace fotolane::app
