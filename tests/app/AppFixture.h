// A main window built in-process for tests of its operations: a program folder of its own,
// the recording view, and a data module that no test network reaches unless it says so.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/MainFrm.h"
#include "net/XmlMod.h"
#include "ui/RecordingView.h"

namespace qvu::testing {

class AppFixture {
 public:
  // No arguments: the preparation stops at the command line, leaving a window object whose
  // operations a test can call one by one.
  AppFixture() {
    char tmpl[] = "/tmp/qvu-app-XXXXXX";
    root_ = mkdtemp(tmpl);
    exePath = root_ + "/prog/";
    std::filesystem::create_directories(exePath);
    startAborted = false;
    frm = std::make_unique<TMainFrm>(xml, view, ProgramContext{{}, exePath + "QueltaVersionUp"});
    view.errors.clear();
  }
  ~AppFixture() {
    frm.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::string root_, exePath;
  RecordingView view;
  TXmlMod xml;
  std::unique_ptr<TMainFrm> frm;
};

}  // namespace qvu::testing
