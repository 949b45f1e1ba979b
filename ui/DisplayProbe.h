// Whether the window can be shown, asked before the toolkit is touched: the toolkit ends the
// process when a display named in the environment does not answer (a stale DISPLAY left in
// an SSH session), and the terminal front end can do the same work instead.
#pragma once

#include <string>

namespace qvu {

struct DisplayProbe {
  enum class State {
    kNone,         // no display named: the terminal, without a word
    kUnreachable,  // named, but it does not answer
    kReachable,
  };
  State state = State::kNone;
  std::string name;  // the display as the environment names it
};

// Connects to the display named by WAYLAND_DISPLAY or DISPLAY and leaves again.
DisplayProbe ProbeDisplay();

}  // namespace qvu
