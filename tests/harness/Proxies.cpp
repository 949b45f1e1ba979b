#include "tests/harness/Harness.h"
#include "tests/harness/JsonLines.h"

namespace qvu::testing {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(20);

const char* KindArgument(RecordingProxy::Kind kind) {
  switch (kind) {
    case RecordingProxy::Kind::HttpConnect: return "http";
    case RecordingProxy::Kind::Socks4:
    case RecordingProxy::Kind::Socks4a: return "socks4";
    case RecordingProxy::Kind::Socks5: return "socks5";
  }
  return "http";
}

}  // namespace

RecordingProxy::RecordingProxy(Kind kind, std::optional<Credentials> required)
    : folder_("qvu-proxy") {
  std::vector<std::string> argv = {PythonInterpreter(),
                                   std::string(QVU_SOURCE_DIR) + "/tests/harness/recording_proxy.py",
                                   "--kind", KindArgument(kind), "--log", folder_ / "seen.jsonl"};
  if (required) argv.insert(argv.end(), {"--user", required->user, "--password", required->password});
  process_ = std::make_unique<ChildProcess>(argv, true);
  std::string line = process_->ReadLine(kStartLimit);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) throw HarnessError("the recording proxy reported no port: " + line);
}

RecordingProxy::~RecordingProxy() = default;

std::vector<ProxyHandshake> RecordingProxy::Seen() const {
  std::vector<ProxyHandshake> seen;
  for (const auto& record : ReadJsonLines(folder_ / "seen.jsonl", 0)) {
    ProxyHandshake h;
    h.kind = JsonText(record, "kind");
    h.targetHost = JsonText(record, "targetHost");
    if (auto it = record.find("targetPort"); it != record.end() && it->is_number_integer())
      h.targetPort = it->get<int>();
    h.user = JsonText(record, "user");
    h.password = JsonText(record, "password");
    h.proxyAuthorization = JsonText(record, "proxyAuthorization");
    h.method = JsonText(record, "method");
    if (auto it = record.find("accepted"); it != record.end() && it->is_boolean())
      h.accepted = it->get<bool>();
    seen.push_back(std::move(h));
  }
  return seen;
}

RealProxy::RealProxy(Kind kind, std::optional<Credentials> required) : folder_("qvu-realproxy") {
  const std::string program = kind == Kind::HttpConnect ? RequireProgram("tinyproxy", "tinyproxy")
                                                        : RequireProgram("microsocks", "microsocks");
  // Neither program can report the port it took, so pick one, and pick again in the rare
  // case that someone else took it in between.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = PickFreePort();
    std::vector<std::string> argv;
    if (kind == Kind::HttpConnect) {
      std::string config =
          "Port " + std::to_string(port_) + "\n"
          "Listen 127.0.0.1\n"
          "Timeout 120\n"
          "LogFile \"" + (folder_ / "tinyproxy.log") + "\"\n"
          "LogLevel Connect\n"
          "MaxClients 64\n"
          "Allow 127.0.0.1\n"
          "DisableViaHeader Yes\n";
      // No ConnectPort line: CONNECT is allowed to every port, as the tests' services
      // listen on random ones.
      if (required) config += "BasicAuth " + required->user + " " + required->password + "\n";
      WriteFileBytes(folder_ / "tinyproxy.conf", config);
      argv = {program, "-d", "-c", folder_ / "tinyproxy.conf"};
    } else {
      argv = {program, "-i", "127.0.0.1", "-p", std::to_string(port_)};
      if (required) argv.insert(argv.end(), {"-u", required->user, "-P", required->password});
    }
    process_ = std::make_unique<ChildProcess>(argv, false);
    auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline && process_->Running()) {
      if (WaitForPort(port_, std::chrono::milliseconds(100)) && process_->Running()) return;
    }
    process_.reset();
  }
  throw HarnessError(program + " did not start listening on 127.0.0.1");
}

RealProxy::~RealProxy() = default;

}  // namespace qvu::testing
