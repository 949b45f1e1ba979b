#include "ui/TerminalView.h"

#include <unistd.h>

#include <iostream>
#include <istream>
#include <ostream>

namespace qvu {

namespace {

constexpr int kBarCells = 30;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

void WriteLine(std::ostream& stream, const std::string& text) {
  stream << TerminalLine(text) << '\n';
  stream.flush();
}

}  // namespace

std::string TerminalLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\r' || c == '\t') {
      line += ' ';
    } else if (c < 0x20 || c == 0x7F) {
      line += '?';
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      line += '?';  // U+0080..U+009F, the C1 controls in UTF-8
      ++i;
    } else {
      line += static_cast<char>(c);
    }
  }
  return line;
}

TerminalView::TerminalView()
    : TerminalView(std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1) {}

TerminalView::TerminalView(std::istream& in, std::ostream& out, std::ostream& err,
                           bool drawProgress)
    : in_(in), out_(out), err_(err), drawProgress_(drawProgress) {}

void TerminalView::SetEvents(ViewEvents* events) { events_ = events; }

void TerminalView::ShowError(const std::string& text) {
  EndProgressLine();
  WriteLine(err_, text);
}

void TerminalView::ShowInfo(const std::string& text) {
  EndProgressLine();
  WriteLine(out_, text);
}

void TerminalView::SetOuterSize(int, int) {}

void TerminalView::ListBox1Clear() { listBox1_.clear(); }
void TerminalView::ListBox1Add(const std::string& line) { listBox1_.push_back(line); }
int TerminalView::ListBox1Count() const { return static_cast<int>(listBox1_.size()); }
void TerminalView::ListBox1Select(int) {}

void TerminalView::ListBox2Clear() { listBox2_.clear(); }
void TerminalView::ListBox2Add(const std::string& line) {
  listBox2_.push_back(line);
  EndProgressLine();
  WriteLine(out_, line);
}
int TerminalView::ListBox2Count() const { return static_cast<int>(listBox2_.size()); }

void TerminalView::SetCloseButtonVisible(bool) {}
void TerminalView::SetUpdateButtonVisible(bool visible) { updateVisible_ = visible; }

void TerminalView::SetProgressMax(int64_t max) {
  progressMax_ = max;
  DrawProgress();
}

void TerminalView::SetProgressPosition(int64_t position) {
  progressPosition_ = position;
  DrawProgress();
}

void TerminalView::Repaint() {}
void TerminalView::ProcessMessages() {}

void TerminalView::Close() { closeRequested_ = true; }

void TerminalView::Run() {
  if (closeRequested_ || events_ == nullptr) return;
  for (const std::string& line : listBox1_) WriteLine(out_, line);
  if (listBox1_.empty()) WriteLine(out_, kNothingToUpdateText);
  if (listBox1_.empty() || !updateVisible_) {
    events_->CloseClicked();
    return;
  }
  out_ << kTerminalUpdateQuestion;
  out_.flush();
  std::string answer;
  const bool got = static_cast<bool>(std::getline(in_, answer));
  if (!got) {
    // The question stays open on the line otherwise; what follows starts on its own line.
    out_ << '\n';
    out_.flush();
  }
  const std::string choice = got ? Trimmed(answer) : std::string();
  if (choice != "y" && choice != "Y") {
    events_->CloseClicked();
    return;
  }
  events_->UpdateClicked();
  // A failed run leaves the window open with only the close button, for the user to press;
  // here nobody is left to press it.
  if (!closeRequested_) events_->CloseClicked();
}

void TerminalView::EndProgressLine() {
  if (drawnPercent_ < 0) return;
  err_ << '\n';
  err_.flush();
  drawnPercent_ = -1;
}

void TerminalView::DrawProgress() {
  if (!drawProgress_) return;
  int percent = 0;
  if (progressMax_ > 0 && progressPosition_ > 0) {
    const double share = static_cast<double>(progressPosition_) / static_cast<double>(progressMax_);
    percent = share >= 1.0 ? 100 : static_cast<int>(share * 100.0);
  }
  // Work events come for every block of a transfer; a line redrawn only when the figure
  // changes keeps a slow terminal from holding the transfer up.
  if (percent == drawnPercent_) return;
  drawnPercent_ = percent;
  const int cells = percent * kBarCells / 100;
  err_ << '\r' << '[' << std::string(cells, '#') << std::string(kBarCells - cells, '-') << "] ";
  if (percent < 100) err_ << ' ';
  if (percent < 10) err_ << ' ';
  err_ << percent << '%';
  err_.flush();
}

void ShowTerminalAlreadyRunning(const std::string& text) {
  ShowTerminalAlreadyRunning(text, std::cerr);
}

void ShowTerminalAlreadyRunning(const std::string& text, std::ostream& err) {
  WriteLine(err, text);
}

}  // namespace qvu
