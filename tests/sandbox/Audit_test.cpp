// The audit log and safe retries through the tool: refusals and changes are
// recorded with secrets masked, only administrators read the log, and a
// retried request id runs once per caller.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

class AuditTest : public ::testing::Test {
 protected:
  DictionaryRef ask(const char* user, const std::string& command, const std::string& more = "") {
    RunOptions options{.input = request(command, more), .keepState = true};
    options.environment["REMOTE_USER"] = user;
    // A restart's background job gets time to call.
    if (command == "restart") options.shell = "steward_kestrel; sleep 0.3";
    return as<Dictionary>(parsed(sandbox_.run(options).output));
  }
  Sandbox sandbox_;
};

TEST_F(AuditTest, ChangesAndRefusalsAreRecordedAndOnlyAdminsReadThem) {
  const std::string restart = "<key>requestId</key><string>r1</string>";
  const std::tuple<const char*, std::string, std::string, std::string> steps[] = {
      // Caller, command, more keys, the reply's verdict.
      {"carol", "restart", restart, "CONNECT-AUTH"},
      {"alice", "email", "<key>email</key><dict><key>SMTPPassword</key><string>hunter2</string>"
                         "</dict>", "0"},
      {"alice", "restart", restart, "RESTART-SUCCESS"},
      {"alice", "restart", restart, "RESTART-SUCCESS"},  // a retry: runs nothing
      {"bob", "restart", restart, "RESTART-SUCCESS"},    // another caller: runs
      {"carol", "getAuditLog", "", "CONNECT-AUTH"},
      {"alice", "status", "", "UNEXPECTED_COMMAND"},      // nothing to record
  };
  for (const auto& [user, command, more, verdict] : steps) {
    auto reply = ask(user, command, more);
    ASSERT_TRUE(reply);
    for (const char* key : {"Message", "OSStatus", "error"}) {
      if (ValueRef value = reply->objectForKey(key)) {
        EXPECT_EQ(textOf(value), verdict);
      }
    }
  }
  EXPECT_EQ(sandbox_.readFile("/steward/record/calls"), "/sbin/shutdown\n-r\nnow\n"
                                                         "/sbin/shutdown\n-r\nnow\n");
  auto log = ask("alice", "getAuditLog");
  EXPECT_TRUE(isEqual(log->objectForKey("ChainIntact"), makeBoolean(true)));
  auto records = as<Array>(log->objectForKey("Records"));
  ASSERT_EQ(records->count(), 5u);
  std::string seen;
  for (const ValueRef& record : records->objects())
    seen += textOf(as<Dictionary>(record)->objectForKey("user")) + " " +
            textOf(as<Dictionary>(record)->objectForKey("command")) + ";";
  EXPECT_EQ(seen, "carol restart;alice email;alice restart;bob restart;carol getAuditLog;");
  std::string file = sandbox_.readFile("/var/lib/stewardd/audit.log");
  EXPECT_EQ(file.find("hunter2"), std::string::npos);
  EXPECT_NE(file.find("\"SMTPPassword\":\"********\""), std::string::npos);
  struct stat info;
  ASSERT_EQ(stat(sandbox_.hostPath("/var/lib/stewardd/audit.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(sandbox_.logTexts().size(), 5u);
  // A log that cannot be written changes no reply; the system log says so.
  std::filesystem::remove(sandbox_.hostPath("/var/lib/stewardd/audit.log"));
  std::filesystem::create_directory(sandbox_.hostPath("/var/lib/stewardd/audit.log"));
  EXPECT_EQ(textOf(ask("carol", "shutdown")->objectForKey("Message")), "CONNECT-AUTH");
  EXPECT_NE(sandbox_.logTexts().back().find("carol shutdown \"CONNECT-AUTH\" not recorded"),
            std::string::npos);
}

}  // namespace
}  // namespace steward::sandbox
