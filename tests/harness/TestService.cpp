#include <strings.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "tests/harness/Harness.h"
#include "tests/harness/JsonLines.h"

namespace qvu::testing {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr auto kStartLimit = std::chrono::seconds(20);

const char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string DemoServiceScript() { return std::string(QVU_SOURCE_DIR) + "/tools/demo_service.py"; }

json HeadersJson(const HeaderList& headers) {
  json list = json::array();
  for (const auto& [name, value] : headers) list.push_back(json::array({name, value}));
  return list;
}

}  // namespace

std::string Base64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kBase64Alphabet[(v >> s) & 63];
  }
  if (i + 1 == bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8);
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += kBase64Alphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string Unbase64(std::string_view text) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    const char* at = c ? std::strchr(kBase64Alphabet, c) : nullptr;
    if (at == nullptr) continue;  // "=" padding and line breaks
    acc = (acc << 6) | uint32_t(at - kBase64Alphabet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += char((acc >> bits) & 0xFF);
    }
  }
  return out;
}

std::string BasicAuthorization(const std::string& user, const std::string& password) {
  return "Basic " + Base64(user + ":" + password);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HarnessError("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw HarnessError("cannot write " + path);
}

void ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  // Readers re-read on change; the rename makes them see the old or the new text, never half.
  const std::string temp = path + ".new";
  WriteFileBytes(temp, bytes);
  std::error_code err;
  fs::rename(temp, path, err);
  if (err) throw HarnessError("cannot replace " + path + ": " + err.message());
}

std::vector<json> ReadJsonLines(const std::string& path, std::uintmax_t from) {
  std::vector<json> records;
  std::ifstream in(path, std::ios::binary);
  if (!in) return records;
  in.seekg(static_cast<std::streamoff>(from));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  // A line without its line end is still being written: it is not there yet.
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    json record = json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                              text.begin() + static_cast<std::ptrdiff_t>(nl), nullptr, false);
    if (!record.is_discarded() && record.is_object()) records.push_back(std::move(record));
  }
  return records;
}

std::uintmax_t FileSizeOrZero(const std::string& path) {
  std::error_code err;
  auto size = fs::file_size(path, err);
  return err ? 0 : size;
}

std::string JsonText(const json& record, const char* key) {
  auto it = record.find(key);
  return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string Request::Header(std::string_view name) const {
  for (const auto& [n, v] : headers)
    if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return v;
  return "";
}

bool Request::HasHeader(std::string_view name) const {
  for (const auto& [n, v] : headers)
    if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return true;
  return false;
}

Route Route::Ok(std::string body, HeaderList headers) {
  Route route;
  route.body = std::move(body);
  route.headers = std::move(headers);
  return route;
}

Route Route::Status(int status, std::string body) {
  Route route;
  route.status = status;
  route.body = std::move(body);
  return route;
}

Route Route::Redirect(std::string location, int status) {
  Route route;
  route.status = status;
  route.headers = {{"Location", std::move(location)}};
  return route;
}

TestService::TestService(const Certificate& cert) : TestService(cert, cert) {}

TestService::TestService(const Certificate& first, const Certificate& later) : folder_("qvu-service") {
  fs::create_directories(folder_ / "files");
  WriteRoutes();
  std::vector<std::string> argv{PythonInterpreter(), DemoServiceScript(), "--cert", first.certFile,
                                "--key", first.keyFile, "--port", "0", "--routes",
                                folder_ / "routes.json", "--files", folder_ / "files", "--log",
                                folder_ / "requests.jsonl"};
  if (later.certFile != first.certFile)
    argv.insert(argv.end(), {"--next-cert", later.certFile, "--next-key", later.keyFile});
  process_ = std::make_unique<ChildProcess>(argv, true);
  std::string line = process_->ReadLine(kStartLimit);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) throw HarnessError("the test service reported no port: " + line);
}

TestService::~TestService() = default;

std::string TestService::BaseUrl(const std::string& host) const {
  return "https://" + host + ":" + std::to_string(port_);
}

