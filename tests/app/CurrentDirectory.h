// Changes the current directory for one test and puts it back: the settings database is
// looked for in the current directory, never in the program folder.
#pragma once

#include <unistd.h>

#include <climits>
#include <string>

namespace qvu::testing {

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::string& dir) {
    if (!getcwd(old_, sizeof old_)) old_[0] = '\0';
    changed_ = chdir(dir.c_str()) == 0;
  }
  ~CurrentDirectory() {
    if (changed_ && old_[0]) (void)chdir(old_);
  }
  bool changed() const { return changed_; }

 private:
  char old_[PATH_MAX];
  bool changed_ = false;
};

}  // namespace qvu::testing
