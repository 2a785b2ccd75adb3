#include "CommonLib/SyslogUtilities.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/ScratchDirectory.h"

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

// Selectors are filed under each facility they name; what cannot be read is
// skipped. Of shared lines the most permissive /var/log level wins.
TEST(SyslogModel, LevelsOfEachFacility) {
  const std::string mixed =
      "*.err;kern.debug;auth.notice\t/dev/console\nmail,news.info\t\t/var/log/mail.log\n"
      "lpr.none /var/log/lpr.log\n";
  const std::string skipped =
      "# comment\n\nmail.=info;lpr;news.err;cron.info.x;bogus.info\t/var/log/n.log # note\n"
      " user.notice\t/var/log/user.log\nkern.*\n   \n\n\n";
  const std::string shared = "mail,news.notice\t/var/log/a.log\nmail,news.info\t/var/log/b.log\n"
                             "mail,news.debug\t/dev/console\n";
  const std::tuple<std::string, int, int> cases[] = {
      {mixed, kMail, 6}, {mixed, kNews, 6}, {mixed, 48, 0}, {mixed, kKern, -1}, {mixed, 208, -1},
      {skipped, kMail, -1}, {skipped, kNews, 3}, {skipped, 72, 6}, {skipped, 8, 5},
      {skipped, kKern, -1}, {shared, kMail, 6},
      {"mail.notice\t/var/log/a.log\nmail,news.info\t/var/log/b.log\n", kMail, 5},
  };
  for (const auto& [text, facility, level] : cases)
    EXPECT_EQ(modelOf(text)->levelForFacility(facility), level) << text << facility;

  auto model = modelOf(mixed);
  for (const auto& [facility, level, served] :
       {std::tuple{kAll, 3, true}, {kAll, 4, false}, {kKern, 7, true}, {kAuth, 5, true},
        {kAuth, 6, false}})
    EXPECT_EQ(model->actionsForFacility(facility, level),
              served ? Actions({"/dev/console"}) : std::nullopt) << facility << " " << level;
  EXPECT_EQ(model->levelNameForFacilityName("lpr"), "emerg");  // "none" is held as 0
  EXPECT_EQ(modelOf(shared)->actionsForFacility(kMail, 6),
            Actions({"/var/log/b.log", "/dev/console"}));
  // Trailing empty lines are dropped, a last line of blanks stays.
  EXPECT_EQ(modelOf(skipped)->text(), skipped.substr(0, skipped.size() - 3) + "\n");
}

// A line serving the selector alone is rewritten in place; otherwise a line
// is appended. "none" never equals a held level; "mark" and "*" share a slot
// but not their lines.
TEST(SyslogEdit, RewritesItsOwnLineOrAppendsOne) {
  const std::string own = "mail.info\t\t\t\t\t\t/var/log/m\n";
  const std::string err = "mail.err\t\t\t\t\t\t/var/log/m\n";
  const std::string none = "mail.none\t\t\t\t\t\t/var/log/m\n";
  struct Case {
    std::string before, after;
    const char* level;
    const char* facility = "mail";
    const char* action = "/var/log/m";
  };
  std::vector<Case> cases = {
      {"*.err\t/dev/console\n", "*.err\t/dev/console\n" + own, "info"},
      {own, own, "info"}, {own, err, "err"}, {own, "mail.*\t\t\t\t\t\t\t/var/log/m\n", "*"},
      {none, none, "none"}, {"", "*.err\t\t\t\t\t\t\t/dev/console\n", "err", "*", "/dev/console"},
      {"", "remoteauth.notice\t\t\t\t\t/var/log/m\n", "notice", "RemoteAuth"},
      {"", "auth.warn\t\t\t\t\t\t@loghost\n", "warning", "security", "@loghost"},
      {"security.info\t/var/log/m\n", "auth.err\t\t\t\t\t\t/var/log/m\n", "err", "auth"},
      {"# c\nmail.info\t/var/log/m\nkern.*\t/dev/console\n\n\n",
       "# c\n" + err + "kern.*\t/dev/console\n", "err"},
      {"*.err\t/dev/console\n", "*.err\t/dev/console\nmark.info\t\t\t\t\t\t/dev/console\n",
       "info", "mark", "/dev/console"},
  };
  for (const char* shared : {"mail,news.info\t/var/log/m\n", "mail.info;kern.err\t/var/log/m\n",
                             "mail.info\t/var/log/m # keep\n", " mail.info\t/var/log/m\n"})
    cases.push_back({shared, shared + err, "err"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before + c.level + " " + c.facility);
    auto model = modelOf(c.before);
    bool changed = c.before != c.after || c.after == none;
    stderrOf([&] { EXPECT_EQ(model->setLevelName(c.level, c.facility, c.action), changed); });
    EXPECT_EQ(model->text(), c.after);
    EXPECT_EQ(model->dirty(), changed);
  }
  auto model = modelOf("*.err\t/dev/console\nmark.info\t/dev/console\n");
  EXPECT_EQ(stderrOf([&] { (void)model->setLevel(6, kMail, "/var/log/m"); }),
            "new syslog line:\n" + own);
  EXPECT_TRUE(model->removeActionsForFacilityName("mark"));
  EXPECT_EQ(model->text(), "*.err\t/dev/console\n" + own);
}

