#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "host/AuditLog.h"
#include "host/AuditRecord.h"
#include "host/JsonText.h"
#include "host/RequestReplay.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

// Ten records over files of about three records each, two rotated ones kept.
class AuditLogTest : public ::testing::Test {
 protected:
  ScratchDirectory dir_;
  AuditLog log_{dir_.path() + "/", 300, 2};
  void append(int n) {
    std::string hash, error;
    ASSERT_TRUE(log_.append("\"n\":" + std::to_string(n) + ",\"pad\":\"" +
                                std::string(40, 'x') + "\"", &hash, &error)) << error;
  }
  // Rewrites the lines of one file.
  void edit(const char* name, const std::function<void(std::vector<std::string>&)>& change) {
    std::vector<std::string> lines;
    std::istringstream in(dir_.read(name));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    change(lines);
    std::string out;
    for (const auto& line : lines) out += line + "\n";
    dir_.write(name, out);
  }
};

TEST_F(AuditLogTest, ChainFindsEveryChangeAcrossRotatedFiles) {
  using Lines = std::vector<std::string>;
  // Nine records: 1-3 in audit.log.2, 4-6 in audit.log.1, 7-9 in audit.log.
  const std::tuple<const char*, std::function<void(Lines&)>, std::string> cases[] = {
      {"audit.log", [](Lines&) {}, ""},
      {"audit.log", [](Lines& l) { l[1][l[1].size() - 3] = 'y'; }, "audit.log:3"},
      {"audit.log", [](Lines& l) { l.erase(l.begin() + 1); }, "audit.log:2"},
      {"audit.log", [](Lines& l) { l.push_back(l.back()); }, "audit.log:4"},
      {"audit.log.1", [](Lines& l) { l.back().pop_back(); }, "audit.log:1"},
      {"audit.log.2", [](Lines& l) { l.pop_back(); }, "audit.log.1:1"},
  };
  for (const auto& [file, change, brokenAt] : cases) {
    SCOPED_TRACE(brokenAt);
    std::filesystem::remove_all(dir_.path()), std::filesystem::create_directory(dir_.path());
    for (int n = 1; n <= 9; ++n) append(n);
    EXPECT_TRUE(log_.read().intact);
    edit(file, change);
    auto contents = log_.read();
    EXPECT_EQ(contents.intact, brokenAt.empty());
    EXPECT_EQ(contents.brokenAt, brokenAt);
  }
  append(10);  // the oldest file goes; what is kept still holds together
  EXPECT_EQ(log_.read().lines.size(), 7u);
  EXPECT_TRUE(log_.read().intact);
  EXPECT_FALSE(std::filesystem::exists(dir_.path("audit.log.3")));
}

TEST_F(AuditLogTest, ConcurrentAppendersKeepOneChain) {
  log_ = AuditLog(dir_.path() + "/", 4096, 50);
  std::vector<pid_t> children;
  for (int child = 0; child < 4; ++child) {
    pid_t pid = fork();
    if (pid == 0) {
      for (int n = 0; n < 40; ++n) append(child * 100 + n);
      _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0);
  }
  auto contents = log_.read();
  EXPECT_TRUE(contents.intact) << contents.brokenAt;
  EXPECT_EQ(contents.lines.size(), 160u);
  EXPECT_TRUE(std::filesystem::exists(dir_.path("audit.log.1")));
}

TEST(AuditRecord, SecretsAreMaskedAtAnyDepthAndTheRecordReadsBack) {
  auto request = dictionaryOf(
      {{"command", makeString("email")}, {"clientContext", makeString("c")},
       {"email", dictionaryOf({{"SMTPPassword", makeString("p1")}, {"To", makeString("a\"\n")},
                               {"list", arrayOf({dictionaryOf({{"Client_SECRET", makeInteger(1)},
                                                               {"n", makeReal(0.5)}})})}})},
       {"passphraseHint", dictionaryOf({{"x", makeString("p2")}})}});
  auto reply = dictionaryOf({{"OSStatus", makeInteger(0)},
                             {"Verified", dictionaryOf({{"Previous", makeString("old")},
                                                        {"Observed", makeBoolean(true)}})}});
  std::string body = audit_record_body(request, makeString("alice"), reply, 1796618096);
  EXPECT_EQ(body, R"("time":"2026-12-07T04:34:56Z","user":"alice","command":"email","parameters":)"
                  R"({"email":{"SMTPPassword":"********","To":"a\"\u000a","list":[{"Client_SECRET":)"
                  R"("********","n":0.5}]},"passphraseHint":"********"},"old":"old","new":true,"result":0)");
  EXPECT_EQ(jsonText(valueOfJson("{" + body + "}")), "{" + body + "}");
  request->setObject(makeString(std::string(70000, 'x')), "email");
  EXPECT_NE(audit_record_body(request, nullptr, reply, 0).find(
                R"("parameters":"<70040 bytes, not kept>")"), std::string::npos);
}

// Kept at 1000 s: a reply to alice's "r1" restart and others never to be given.
TEST(RequestReplay, OnlyTheSameCallersRetryWithinTheWindowIsAnswered) {
  auto ask = [](const std::string& id, const char* command = "restart", bool dryRun = false) {
    auto request = dictionaryOf({{"command", makeString(command)}, {"requestId", makeString(id)}});
    if (dryRun) request->setObject(makeBoolean(true), "dryRun");
    return request;
  };
  auto context = dictionaryOf({{"_user_", makeString("alice")}});
  auto kept = dictionaryOf({{"Message", makeString("RESTART-SUCCESS")}});
  const std::string tooLong(kMaximumRequestIdLength + 1, 'l');
  for (const auto& [request, reply] : {std::pair{ask("r1"), kept}, {ask("dry", "restart", true), kept},
       {ask("no"), dictionaryOf({{"Message", makeString("CONNECT-AUTH")}})}, {ask(tooLong), kept}})
    RequestReplay(context, 1000).keep(request, reply);
  // The request, its caller, the time asked and whether the kept reply comes.
  const std::tuple<MutableDictionaryRef, const char*, double, bool> cases[] = {
      {ask("r1"), "alice", 1599, true},           {ask("r1"), "alice", 1600, false},
      {ask("r1"), "alice", 401, true},            {ask("r1"), "alice", 400, false},
      {ask("r1"), "bob", 1001, false},            {ask("r1", "shutdown"), "alice", 1001, false},
      {ask("r1", "restart", true), "alice", 1001, false}, {ask("dry"), "alice", 1001, false},
      {ask("no"), "alice", 1001, false},          {ask(tooLong), "alice", 1001, false},
  };
  for (const auto& [request, user, now, answered] : cases) {
    context->setObject(makeString(user), "_user_");
    EXPECT_EQ(RequestReplay(context, now).storedReply(request) == kept, answered) << user << now;
  }
  for (int i = 0; i < 100; ++i) RequestReplay(context, 1000 + i).keep(ask(std::to_string(i)), kept);
  EXPECT_EQ(as<Array>(context->objectForKey("requestReplies"))->count(), RequestReplay::kCapacity);
  EXPECT_TRUE(RequestReplay(context, 1100).storedReply(ask("99")));
  EXPECT_FALSE(RequestReplay(context, 1100).storedReply(ask("35")));
}

}  // namespace
}  // namespace steward
