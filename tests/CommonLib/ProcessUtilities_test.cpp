#include "CommonLib/ProcessUtilities.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/ScratchDirectory.h"

namespace steward {
namespace {

using Text = std::optional<std::string>;

TEST(RunTask, StartsOnlyExecutablesAndPassesEverythingThrough) {
  ScratchDirectory dir;
  dir.write("plain", "#!/bin/sh\ntouch " + dir.path("ran") + "\n");
  Text out = "untouched";
  for (const std::string& path : {dir.path("missing"), dir.path("plain"), dir.path(), {}})
    EXPECT_EQ(run_task(path, {}, &out, nullptr), -1) << path;
  EXPECT_EQ(out, "untouched");
  EXPECT_FALSE(std::filesystem::exists(dir.path("ran")));
  const std::pair<const char*, int> cases[] = {
      {"exit 3", 3}, {"exit 255", 255}, {"kill -TERM $$", kTerminatedBySignal + SIGTERM},
      {"kill -HUP $$", kTerminatedBySignal + SIGHUP}, {"echo lost; echo lost >&2", 0}};
  for (const auto& [script, status] : cases)
    EXPECT_EQ(run_task("/bin/sh", {"-c", script}, nullptr, nullptr), status) << script;

  // Arguments, streams, input and exactly the given environment; bytes that
  // are not UTF-8 give none. Streams larger than a pipe, and a child that
  // stops reading, stall nothing and this process survives the broken pipe.
  Text err;
  EXPECT_EQ(run_task("/bin/sh", {"-c", "printf '%s|' \"$0\" \"$@\"; printf 'é' >&2", "zero",
                                 "a b", ""}, &out, &err), 0);
  EXPECT_EQ(out.value_or("none") + err.value_or("none"), "zero|a b||é");
  EXPECT_EQ(run_task("/usr/bin/printf", {"a\\377"}, &out, &err), 0);
  EXPECT_EQ(out, std::nullopt);
  std::string input(4 << 20, 'y');
  EXPECT_EQ(run_task_with_env("/bin/sh", {"-c", "cat; head -c 1048576 /dev/zero >&2"}, &input,
                              &out, &err, nullptr), 0);
  EXPECT_EQ(out, input);
  EXPECT_EQ(err, std::string(1048576, '\0'));
  EXPECT_EQ(run_task_with_env("/bin/sh", {"-c", "exit 7"}, &input, &out, &err, nullptr), 7);
  std::map<std::string, std::string> environment{{"A", "1"}, {"B", "two words"}};
  EXPECT_EQ(run_task_with_env("/usr/bin/env", {}, nullptr, &out, nullptr, &environment), 0);
  EXPECT_EQ(out, "A=1\nB=two words\n");
}

// A pid file gives its leading number; a bare name is looked up as given,
// then with ".pid". The exact command name is found in the table; for a given
// id, the name at the start of the command name or after a "/". A stale pid
// file is never trusted.
TEST(ProcessTable, ReadsPidFilesAndFindsAndVerifiesProcesses) {
  ScratchDirectory dir;
  const std::pair<const char*, int> cases[] = {
      {"123\n", 123}, {"  42 trailing", 42}, {"pid 5\n", -1}, {"99999999999\n", -1}, {"", -1}};
  for (const auto& [text, pid] : cases) {
    dir.write("f", text);
    EXPECT_EQ(read_pid_file(dir.path("f").c_str()), pid) << text;
  }
  dir.write("both", "1\n");
  dir.write("both.pid", "2\n");
  dir.write("daemon.pid", "3\n");
  EXPECT_EQ(read_pid_file("both", dir.path() + "/"), 1);
  EXPECT_EQ(read_pid_file("daemon", dir.path() + "/"), 3);
  EXPECT_EQ(read_pid_file(std::string(1015, 'n').c_str(), dir.path() + "/"), -1);

  NamedSleeper daemon(dir, "sk-daemon");
  NamedSleeper other(dir, "sk-other");
  EXPECT_EQ(pid_for_process_name("sk-daemon"), daemon.pid());
  for (const char* name : {"sk-daem", "sk-daemon-x", ""}) EXPECT_EQ(pid_for_process_name(name), -1);
  EXPECT_EQ(verify_pid_for_process_name(daemon.pid(), "sk-dae"), daemon.pid());
  EXPECT_EQ(verify_pid_for_process_name(daemon.pid(), "daemon"), -1);
  EXPECT_EQ(verify_pid_for_process_name(0, "sk-daemon"), -1);

  dir.write("daemon.pid", std::to_string(daemon.pid()) + "\n");
  dir.write("stale.pid", std::to_string(other.pid()) + "\n");
  EXPECT_EQ(find_daemon_pid(dir.path("daemon.pid").c_str(), "sk-daemon"), daemon.pid());
  EXPECT_EQ(find_daemon_pid(dir.path("stale.pid").c_str(), "sk-daemon"), -1);
  EXPECT_EQ(find_daemon_pid(dir.path("missing.pid").c_str(), "sk-daemon"), daemon.pid());
  EXPECT_EQ(find_daemon_pid(dir.path("missing.pid").c_str(), "sk-absent"), -1);
  kill(other.pid(), SIGKILL);
  EXPECT_EQ(other.terminatingSignal(), SIGKILL);
  EXPECT_EQ(verify_pid_for_process_name(other.pid(), "sk-other"), -1);
}

}  // namespace
}  // namespace steward
