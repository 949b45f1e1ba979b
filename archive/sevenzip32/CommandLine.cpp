#include "archive/sevenzip32/CommandLine.h"

#include <cctype>
#include <vector>

namespace sevenzip32 {
namespace {

struct Token {
  std::string text;
  bool isSwitch = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool Tokenize(const char* p, std::vector<Token>& tokens, std::string& reason) {
  while (true) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') return true;
    Token token;
    token.isSwitch = *p == '-';
    bool quoted = false;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
      if (*p != '"') {
        token.text += *p;
      } else if (quoted && p[1] == '"') {
        token.text += '"';
        ++p;
      } else {
        quoted = !quoted;
      }
    }
    if (quoted) {
      reason = "unbalanced quotes";
      return false;
    }
    tokens.push_back(std::move(token));
  }
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool ApplySwitch(const std::string& text, Command& command, bool& outputSeen, std::string& reason) {
  std::string name = Lower(text);
  if (StartsWith(name, "-o")) {
    if (outputSeen) {
      reason = "-o given twice";
      return false;
    }
    command.outputFolder = text.substr(2);  // the folder keeps its case
    if (command.outputFolder.empty()) {
      reason = "-o needs a folder";
      return false;
    }
    outputSeen = true;
    return true;
  }
  if (StartsWith(name, "-p")) {
    command.password = text.substr(2);
    command.hasPassword = !command.password.empty();
    return true;
  }
  if (name == "-aoa") {
    command.overwrite = Overwrite::All;
    return true;
  }
  if (name == "-aos") {
    command.overwrite = Overwrite::Skip;
    return true;
  }
  // Switches that change nothing for an extraction without prompts or file filters.
  if (name == "-hide" || name == "-y" || name == "-r" || name == "-r-" || name == "-r0") return true;
  reason = "unknown switch " + text;
  return false;
}

}  // namespace

bool ParseCommandLine(const char* commandLine, Command& command, std::string& reason) {
  command = Command{};
  if (commandLine == nullptr) {
    reason = "no command line";
    return false;
  }
  std::vector<Token> tokens;
  if (!Tokenize(commandLine, tokens, reason)) return false;

  std::vector<std::string> names;
  bool switchesEnded = false;
  bool outputSeen = false;
  for (const Token& token : tokens) {
    if (!switchesEnded && token.isSwitch) {
      if (token.text == "--") {
        switchesEnded = true;
      } else if (!ApplySwitch(token.text, command, outputSeen, reason)) {
        return false;
      }
    } else {
      names.push_back(token.text);
    }
  }
  if (names.empty()) {
    reason = "no command";
    return false;
  }
  if (Lower(names[0]) != "x") {
    reason = "unsupported command " + names[0];
    return false;
  }
  if (names.size() < 2 || names[1].empty()) {
    reason = "no archive name";
    return false;
  }
  if (names.size() > 2) {
    reason = "file names after the archive are not supported";
    return false;
  }
  command.archive = names[1];
  return true;
}

}  // namespace sevenzip32
