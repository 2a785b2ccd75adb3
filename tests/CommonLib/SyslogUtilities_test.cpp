#include "CommonLib/SyslogUtilities.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "tests/CommonLib/ScratchDirectory.h"

namespace steward {
namespace {

using Actions = std::optional<std::vector<std::string>>;

constexpr int kMail = 16, kNews = 56, kKern = 0, kAuth = 32, kAll = 1016;

// A model of `text` whose file is never read.
std::unique_ptr<SyslogUtilities> modelOf(std::string_view text) {
  auto model = std::make_unique<SyslogUtilities>("/nonexistent/syslog.conf");
  model->readText(text);
  return model;
}

// Runs an edit with the composed-line diagnostics captured.
template <class Edit>
std::string stderrOf(Edit edit) {
  testing::internal::CaptureStderr();
  edit();
  return testing::internal::GetCapturedStderr();
}

TEST(SyslogNames, ConvertBothWays) {
  using S = SyslogUtilities;
  const std::pair<const char*, int> facilities[] = {
      {"MAIL", 16}, {"security", 32}, {"*", 1016}, {"mai", -1}, {"**", -1}};
  for (const auto& [name, code] : facilities) EXPECT_EQ(S::syslogFacilityForString(name), code);
  const std::pair<const char*, int> levels[] = {
      {"warning", 4}, {"Panic", 0}, {"*", 7}, {"=info", -1}};
  for (const auto& [name, level] : levels) EXPECT_EQ(S::syslogLevelForString(name), level);
  EXPECT_EQ(S::stringForSyslogFacility(32), "auth");
  EXPECT_EQ(S::stringForSyslogFacility(1016), "*");
  EXPECT_EQ(S::stringForSyslogFacility(208), std::nullopt);
  EXPECT_EQ(S::stringForSyslogLevel(4), "warn");
  EXPECT_EQ(S::stringForSyslogLevel(16), "none");
  EXPECT_EQ(S::stringForSyslogLevel(8), std::nullopt);
}

TEST(SyslogModel, FilesSelectorsUnderEachFacilityTheyName) {
  auto model = modelOf(
      "*.err;kern.debug;auth.notice\t/dev/console\n"
      "mail,news.info\t\t/var/log/mail.log\n"
      "lpr.none /var/log/lpr.log\n");
  EXPECT_EQ(model->actionsForFacility(kAll, 3), Actions({"/dev/console"}));
  EXPECT_EQ(model->actionsForFacility(kAll, 4), std::nullopt);
  EXPECT_EQ(model->actionsForFacility(kKern, 7), Actions({"/dev/console"}));
  EXPECT_EQ(model->actionsForFacility(kAuth, 5), Actions({"/dev/console"}));
  EXPECT_EQ(model->actionsForFacility(kAuth, 6), std::nullopt);
  // "*" is not copied into single facilities.
  EXPECT_EQ(model->levelForFacility(kMail), 6);
  EXPECT_EQ(model->levelForFacility(kNews), 6);
  EXPECT_EQ(model->levelNameForFacilityName("mail"), "info");
  EXPECT_EQ(model->levelNameForFacilityName("lpr"), "emerg");  // "none" is held as 0
  EXPECT_EQ(model->levelNameForFacilityName("kern"), std::nullopt);  // no /var/log
  EXPECT_EQ(model->levelNameForFacilityName("nosuch"), std::nullopt);
  EXPECT_EQ(model->levelForFacility(208), -1);
  EXPECT_EQ(model->actionsForFacility(208, 0), std::nullopt);
}

TEST(SyslogModel, SkipsWhatItCannotReadAndKeepsEveryLine) {
  const std::string text =
      "# comment\n"
      "\n"
      "mail.=info;lpr;news.err;cron.info.x;bogus.info\t/var/log/n.log # note\n"
      " user.notice\t/var/log/user.log\n"
      "kern.*\n"
      "   \n\n\n";
  auto model = modelOf(text);
  EXPECT_EQ(model->levelForFacility(kMail), -1);
  EXPECT_EQ(model->levelForFacility(kNews), 3);
  EXPECT_EQ(model->levelForFacility(72), 6);
  EXPECT_EQ(model->levelForFacility(8), 5);
  EXPECT_EQ(model->levelForFacility(kKern), -1);  // no action
  // Trailing empty lines are dropped, a last line of blanks stays.
  EXPECT_EQ(model->text(), text.substr(0, text.size() - 3) + "\n");
}

TEST(SyslogModel, LevelForFacilityTakesTheHighestUnlessOneIsSolitary) {
  // Shared lines are not solitary: the most permissive /var/log level wins.
  auto model = modelOf(
      "mail,news.notice\t/var/log/a.log\n"
      "mail,news.info\t/var/log/b.log\n"
      "mail,news.debug\t/dev/console\n");
  EXPECT_EQ(model->levelForFacility(kMail), 6);
  EXPECT_EQ(model->actionsForFacility(kMail, 6),
            Actions({"/var/log/b.log", "/dev/console"}));
  // A line that serves its selector alone is solitary and answers at once.
  model = modelOf("mail.notice\t/var/log/a.log\nmail,news.info\t/var/log/b.log\n");
  EXPECT_EQ(model->levelForFacility(kMail), 5);
}

TEST(SyslogEdit, AppendsThenChangesItsOwnLineInPlace) {
  const std::string text = "*.err\t/dev/console\n";
  auto model = modelOf(text);
  bool changed = false;
  EXPECT_EQ(stderrOf([&] { changed = model->setLevel(6, kMail, "/var/log/mail.log"); }),
            "new syslog line:\nmail.info\t\t\t\t\t\t/var/log/mail.log\n");
  EXPECT_TRUE(changed);
  EXPECT_TRUE(model->dirty());
  EXPECT_EQ(model->text(), text + "mail.info\t\t\t\t\t\t/var/log/mail.log\n");

  // Its own line changes in place; "none" never equals a held level, so it
  // rewrites every time.
  const std::tuple<int, bool, const char*> edits[] = {
      {6, false, "mail.info\t\t\t\t\t\t"}, {3, true, "mail.err\t\t\t\t\t\t"},
      {7, true, "mail.*\t\t\t\t\t\t\t"}, {16, true, "mail.none\t\t\t\t\t\t"},
      {16, true, "mail.none\t\t\t\t\t\t"}};
  for (const auto& [level, changes, line] : edits) {
    stderrOf([&] { changed = model->setLevel(level, kMail, "/var/log/mail.log"); });
    EXPECT_EQ(changed, changes) << line;
    EXPECT_EQ(model->text(), text + line + "/var/log/mail.log\n");
  }
}

TEST(SyslogEdit, ComposesTheActionColumnWithFiveToSevenTabs) {
  auto model = modelOf("");
  EXPECT_EQ(stderrOf([&] { (void)model->setLevel(3, kAll, "/dev/console"); }),
            "new syslog line:\n*.err\t\t\t\t\t\t\t/dev/console\n");
  EXPECT_EQ(stderrOf([&] { (void)model->setLevelName("notice", "RemoteAuth", "/var/log/r"); }),
            "new syslog line:\nremoteauth.notice\t\t\t\t\t/var/log/r\n");
  EXPECT_EQ(stderrOf([&] { (void)model->setLevelName("warning", "security", "@loghost"); }),
            "new syslog line:\nauth.warn\t\t\t\t\t\t@loghost\n");
  EXPECT_EQ(model->text(),
            "*.err\t\t\t\t\t\t\t/dev/console\n"
            "remoteauth.notice\t\t\t\t\t/var/log/r\n"
            "auth.warn\t\t\t\t\t\t@loghost\n");
}

// A line of the file that serves one selector alone is rewritten in place;
// lines shared with other selectors, or carrying a comment or a leading
// blank, are left as they are and a new line is appended.
TEST(SyslogEdit, RewritesOnlyLinesThatServeTheSelectorAlone) {
  auto model = modelOf("# c\nmail.info\t/var/log/mail.log\nkern.*\t/dev/console\n\n\n");
  stderrOf([&] { EXPECT_TRUE(model->setLevel(3, kMail, "/var/log/mail.log")); });
  EXPECT_EQ(model->text(),
            "# c\nmail.err\t\t\t\t\t\t/var/log/mail.log\nkern.*\t/dev/console\n");

  for (const std::string shared :
       {"mail,news.info\t/var/log/mail.log", "mail.info;kern.err\t/var/log/mail.log",
        "mail.info\t/var/log/mail.log # keep", " mail.info\t/var/log/mail.log"}) {
    model = modelOf(shared + "\n");
    stderrOf([&] { EXPECT_TRUE(model->setLevel(3, kMail, "/var/log/mail.log")); });
    EXPECT_EQ(model->text(), shared + "\nmail.err\t\t\t\t\t\t/var/log/mail.log\n") << shared;
  }
}

// "mark" and "*" share a slot, but an edit of one never touches the
// other's lines; a second name of a facility is still that facility.
TEST(SyslogEdit, EditsOnlyTheLinesOfTheFacilityNamed) {
  auto model = modelOf("*.err\t/dev/console\n");
  stderrOf([&] { EXPECT_TRUE(model->setLevel(6, 200, "/dev/console")); });
  EXPECT_EQ(model->text(), "*.err\t/dev/console\nmark.info\t\t\t\t\t\t/dev/console\n");
  EXPECT_TRUE(model->removeActionsForFacilityName("mark"));
  EXPECT_EQ(model->text(), "*.err\t/dev/console\n");

  model = modelOf("security.info\t/var/log/s\n");
  stderrOf([&] { EXPECT_TRUE(model->setLevelName("err", "auth", "/var/log/s")); });
  EXPECT_EQ(model->text(), "auth.err\t\t\t\t\t\t/var/log/s\n");
}

TEST(SyslogEdit, RefusesWhatHasNoNameOrWouldNotReadBack) {
  auto model = modelOf("mail.info\t/var/log/m\n");
  const std::tuple<int, int, const char*> refused[] = {
      {8, kMail, "/var/log/x"}, {-1, kMail, "/var/log/x"}, {3, 208, "/var/log/x"},
      {3, 17, "/var/log/x"}, {3, kMail, ""}, {3, kMail, "/var/log/a b"}, {3, kMail, "/var/log/a#b"}};
  std::string diagnostics = stderrOf([&] {
    for (const auto& [level, facility, action] : refused)
      EXPECT_FALSE(model->setLevel(level, facility, action)) << level << facility << action;
    EXPECT_FALSE(model->setLevelName("loud", "mail", "/var/log/x"));
    EXPECT_FALSE(model->setLevelName("info", "nosuch", "/var/log/x"));
  });
  EXPECT_EQ(diagnostics, "");
  EXPECT_FALSE(model->dirty());
  EXPECT_EQ(model->text(), "mail.info\t/var/log/m\n");
}

TEST(SyslogEdit, RemovingDeletesSolitaryLinesAndForgetsTheFacility) {
  auto model = modelOf("a\n\nmail,news.info\t/var/log/shared\nmail.err\t/var/log/m\n");
  stderrOf([&] { (void)model->setLevel(6, kMail, "/var/log/new"); });
  EXPECT_TRUE(model->removeActionsForFacilityName("mail"));
  EXPECT_TRUE(model->dirty());
  EXPECT_EQ(model->text(), "a\n\nmail,news.info\t/var/log/shared\n");
  EXPECT_EQ(model->levelForFacility(kMail), -1);  // until the next load
  EXPECT_EQ(model->levelForFacility(kNews), 6);
  EXPECT_FALSE(model->removeActionsForFacility(kMail));
  EXPECT_FALSE(model->removeActionsForFacility(208));

  // No action removes too; a last empty line gets no extra line feed.
  model = modelOf("a\n\nmail.err\t/var/log/m\n");
  EXPECT_TRUE(model->setLevel(3, kMail, std::nullopt));
  EXPECT_EQ(model->text(), "a\n");
  model = modelOf("");
  EXPECT_EQ(model->text(), "\n");
}

// Without edits the file is read again and nothing signalled; after an edit
// the file is written and the daemon named by the pid file gets a hangup.
// Without a running daemon, or with a pid file naming another process, the
// file is still written and nothing is signalled.
TEST(SyslogRecycle, WritesTheFileAndSignalsOnlyTheDaemon) {
  ScratchDirectory dir;
  NamedSleeper daemon(dir, "sk-syslogd");
  dir.write("syslog.conf", "*.err\t/dev/console\n\n");
  dir.write("syslogd.pid", std::to_string(daemon.pid()) + "\n");
  for (const char* name : {"sk-absentd", "sk-realsyslogd", "sk-syslogd"}) {
    SyslogUtilities model(dir.path("syslog.conf"), SyslogDaemon{dir.path("syslogd.pid"), name});
    stderrOf([&] { EXPECT_TRUE(model.setLevel(6, kMail, "/var/log/m")); });
    EXPECT_EQ(dir.read("syslog.conf"), "*.err\t/dev/console\n\n");  // nothing yet
    EXPECT_EQ(model.recycle(), name == std::string("sk-syslogd")) << name;
    EXPECT_EQ(dir.read("syslog.conf"), "*.err\t/dev/console\nmail.info\t\t\t\t\t\t/var/log/m\n");
    EXPECT_TRUE(name == std::string("sk-syslogd") || daemon.running()) << name;
    dir.write("syslog.conf", "*.err\t/dev/console\n\n");
  }
  EXPECT_EQ(daemon.terminatingSignal(), SIGHUP);
  EXPECT_EQ(dir.listing(), "sk-syslogd syslog.conf syslogd.pid ");

  SyslogUtilities model(dir.path("syslog.conf"), SyslogDaemon{dir.path("none.pid"), "sk-absentd"});
  EXPECT_EQ(model.levelForFacility(kMail), -1);  // loads the file
  dir.write("syslog.conf", "mail.info\t/var/log/m\n");
  EXPECT_TRUE(model.recycle());
  EXPECT_EQ(model.levelForFacility(kMail), 6);
}

TEST(SyslogFile, AFileThatCannotBeReadIsNeverWritten) {
  ScratchDirectory dir;
  SyslogUtilities model(dir.path("syslog.conf"), SyslogDaemon{dir.path("p"), "sk-absentd"});
  EXPECT_EQ(model.levelForFacility(kMail), -1);
  EXPECT_FALSE(model.setLevel(3, kMail, "/var/log/m"));
  EXPECT_FALSE(model.removeActionsForFacility(kMail));
  EXPECT_FALSE(model.recycle());
  EXPECT_FALSE(std::filesystem::exists(dir.path("syslog.conf")));
  // Once the file appears, the next use loads it.
  dir.write("syslog.conf", "mail.info\t/var/log/m\n");
  EXPECT_EQ(model.levelForFacility(kMail), 6);
  EXPECT_EQ(SyslogUtilities().configPath(), "/etc/syslog.conf");
}

}  // namespace
}  // namespace steward
