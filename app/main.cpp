// The entry point: one copy per machine, the two long-lived objects, the message loop.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "app/MainFrm.h"
#include "app/Process.h"
#include "app/SingleInstance.h"
#include "net/XmlMod.h"
#include "ui/DisplayProbe.h"
#include "ui/QtView.h"
#include "ui/TerminalView.h"

namespace {

// The window when its display answers; the terminal otherwise, with a word on standard
// error when a display was named but cannot be opened, since the user expected a window.
bool UseWindow() {
  using qvu::DisplayProbe;
  const DisplayProbe display = qvu::ProbeDisplay();
  if (display.state == DisplayProbe::State::kUnreachable)
    std::fprintf(stderr, "ディスプレイ %s を開けないため、端末で続けます\n",
                 qvu::TerminalLine(display.name).c_str());
  return display.state == DisplayProbe::State::kReachable;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qvu;
  const bool gui = UseWindow();

  SingleInstance instance("QueltaVersionUp");
  if (!instance.Held()) {
    if (gui)
      ShowQtAlreadyRunning(argc, argv, "既に起動しています", "起動チェック");
    else
      std::fprintf(stderr, "%s\n", "既に起動しています");
    return 1;
  }

  std::unique_ptr<View> view =
      gui ? CreateQtView(argc, argv) : std::unique_ptr<View>(std::make_unique<TerminalView>());
  ProgramContext context{std::vector<std::string>(argv + 1, argv + argc),
                         RunningProgramFile(argv[0])};
  try {
    TXmlMod xmlMod;
    TMainFrm mainFrm(xmlMod, *view, std::move(context));
    if (startAborted) {
      instance.Release();
      return 0;
    }
    view->Run();
  } catch (const std::exception& e) {
    view->ShowError(e.what());
  } catch (...) {
    view->ShowError("");
  }
  instance.Release();
  return 0;
}
