// What the two platform halves of the file operations share: the retry loop of the moves (a
// fixed pause after every failed try) and the path trimming.
#pragma once

#include <chrono>
#include <string>
#include <thread>

namespace qvu {

// One try of a move. NotDurable: the entry is in place but failed to reach the disk; no
// later try may report that move as done.
enum class Moved { Yes, No, NotDurable };

template <typename Attempt>
bool RetryMove(int tries, Attempt attempt) {
  for (int i = 0; i < tries; ++i) {
    Moved moved = attempt();
    if (moved == Moved::Yes) return true;
    // A failed write-back is reported once; a flush in a later try would succeed over the
    // lost data.
    if (moved == Moved::NotDurable) return false;
    // The pause follows the last failed try too: callers count on the full wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return false;
}

// "/" on both platforms; "\" as well on Windows (on Linux it is a character of a name).
bool IsPathSeparator(char c);

// A path without its trailing separators (the root keeps its own).
std::string StripTrailingSeparators(std::string path);

}  // namespace qvu
