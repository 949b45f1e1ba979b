#include "data/JetQueryText.h"

#include "support/Common.h"

namespace qvu {
namespace {

struct Token {
  std::string text;  // a bracketed name without its brackets
  bool name = false;  // a plain or bracketed name, or a keyword
  bool bracketed = false;
  size_t end = 0;
};

bool NameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// The token that starts at or after pos; an empty text at the end of the query. Quoted texts
// come whole, so nothing inside them is taken for a keyword.
Token NextToken(const std::string& q, size_t pos) {
  while (pos < q.size() && (q[pos] == ' ' || q[pos] == '\t' || q[pos] == '\r' || q[pos] == '\n')) ++pos;
  Token t;
  if (pos >= q.size()) {
    t.end = q.size();
    return t;
  }
  char c = q[pos];
  if (c == '[') {
    size_t close = q.find(']', pos + 1);
    t.end = close == std::string::npos ? q.size() : close + 1;
    t.text = q.substr(pos + 1, (close == std::string::npos ? q.size() : close) - pos - 1);
    t.name = t.bracketed = true;
  } else if (c == '\'' || c == '"') {
    size_t close = q.find(c, pos + 1);
    t.end = close == std::string::npos ? q.size() : close + 1;
    t.text = q.substr(pos, t.end - pos);
  } else if (NameChar(c)) {
    t.end = pos;
    while (t.end < q.size() && NameChar(q[t.end])) ++t.end;
    t.text = q.substr(pos, t.end - pos);
    t.name = true;
  } else {
    t.end = pos + 1;
    t.text = std::string(1, c);
  }
  return t;
}

std::vector<Token> Tokens(const std::string& q) {
  std::vector<Token> tokens;
  for (Token t = NextToken(q, 0); !t.text.empty() || t.end < q.size(); t = NextToken(q, t.end)) {
    tokens.push_back(t);
    if (t.end >= q.size()) break;
  }
  return tokens;
}

bool IsKeyword(const Token& t, const char* word) {
  return t.name && !t.bracketed && SameTextAscii(t.text, word);
}

}  // namespace

std::string JetTableOfSelect(const std::string& query) {
  std::vector<Token> tokens = Tokens(query);
  for (size_t i = 0; i + 1 < tokens.size(); ++i)
    if (IsKeyword(tokens[i], "FROM") && tokens[i + 1].name) return tokens[i + 1].text;
  return "";
}

std::vector<std::string> JetSelectedNames(const std::string& query) {
  std::vector<Token> tokens = Tokens(query);
  std::vector<std::string> names;
  if (tokens.empty() || !IsKeyword(tokens[0], "SELECT")) return names;
  // Items between SELECT and FROM, split at commas; an item of one name is a plain name.
  std::vector<Token> item;
  for (size_t i = 1; i <= tokens.size(); ++i) {
    bool end = i == tokens.size() || IsKeyword(tokens[i], "FROM");
    if (end || tokens[i].text == ",") {
      if (item.size() == 1 && item[0].name) names.push_back(item[0].text);
      item.clear();
      if (end) break;
      continue;
    }
    item.push_back(tokens[i]);
  }
  return names;
}

}  // namespace qvu
