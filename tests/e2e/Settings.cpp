#include "tests/e2e/Settings.h"

#include <gtest/gtest.h>

#include "tests/e2e/ProgramRunner.h"

namespace qvu::testing {

std::string SettingsRows(const std::string& domain, const std::string& extraRows) {
  return "CONNECT\tDomain\t" + domain + "\t2024/01/01 9:00:00\n" +
         "CONNECT\tSalonID\tS0001\t2024/01/01\n" + "CONNECT\tSalonPW\tsalonpass\t\\N\n" +
         "VERSION\tID\tverid\t\\N\n" + "VERSION\tPW\tverpw\t\\N\n" + extraRows;
}

void MakeSettingsDb(const std::string& file, const std::string& rows, const std::string& passwordArg) {
  RunOptions o;
  o.args = {file};
  if (!passwordArg.empty()) o.args.push_back(passwordArg);
  o.input = rows;
  RunResult r = RunProgram(QVU_BIN_DIR "/make-settings-db", o);
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

}  // namespace qvu::testing
