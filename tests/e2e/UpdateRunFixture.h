// The fixture of the end-to-end runs: the built program in a fresh program folder, a
// SERVER.MDB in its work folder, and the local test service it talks to.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/ProgramRunner.h"
#include "tests/e2e/Settings.h"
#include "tests/e2e/VersionList.h"
#include "tests/harness/Harness.h"

namespace qvu::testing {

inline const char* const kListPath = "/quelta/api/office/gvermgr";
inline const char* const kLogPath = "/quelta/api/office/sverlog";

class UpdateRun : public ::testing::Test {
 protected:
  UpdateRun()
      : cert_(CertificateAuthority::Shared().Issue("localhost")),
        service_(cert_),
        folder_(std::make_unique<ProgramFolder>()) {}

  std::string Domain() const { return "localhost:" + std::to_string(service_.Port()); }

  void Settings(const std::string& extraRows = "") {
    MakeSettingsDb(folder_->workDir() + "/SERVER.MDB", SettingsRows(Domain(), extraRows));
  }

  void ServeList(const std::vector<Entry>& entries) {
    service_.SetRoute("GET", kListPath,
                      Route::Ok(VersionListXml(entries), {{"Content-Type", "text/xml; charset=UTF-8"}}));
  }

  RunResult Run(std::vector<std::string> args, const std::string& answer = "y\n",
                std::vector<std::string> env = {}) {
    RunOptions o;
    o.args = std::move(args);
    o.cwd = folder_->workDir();
    o.input = answer;
    o.extraEnv = std::move(env);
    o.extraEnv.push_back("SSL_CERT_FILE=" + CertificateAuthority::Shared().RootFile());
    return RunProgram(folder_->exe(), o);
  }

  std::vector<Request> RequestsTo(const std::string& pathPrefix) const {
    std::vector<Request> out;
    for (const Request& r : service_.Requests())
      if (r.path.rfind(pathPrefix, 0) == 0) out.push_back(r);
    return out;
  }

  std::string P(const std::string& rel) const { return folder_->path() + rel; }

  Certificate cert_;
  TestService service_;
  std::unique_ptr<ProgramFolder> folder_;
};

}  // namespace qvu::testing
