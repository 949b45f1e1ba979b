// Takes the picture of the window for the README: the real preparation against a service
// (the demo's), then the window with its candidates, drawn by Qt's offscreen platform and
// saved instead of waiting for a press.
//
//   window-picture OUT.png PROGRAM-FILE ARGUMENTS...
//
// PROGRAM-FILE stands for the running program's file: its folder is the program folder.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFrm.h"
#include "net/XmlMod.h"
#include "ui/QtView.h"

int main(int argc, char** argv) {
  using namespace qvu;
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUT.png PROGRAM-FILE ARGUMENTS...\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  ProgramContext context{std::vector<std::string>(argv + 3, argv + argc), argv[2]};
  // The same picture on every machine, with or without a display; a failure's box is
  // answered at once and its text printed.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("QVU_AUTO_ACCEPT_DIALOGS", "1", 1);
  int qtArgc = 1;
  std::unique_ptr<View> view = CreateQtView(qtArgc, argv);
  try {
    TXmlMod xmlMod;
    TMainFrm mainFrm(xmlMod, *view, std::move(context));
    if (startAborted) {
      std::fprintf(stderr, "window-picture: the preparation ended without a window\n");
      return 1;
    }
    if (view->ListBox1Count() == 0) {
      std::fprintf(stderr, "window-picture: no candidates to show\n");
      return 1;
    }
    if (!SaveWindowPicture(*view, out)) {
      std::fprintf(stderr, "window-picture: cannot write %s\n", out.c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "window-picture: %s\n", e.what());
    return 1;
  }
  return 0;
}
