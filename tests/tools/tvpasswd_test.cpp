// tvpasswd as an operator meets it: on a terminal it asks twice without
// echo; from a pipe or the command line it reads the password as given.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

#include "runtime/password.h"
#include "support/terminal_run.h"
#include "support/test_db.h"

namespace {

// The last non-empty line of the screen: the printed value.
std::string LastLine(const std::string &screen) {
  std::string text = screen;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

std::string Decrypted(const std::string &login, const std::string &value) {
  char plain[256] = "";
  if (!DecryptPassword(login.c_str(), value.c_str(), plain, sizeof(plain))) return "<not decryptable>";
  return plain;
}

TEST(Tvpasswd, AsksTwiceWithoutEchoOnATerminal) {
  tvtest::TerminalRun run = tvtest::RunOnTerminal(
      TVDBMGR_TVPASSWD, {"talvex"}, {{"Password: ", "s3cret\n"}, {"Retype password: ", "s3cret\n"}});
  EXPECT_EQ(run.exitCode, 0) << run.bytes;
  EXPECT_EQ(run.bytes.find("s3cret"), std::string::npos) << run.bytes;
  EXPECT_EQ(Decrypted("talvex", LastLine(tvtest::Screen(run.bytes))), "s3cret") << run.bytes;

  run = tvtest::RunOnTerminal(TVDBMGR_TVPASSWD, {"talvex"},
                              {{"Password: ", "s3cret\n"}, {"Retype password: ", "s3crit\n"}});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.bytes.find("tvpasswd: the passwords do not match"), std::string::npos) << run.bytes;
  EXPECT_EQ(run.bytes.find("s3cr"), std::string::npos) << run.bytes;
}

// Runs a shell command line; its standard output and exit code.
std::pair<std::string, int> Shell(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (p == nullptr) return {"", -1};
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), p) != nullptr) out += buffer;
  int status = pclose(p);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(Tvpasswd, PipeCommandLineAndHelp) {
  const std::string tool = TVDBMGR_TVPASSWD;
  auto [piped, pipedCode] = Shell("printf 's3cret\\n' | " + tool + " talvex 2>&1");
  EXPECT_EQ(pipedCode, 0);
  EXPECT_EQ(Decrypted("talvex", LastLine(piped)), "s3cret") << piped;
  auto [given, givenCode] = Shell(tool + " -- -odd s3cret </dev/null 2>&1");
  EXPECT_EQ(givenCode, 0);
  EXPECT_EQ(Decrypted("-odd", LastLine(given)), "s3cret") << given;
  for (const char *help : {"-h", "--help"}) {
    auto [usage, code] = Shell(tool + " " + help + " 2>/dev/null");
    EXPECT_EQ(code, 0) << help;
    EXPECT_EQ(usage.rfind("Usage: tvpasswd [--] <login> [<password>]\n", 0), 0u) << usage;
  }
  auto [none, noneCode] = Shell(tool + " 2>&1 </dev/null");
  EXPECT_EQ(noneCode, 1);
  EXPECT_EQ(none.rfind("Usage: tvpasswd", 0), 0u) << none;
}

}  // namespace
