#include "CommonLib/ProcessUtilities.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include "tests/CommonLib/ScratchDirectory.h"

namespace steward {
namespace {

TEST(RunTask, AnswersMinusOneAndStartsNothingWithoutAnExecutable) {
  ScratchDirectory dir;
  dir.write("plain", "#!/bin/sh\ntouch " + dir.path("ran") + "\n");
  chmod(dir.path("plain").c_str(), 0644);
  std::optional<std::string> out = "untouched";
  EXPECT_EQ(run_task(dir.path("missing"), {}, &out, nullptr), -1);
  EXPECT_EQ(run_task(dir.path("plain"), {}, &out, nullptr), -1);
  EXPECT_EQ(run_task(dir.path(), {}, &out, nullptr), -1);
  EXPECT_EQ(run_task("", {}, &out, nullptr), -1);
  EXPECT_EQ(out, "untouched");
  EXPECT_FALSE(std::filesystem::exists(dir.path("ran")));
}

TEST(RunTask, ReportsExitStatusesAndSignalsDistinctly) {
  EXPECT_EQ(run_task("/bin/sh", {"-c", "exit 3"}, nullptr, nullptr), 3);
  EXPECT_EQ(run_task("/bin/sh", {"-c", "exit 255"}, nullptr, nullptr), 255);
  EXPECT_EQ(run_task("/bin/sh", {"-c", "kill -TERM $$"}, nullptr, nullptr),
            kTerminatedBySignal + SIGTERM);
  EXPECT_EQ(run_task("/bin/sh", {"-c", "kill -HUP $$"}, nullptr, nullptr),
            kTerminatedBySignal + SIGHUP);
}

TEST(RunTask, PassesArgumentsAndCollectsBothStreams) {
  std::optional<std::string> out, err;
  EXPECT_EQ(run_task("/bin/sh",
                     {"-c", "printf '%s|' \"$0\" \"$@\"; printf 'é' >&2", "zero",
                      "a b", ""},
                     &out, &err),
            0);
  EXPECT_EQ(out, "zero|a b||");
  EXPECT_EQ(err, "é");
  // Without places both streams go to /dev/null.
  EXPECT_EQ(run_task("/bin/sh", {"-c", "echo lost; echo lost >&2"}, nullptr, nullptr), 0);
  // Bytes that are not UTF-8 give none.
  EXPECT_EQ(run_task("/usr/bin/printf", {"a\\377"}, &out, &err), 0);
  EXPECT_EQ(out, std::nullopt);
  EXPECT_EQ(err, "");
}

TEST(RunTaskWithEnv, FeedsInputAndUsesExactlyTheGivenEnvironment) {
  std::optional<std::string> out, err;
  std::string input = "línea uno\nzwei\n";
  EXPECT_EQ(run_task_with_env("/bin/cat", {}, &input, &out, &err, nullptr), 0);
  EXPECT_EQ(out, input);
  EXPECT_EQ(err, "");

  std::map<std::string, std::string> environment{{"A", "1"}, {"B", "two words"}};
  EXPECT_EQ(run_task_with_env("/usr/bin/env", {}, nullptr, &out, nullptr, &environment), 0);
  EXPECT_EQ(out, "A=1\nB=two words\n");

  // No input text: the child reads /dev/null and sees its end at once.
  EXPECT_EQ(run_task_with_env("/bin/cat", {}, nullptr, &out, nullptr, nullptr), 0);
  EXPECT_EQ(out, "");
  std::string empty;
  EXPECT_EQ(run_task_with_env("/bin/cat", {}, &empty, &out, nullptr, nullptr), 0);
  EXPECT_EQ(out, "");
}

// More than a pipe holds, in every direction at once, and a child that
// stops reading: nothing stalls and this process survives the broken pipe.
TEST(RunTaskWithEnv, LargeStreamsDoNotStall) {
  std::optional<std::string> out, err;
  EXPECT_EQ(run_task("/bin/sh",
                     {"-c", "head -c 1048576 /dev/zero | tr '\\0' x >&2; echo done"},
                     &out, &err),
            0);
  EXPECT_EQ(out, "done\n");
  EXPECT_EQ(err, std::string(1048576, 'x'));

  std::string input(4 << 20, 'y');
  EXPECT_EQ(run_task_with_env("/bin/sh", {"-c", "cat; cat >&2 </dev/null"}, &input, &out,
                              &err, nullptr),
            0);
  EXPECT_EQ(out, input);
  EXPECT_EQ(err, "");
  EXPECT_EQ(run_task_with_env("/bin/sh", {"-c", "exit 7"}, &input, &out, &err, nullptr), 7);
}

TEST(ReadPidFile, ReadsTheLeadingNumber) {
  ScratchDirectory dir;
  dir.write("good", "123\n");
  dir.write("spaced", "  42 trailing");
  dir.write("words", "pid 5\n");
  dir.write("huge", "99999999999\n");
  dir.write("empty", "");
  EXPECT_EQ(read_pid_file(dir.path("good").c_str()), 123);
  EXPECT_EQ(read_pid_file(dir.path("spaced").c_str()), 42);
  EXPECT_EQ(read_pid_file(dir.path("words").c_str()), -1);
  EXPECT_EQ(read_pid_file(dir.path("huge").c_str()), -1);
  EXPECT_EQ(read_pid_file(dir.path("empty").c_str()), -1);
  EXPECT_EQ(read_pid_file(dir.path("missing").c_str()), -1);
  EXPECT_EQ(read_pid_file(""), -1);
  EXPECT_EQ(read_pid_file(nullptr), -1);
}

// A bare name is looked up in the run directory as given, then with ".pid".
TEST(ReadPidFile, LooksUpABareNameInTheRunDirectory) {
  ScratchDirectory dir;
  std::string runDirectory = dir.path() + "/";
  dir.write("both", "1\n");
  dir.write("both.pid", "2\n");
  dir.write("daemon.pid", "3\n");
  EXPECT_EQ(read_pid_file("both", runDirectory), 1);
  EXPECT_EQ(read_pid_file("daemon", runDirectory), 3);
  EXPECT_EQ(read_pid_file("nothing", runDirectory), -1);
  EXPECT_EQ(read_pid_file(std::string(1015, 'n').c_str(), runDirectory), -1);
}

TEST(ProcessTable, FindsAProcessByItsExactCommandName) {
  ScratchDirectory dir;
  NamedSleeper sleeper(dir, "sk-pidlookup");
  ASSERT_GT(sleeper.pid(), 0);
  EXPECT_EQ(pid_for_process_name("sk-pidlookup"), sleeper.pid());
  EXPECT_EQ(pid_for_process_name("sk-pidlook"), -1);
  EXPECT_EQ(pid_for_process_name("sk-pidlookup-x"), -1);
  EXPECT_EQ(pid_for_process_name(""), -1);
}

// The name must stand at the start of the command name or after a "/".
TEST(ProcessTable, VerifiesAProcessIdAgainstACommandName) {
  ScratchDirectory dir;
  NamedSleeper sleeper(dir, "sk-verify");
  EXPECT_EQ(verify_pid_for_process_name(sleeper.pid(), "sk-verify"), sleeper.pid());
  EXPECT_EQ(verify_pid_for_process_name(sleeper.pid(), "sk-ver"), sleeper.pid());
  EXPECT_EQ(verify_pid_for_process_name(sleeper.pid(), "verify"), -1);
  EXPECT_EQ(verify_pid_for_process_name(sleeper.pid(), ""), -1);
  EXPECT_EQ(verify_pid_for_process_name(0, "sk-verify"), -1);
  EXPECT_EQ(verify_pid_for_process_name(-1, "sk-verify"), -1);

  char saved[16] = {};
  prctl(PR_GET_NAME, saved);
  prctl(PR_SET_NAME, "bin/sk-self");
  EXPECT_EQ(verify_pid_for_process_name(getpid(), "sk-self"), getpid());
  EXPECT_EQ(verify_pid_for_process_name(getpid(), "self"), -1);
  prctl(PR_SET_NAME, saved);

  int gone = sleeper.pid();
  kill(gone, SIGKILL);
  EXPECT_EQ(sleeper.terminatingSignal(), SIGKILL);
  EXPECT_EQ(verify_pid_for_process_name(gone, "sk-verify"), -1);
}

TEST(FindDaemonPid, TrustsThePidFileOnlyForTheRightProcess) {
  ScratchDirectory dir;
  NamedSleeper daemon(dir, "sk-daemon");
  NamedSleeper other(dir, "sk-other");
  dir.write("daemon.pid", std::to_string(daemon.pid()) + "\n");
  dir.write("stale.pid", std::to_string(other.pid()) + "\n");
  EXPECT_EQ(find_daemon_pid(dir.path("daemon.pid").c_str(), "sk-daemon"), daemon.pid());
  // A stale pid file is not made good by searching the table.
  EXPECT_EQ(find_daemon_pid(dir.path("stale.pid").c_str(), "sk-daemon"), -1);
  EXPECT_EQ(find_daemon_pid(dir.path("missing.pid").c_str(), "sk-daemon"), daemon.pid());
  EXPECT_EQ(find_daemon_pid(dir.path("missing.pid").c_str(), "sk-absent"), -1);
}

}  // namespace
}  // namespace steward
