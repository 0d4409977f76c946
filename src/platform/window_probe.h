#pragma once
// Finding the window that shows an opened document, so that the desk knows when it is closed
// and can bring it forward. On X11 the window manager's client list is read (by the process
// that owns a window, else by title); elsewhere (Wayland, no display) there is no probe and the
// desk falls back to the program's lifetime and the file's size and time.
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace px::platform {

class WindowProbe {
public:
  virtual ~WindowProbe() = default;
  // 0 when no window of pid, or whose title holds one of the hints (tried in order), exists.
  virtual std::uint32_t FindWindow(pid_t pid, const std::vector<std::string>& titleHints) = 0;
  virtual bool WindowExists(std::uint32_t window) = 0;
  virtual void Activate(std::uint32_t window) = 0;
};

// The X11 probe when $DISPLAY reaches an X server, else null.
std::unique_ptr<WindowProbe> MakeSystemWindowProbe();

}  // namespace px::platform
