// A main window built in-process for tests of its operations: a program folder of its own,
// the recording view, and a data module that no test network reaches unless it says so.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/MainFrm.h"
#include "net/XmlMod.h"
#include "tests/harness/ChildProcess.h"
#include "ui/RecordingView.h"

namespace qvu::testing {

class AppFixture {
 public:
  // No arguments: the preparation stops at the command line, leaving a window object whose
  // operations a test can call one by one.
  AppFixture() : folder_("qvu-app"), root_(folder_.Path()) {
    exePath = root_ + "/prog/";
    std::filesystem::create_directories(exePath);
    startAborted = false;
    frm = std::make_unique<TMainFrm>(xml, view, ProgramContext{{}, exePath + "QueltaVersionUp"});
    view.errors.clear();
  }
  ~AppFixture() { frm.reset(); }

  TempFolder folder_;
  std::string root_, exePath;
  RecordingView view;
  TXmlMod xml;
  std::unique_ptr<TMainFrm> frm;
};

}  // namespace qvu::testing
