#pragma once
// The anigif tool run as a whole program, for the tests that use it as an interface.

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace velmora::testing {

struct RunResult {
  int status = -1;  // the exit status; -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

// Runs anigif with the arguments, each quoted for the shell, and collects what it writes to
// stdout and stderr.
inline RunResult RunAnigif(const std::vector<std::string>& args) {
  const TempDir scratch("anigif-run");
  const std::filesystem::path out = scratch / "stdout";
  const std::filesystem::path err = scratch / "stderr";
  std::string command = std::string("'") + VELMORA_ANIGIF + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >'" + out.string() + "' 2>'" + err.string() + "'";
  const int raw = std::system(command.c_str());
  RunResult result;
  result.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadText(out);
  result.err = ReadText(err);
  return result;
}

}  // namespace velmora::testing