TEST(SyslogEdit, RefusesWhatHasNoNameOrWouldNotReadBackAndRemoves) {
  auto model = modelOf("mail.info\t/var/log/m\n");
  const std::tuple<int, int, const char*> refused[] = {
      {8, kMail, "/var/log/x"}, {-1, kMail, "/var/log/x"}, {3, 208, "/var/log/x"},
      {3, 17, "/var/log/x"}, {3, kMail, ""}, {3, kMail, "/var/log/a b"},
      {3, kMail, "/var/log/a#b"}};
  EXPECT_EQ(stderrOf([&] {
    for (const auto& [level, facility, action] : refused)
      EXPECT_FALSE(model->setLevel(level, facility, action)) << level << facility << action;
    EXPECT_FALSE(model->setLevelName("loud", "mail", "/var/log/x"));
    EXPECT_FALSE(model->setLevelName("info", "nosuch", "/var/log/x"));
  }), "");
  EXPECT_FALSE(model->dirty());
  EXPECT_EQ(model->text(), "mail.info\t/var/log/m\n");

  // Removing deletes solitary lines and forgets the facility.
  model = modelOf("a\n\nmail,news.info\t/var/log/shared\nmail.err\t/var/log/m\n");
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
  EXPECT_EQ(modelOf("")->text(), "\n");
}

// A file that cannot be read is never written. After an edit the file is
// written and the daemon gets a hangup; without edits it is read again.
TEST(SyslogRecycle, WritesTheFileAndSignalsTheDaemon) {
  ScratchDirectory dir;
  NamedSleeper daemon(dir, "sk-syslogd");
  dir.write("syslogd.pid", std::to_string(daemon.pid()) + "\n");
  SyslogUtilities model(dir.path("syslog.conf"), SyslogDaemon{dir.path("p"), "sk-absentd"});
  EXPECT_EQ(model.levelForFacility(kMail), -1);
  EXPECT_FALSE(model.setLevel(3, kMail, "/var/log/m"));
  EXPECT_FALSE(model.recycle());
  EXPECT_EQ(dir.listing(), "sk-syslogd syslogd.pid ");

  dir.write("syslog.conf", "*.err\t/dev/console\n\n");
  SyslogUtilities edited(dir.path("syslog.conf"),
                         SyslogDaemon{dir.path("syslogd.pid"), "sk-syslogd"});
  stderrOf([&] { EXPECT_TRUE(edited.setLevel(6, kMail, "/var/log/m")); });
  EXPECT_EQ(dir.read("syslog.conf"), "*.err\t/dev/console\n\n");  // nothing yet
  EXPECT_TRUE(edited.recycle());
  EXPECT_EQ(dir.read("syslog.conf"), "*.err\t/dev/console\nmail.info\t\t\t\t\t\t/var/log/m\n");
  EXPECT_EQ(daemon.terminatingSignal(), SIGHUP);
  EXPECT_EQ(model.levelForFacility(kMail), 6);
  dir.write("syslog.conf", "mail.err\t/var/log/m\n");
  EXPECT_TRUE(model.recycle());
  EXPECT_EQ(model.levelForFacility(kMail), 3);
}

}  // namespace
}  // namespace steward
