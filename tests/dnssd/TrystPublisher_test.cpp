#include "CommonLib/TrystPublisher.h"

#include <arpa/inet.h>

#include "tests/dnssd/TrystTestSupport.h"

namespace steward {
namespace {

using fake_dns_sd::Kind;

class TrystPublisherTest : public TrystTest {
 protected:
  std::shared_ptr<TrystPublisher> web = TrystPublisher::publisherWithServiceName(
      makeString("web"), makeString("_http._tcp."), nullptr, htons(80), 2);
};

// The port goes to the library unchanged; publishing again withdraws first.
TEST_F(TrystPublisherTest, PublishHandsTheFieldsOverAndRepublishes) {
  ASSERT_TRUE(web->publish());
  ASSERT_TRUE(web->publish());
  web->unPublish();
  web->unPublish();
  const std::string port = std::to_string(htons(80));
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "DNSServiceRegister flags=0 if=2 name=web type=_http._tcp. domain=(null) "
                         "host=(null) port=" + port + " txtLen=0 #1",
                         "DNSServiceRefDeallocate #1",
                         "DNSServiceRegister flags=0 if=2 name=web type=_http._tcp. domain=(null) "
                         "host=(null) port=" + port + " txtLen=0 #2",
                         "DNSServiceRefDeallocate #2",
                     }));
  EXPECT_EQ(web->description(), "_http._tcp./web/" + port + "/2");

  // A publisher made bare announces the low 16 bits of its port, -1.
  auto bare = std::make_shared<TrystPublisher>();
  bare->setServiceType(makeString("_x._tcp"));
  ASSERT_TRUE(bare->publish());
  EXPECT_EQ(calls().back(),
            "DNSServiceRegister flags=0 if=0 name=(null) type=_x._tcp domain=(null) host=(null) "
            "port=65535 txtLen=0 #3");
  bare.reset();  // destruction withdraws
  EXPECT_EQ(fake_dns_sd::liveCount(), 0);
}

TEST_F(TrystPublisherTest, FailuresAreLogged) {
  fake_dns_sd::failNextStart(Kind::kRegister, kDNSServiceErr_NameConflict);
  EXPECT_FALSE(web->publish());

  ASSERT_TRUE(web->publish());
  DNSServiceRef registration = fake_dns_sd::live(Kind::kRegister);
  fake_dns_sd::registerReply(registration, 0);
  fake_dns_sd::registerReply(registration, kDNSServiceErr_NameConflict);
  pump();
  pump();
  EXPECT_EQ(fake_dns_sd::live(Kind::kRegister), registration);  // left as it is

  fake_dns_sd::failNextSockFD();  // no watch: false, not logged
  EXPECT_FALSE(web->publish());

  EXPECT_EQ(logTexts(),
            (std::vector<std::string>{
                logged("TrystPublisher.DNSServiceRegister failed with -65548"),
                logged("TrystPublisher.DNSServiceRegisterCallback: Failed to register "
                       "_http._tcp./web/" + std::to_string(htons(80)) + "/2: -65548"),
            }));
  for (const LogLine& line : capture_.lines()) EXPECT_EQ(line.priority, 13);  // user.notice
}

TEST_F(TrystPublisherTest, RegistryKeepsTheFirstAndReleasesByPrefix) {
  auto second = TrystPublisher::publisherWithServiceName(makeString("web"),
                                                         makeString("_http._tcp."), nullptr, 1, 0);
  auto other = TrystPublisher::publisherWithServiceName(makeString("web"),
                                                        makeString("_ftp._tcp."), nullptr, 1, 0);
  TrystPublisher::savePublisherWithUniqueID(makeString("ab"), web);
  TrystPublisher::savePublisherWithUniqueID(makeString("ab"), second);
  TrystPublisher::savePublisherWithUniqueID(makeString("abc"), other);
  EXPECT_EQ(TrystPublisher::getPublisherWithUniqueID(makeString("ab"), makeString("_http._tcp."),
                                                     makeString("web")),
            web);
  EXPECT_EQ(TrystPublisher::getPublisherWithUniqueID(makeString("ab"), makeString("_http._tcp."),
                                                     makeString("other")),
            nullptr);
  TrystPublisher::releasePublishersWithUniqueID(makeString("ab"));
  EXPECT_EQ(TrystPublisher::getPublisherWithUniqueID(makeString("abc"), makeString("_ftp._tcp."),
                                                     makeString("web")),
            nullptr);
}

// Withdrawing all runs the loop for a second only when there was something
// to withdraw; a reply waiting on another source shows whether it ran.
TEST_F(TrystPublisherTest, UnPublishAllRunsTheLoopOnlyWhenThereIsSomething) {
  auto browser = TrystBrowser::browserWithServiceType(makeString("_http._tcp."), nullptr, 0);
  ASSERT_TRUE(browser->startSearching());
  DNSServiceRef browse = fake_dns_sd::live(Kind::kBrowse);
  fake_dns_sd::browseReply(browse, 0, 0, 0, "web", "_http._tcp.", "local.");

  TrystPublisher::unPublishAll();
  EXPECT_EQ(fake_dns_sd::processCount(browse), 0);

  TrystPublisher::savePublisherWithUniqueID(makeString("all"), web);
  ASSERT_TRUE(web->publish());
  const auto start = RunLoopClock::now();
  TrystPublisher::unPublishAll();
  EXPECT_GE(RunLoopClock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(fake_dns_sd::processCount(browse), 1);
  EXPECT_EQ(fake_dns_sd::live(Kind::kRegister), nullptr);
  EXPECT_EQ(TrystPublisher::getPublisherWithUniqueID(makeString("all"), makeString("_http._tcp."),
                                                     makeString("web")),
            web);
  TrystPublisher::releasePublishersWithUniqueID(makeString("all"));
}

}  // namespace
}  // namespace steward