void TestService::SetRoute(const std::string& method, const std::string& path,
                           const Route& route) {
  for (auto& [key, existing] : routes_) {
    if (key.first == method && key.second == path) {
      existing = route;
      WriteRoutes();
      return;
    }
  }
  routes_.push_back({{method, path}, route});
  WriteRoutes();
}

void TestService::RemoveRoute(const std::string& method, const std::string& path) {
  std::erase_if(routes_, [&](const auto& entry) {
    return entry.first.first == method && entry.first.second == path;
  });
  WriteRoutes();
}

void TestService::WriteRoutes() const {
  json list = json::array();
  for (const auto& [key, route] : routes_) {
    list.push_back({{"method", key.first},
                    {"path", key.second},
                    {"status", route.status},
                    {"body", Base64(route.body)},
                    {"headers", HeadersJson(route.headers)},
                    {"delayBeforeBodyMs", route.delayBeforeBodyMs},
                    {"silent", route.silent},
                    {"closeWithoutAnswer", route.closeWithoutAnswer},
                    {"gzip", route.gzip},
                    {"bodyFile", route.bodyFile},
                    {"repeatUnit", Base64(route.repeatUnit)},
                    {"repeatCount", route.repeatCount},
                    {"tail", Base64(route.tail)},
                    {"trickleMs", route.trickleMs}});
  }
  static const char* const kModes[] = {"keep", "close", "drop", "dropReused"};
  json doc = {{"routes", list}, {"connections", kModes[static_cast<int>(mode_)]}};
  ReplaceFileAtomically(folder_ / "routes.json",
                        doc.dump(-1, ' ', false, json::error_handler_t::replace));
}

void TestService::SetConnectionMode(ConnectionMode mode) {
  mode_ = mode;
  WriteRoutes();
}

std::string TestService::FilePath(const std::string& name) const {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos)
    throw HarnessError("not a file name for the file area: " + name);
  std::string path = folder_ / ("files/" + name);
  fs::create_directories(fs::path(path).parent_path());
  return path;
}

void TestService::SetFile(const std::string& name, const std::string& bytes) {
  const std::string path = FilePath(name);
  std::error_code ignored;
  fs::remove(path, ignored);  // may be a link left by SetFileFromPath
  WriteFileBytes(path, bytes);
}

void TestService::SetFileFromPath(const std::string& name, const std::string& path) {
  const std::string link = FilePath(name);
  std::error_code err;
  fs::remove(link, err);
  fs::create_symlink(fs::absolute(path), link, err);
  if (err) throw HarnessError("cannot link " + link + ": " + err.message());
}

void TestService::RemoveFile(const std::string& name) {
  std::error_code ignored;
  fs::remove(FilePath(name), ignored);
}

std::vector<Request> TestService::Requests() const {
  std::vector<Request> requests;
  for (const json& record : ReadJsonLines(folder_ / "requests.jsonl", logStart_)) {
    if (record.contains("event")) continue;
    Request r;
    r.method = JsonText(record, "method");
    r.path = JsonText(record, "path");
    r.rawPath = JsonText(record, "rawPath");
    r.query = JsonText(record, "query");
    r.body = Unbase64(JsonText(record, "body"));
    if (auto it = record.find("connection"); it != record.end() && it->is_number_integer())
      r.connection = it->get<int>();
    if (auto it = record.find("headers"); it != record.end() && it->is_array()) {
      for (const json& pair : *it) {
        if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string())
          r.headers.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
      }
    }
    requests.push_back(std::move(r));
  }
  return requests;
}

ConnectionCount TestService::Connections() const {
  ConnectionCount count;
  for (const json& record : ReadJsonLines(folder_ / "requests.jsonl", logStart_)) {
    const std::string event = JsonText(record, "event");
    if (event == "connection") ++count.tcp;
    if (event == "handshake") {
      ++count.handshakes;
      if (record.value("resumed", false)) ++count.resumed;
    }
  }
  return count;
}

void TestService::ClearRequests() { logStart_ = FileSizeOrZero(folder_ / "requests.jsonl"); }

}  // namespace qvu::testing
