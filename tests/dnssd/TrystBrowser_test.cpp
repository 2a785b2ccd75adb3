#include "CommonLib/TrystBrowser.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>

#include "CommonLib/TrystQuerier.h"
#include "CommonLib/TrystResolver.h"
#include "tests/dnssd/TrystTestSupport.h"

namespace steward {
namespace {

using fake_dns_sd::Kind;

const std::string kPort80 = std::to_string(htons(80));  // 20480 on this machine
const std::string kAddress = std::string("\xa9\xfe\x4d\x01", 4);  // 169.254.77.1

class TrystBrowserTest : public TrystTest {
 protected:
  void SetUp() override {
    TrystTest::SetUp();
    browser = TrystBrowser::browserWithServiceType(makeString("_http._tcp."), nullptr, 0);
    browser->setDelegate(delegate);
    ASSERT_TRUE(browser->startSearching());
  }

  // Announces "web" and answers the resolve; the query is then running.
  void announceAndResolve() {
    fake_dns_sd::browseReply(fake_dns_sd::live(Kind::kBrowse), kDNSServiceFlagsAdd, 3, 0, "web",
                             "_http._tcp.", "local.");
    pump();
    fake_dns_sd::resolveReply(fake_dns_sd::live(Kind::kResolve), 0, "host.local.", htons(80), 3);
    pump();
  }

  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<TrystBrowser> browser;
};

// Browse, resolve, query: the delegate gets the address and the port as
// the resolve reply carried it, and everything is cleaned up.
TEST_F(TrystBrowserTest, AnnouncedServiceIsResolvedQueriedAndReported) {
  fake_dns_sd::browseReply(fake_dns_sd::live(Kind::kBrowse), kDNSServiceFlagsAdd, 3, 0, "web",
                           "_http._tcp.", "local.");
  pump();
  ASSERT_EQ(browser->resolvers().size(), 1u);
  EXPECT_EQ(browser->resolvers()[0]->parent(), browser);

  fake_dns_sd::resolveReply(fake_dns_sd::live(Kind::kResolve), 0, "host.local.", htons(80), 3);
  pump();
  fake_dns_sd::queryReply(fake_dns_sd::live(Kind::kQuery), kDNSServiceFlagsAdd, 0, 1, kAddress);
  pump();

  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "DNSServiceBrowse flags=0 if=0 type=_http._tcp. domain=(null) #1",
                         "DNSServiceResolve flags=0 if=3 name=web type=_http._tcp. domain=local. #2",
                         "DNSServiceQueryRecord flags=0 if=3 name=host.local. rrtype=1 rrclass=1 #3",
                         "DNSServiceRefDeallocate #2",
                         "DNSServiceRefDeallocate #3",
                     }));
  EXPECT_EQ(delegate->events,
            (std::vector<std::string>{"added ServiceName=web IPv4Address=169.254.77.1 Port=" +
                                      kPort80 + " Domain=local. Type=_http._tcp."}));
  EXPECT_TRUE(browser->resolvers().empty());
  EXPECT_EQ(fake_dns_sd::liveCount(), 1);  // the browse goes on
  EXPECT_TRUE(logTexts().empty());

  // A removal is passed on at once, whether or not it was reported as added.
  fake_dns_sd::browseReply(fake_dns_sd::live(Kind::kBrowse), 0, 3, 0, "other", "_http._tcp.",
                           "local.");
  pump();
  EXPECT_EQ(delegate->events.back(), "removed ServiceName=other Type=_http._tcp. Domain=local.");
}

// Only the first resolve reply counts, even when two are waiting at once.
TEST_F(TrystBrowserTest, SecondResolveReplyIsNeverHandled) {
  fake_dns_sd::browseReply(fake_dns_sd::live(Kind::kBrowse), kDNSServiceFlagsAdd, 3, 0, "web",
                           "_http._tcp.", "local.");
  pump();
  DNSServiceRef resolve = fake_dns_sd::live(Kind::kResolve);
  fake_dns_sd::resolveReply(resolve, 0, "host.local.", htons(80), 3);
  fake_dns_sd::resolveReply(resolve, 0, "second.local.", htons(81), 3);
  pump();
  pump();
  EXPECT_EQ(fake_dns_sd::processCount(resolve), 1);
  EXPECT_EQ(std::count_if(calls().begin(), calls().end(),
                          [](const std::string& c) { return c.starts_with("DNSServiceQueryRecord"); }),
            1);
}

// Query replies that report nothing still end the query and drop the resolver.
TEST_F(TrystBrowserTest, QueryReplyWithoutUsableAddressReportsNothing) {
  struct Case {
    DNSServiceFlags flags;
    DNSServiceErrorType error;
    std::uint16_t recordType;
    std::string data;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {kDNSServiceFlagsAdd, kDNSServiceErr_Unknown, 1, kAddress,
       {logged("TrystQuerier.DNSServiceQueryCallback: Failed to query for host.local.:" + kPort80 +
               ": -65537")}},
      {kDNSServiceFlagsAdd, 0, 28, std::string(16, '\1'),
       {logged("TrystQuerier.DNSServiceQueryCallback: Failed getnameinfo() for host.local.:" +
               kPort80 + ": " + std::to_string(EAI_FAMILY))}},
      {kDNSServiceFlagsAdd, 0, 1, "\1\2\3", // an A record of the wrong length
       {logged("TrystQuerier.DNSServiceQueryCallback: Failed getnameinfo() for host.local.:" +
               kPort80 + ": " + std::to_string(EAI_FAMILY))}},
      {0, 0, 1, kAddress, {}},  // no add flag
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recordType);
    const std::size_t logBefore = logTexts().size();
    announceAndResolve();
    DNSServiceRef query = fake_dns_sd::live(Kind::kQuery);
    ASSERT_NE(query, nullptr);
    fake_dns_sd::queryReply(query, c.flags, c.error, c.recordType, c.data);
    pump();
    std::vector<std::string> log = logTexts();
    EXPECT_EQ(std::vector<std::string>(log.begin() + logBefore, log.end()), c.log);
    EXPECT_TRUE(browser->resolvers().empty());
    EXPECT_EQ(fake_dns_sd::liveCount(), 1);
  }
  EXPECT_TRUE(delegate->events.empty());
}

// A resolver that cannot start is logged and dropped; a failed resolve or a
// querier that cannot start leave the resolver stopped in the list.
TEST_F(TrystBrowserTest, ResolveFailuresAreLoggedAndNeverReported) {
  DNSServiceRef browse = fake_dns_sd::live(Kind::kBrowse);
  fake_dns_sd::failNextStart(Kind::kResolve, kDNSServiceErr_BadParam);
  fake_dns_sd::browseReply(browse, kDNSServiceFlagsAdd, 3, 0, "a", "_http._tcp.", "local.");
  pump();
  EXPECT_TRUE(browser->resolvers().empty());

  fake_dns_sd::failNextSockFD();  // the watch cannot be made: no log of its own
  fake_dns_sd::browseReply(browse, kDNSServiceFlagsAdd, 3, 0, "b", "_http._tcp.", "local.");
  pump();
  EXPECT_TRUE(browser->resolvers().empty());
  EXPECT_EQ(calls().back(), "DNSServiceRefDeallocate #2");

  fake_dns_sd::browseReply(browse, kDNSServiceFlagsAdd, 3, 0, "c", "_http._tcp.", "local.");
  pump();
  fake_dns_sd::resolveReply(fake_dns_sd::live(Kind::kResolve), kDNSServiceErr_NoSuchRecord, "",
                            0);
  pump();
  ASSERT_EQ(browser->resolvers().size(), 1u);

  fake_dns_sd::failNextStart(Kind::kQuery, kDNSServiceErr_Unknown);
  fake_dns_sd::browseReply(browse, kDNSServiceFlagsAdd, 3, 0, "d", "_http._tcp.", "local.");
  pump();
  fake_dns_sd::resolveReply(fake_dns_sd::live(Kind::kResolve), 0, "host.local.", htons(80));
  pump();
  EXPECT_EQ(browser->resolvers().size(), 2u);

  EXPECT_EQ(logTexts(),
            (std::vector<std::string>{
                logged("TrystBrowser.startResolving: DNSServiceResolve failed with -65540"),
                logged("TrystBrowser.DNSServiceBrowseCallback: Failed to create a resolver for "
                       "a._http._tcp..(null)"),
                logged("TrystBrowser.DNSServiceBrowseCallback: Failed to create a resolver for "
                       "b._http._tcp..(null)"),
                logged("TrystBrowser.DNSServiceResolveCallback: Failed to resolve for "
                       "c._http._tcp.local.: -65554"),
                logged("TrystBrowser.startQuerying: DNSServiceQueryRecord failed with -65537"),
                logged("TrystBrowser.DNSServiceBrowseCallback: Failed to create a querier for "
                       "host.local.:" + kPort80),
            }));
  for (const LogLine& line : capture_.lines()) EXPECT_EQ(line.priority, 13);  // user.notice
  EXPECT_EQ(fake_dns_sd::liveCount(), 1);  // only the browse
  EXPECT_TRUE(delegate->events.empty());
}

TEST_F(TrystBrowserTest, StartingAgainRestartsAndFailuresAreLogged) {
  ASSERT_TRUE(browser->startSearching());
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "DNSServiceBrowse flags=0 if=0 type=_http._tcp. domain=(null) #1",
                         "DNSServiceRefDeallocate #1",
                         "DNSServiceBrowse flags=0 if=0 type=_http._tcp. domain=(null) #2",
                     }));

  // A browse reply with an error is logged; the browse goes on.
  browser->setDomain(makeString("local."));
  ASSERT_TRUE(browser->startSearching());
  fake_dns_sd::browseReply(fake_dns_sd::live(Kind::kBrowse), 0, 0, kDNSServiceErr_Unknown, "",
                           "", "");
  pump();
  EXPECT_NE(fake_dns_sd::live(Kind::kBrowse), nullptr);

  fake_dns_sd::failNextStart(Kind::kBrowse, kDNSServiceErr_Unknown);
  EXPECT_FALSE(browser->startSearching());
  EXPECT_EQ(fake_dns_sd::liveCount(), 0);

  // No watch: false without a log entry; the connection stays until the stop.
  fake_dns_sd::failNextSockFD();
  EXPECT_FALSE(browser->startSearching());
  EXPECT_EQ(fake_dns_sd::liveCount(), 1);
  browser->stopSearching();
  browser->stopSearching();
  EXPECT_EQ(fake_dns_sd::liveCount(), 0);

  EXPECT_EQ(logTexts(),
            (std::vector<std::string>{
                logged("TrystBrowser.DNSServiceBrowseCallback: Failed to browse for "
                       "_http._tcp..local.: -65537"),
                logged("TrystBrowser.startSearching: DNSServiceBrowse failed with -65537"),
            }));
  EXPECT_TRUE(delegate->events.empty());
}

// Without a delegate the chain still runs to its end and cleans up.
TEST_F(TrystBrowserTest, ChainCleansUpWithoutDelegate) {
  browser->setDelegate(std::make_shared<TrystBrowserDelegate>());
  announceAndResolve();
  fake_dns_sd::queryReply(fake_dns_sd::live(Kind::kQuery), kDNSServiceFlagsAdd, 0, 1, kAddress);
  browser->setDelegate(nullptr);
  pump();
  EXPECT_TRUE(browser->resolvers().empty());
  EXPECT_EQ(fake_dns_sd::liveCount(), 1);
}

// A failed resolve leaves its resolver in the list; that must not keep the
// browser, and its browse, alive once the caller lets go. Nor may a query
// in flight, whose answer could reach nobody.
TEST_F(TrystBrowserTest, ReleasedBrowserEndsWithItsResolversAndQueries) {
  DNSServiceRef browse = fake_dns_sd::live(Kind::kBrowse);
  fake_dns_sd::browseReply(browse, kDNSServiceFlagsAdd, 3, 0, "c", "_http._tcp.", "local.");
  pump();
  fake_dns_sd::resolveReply(fake_dns_sd::live(Kind::kResolve), kDNSServiceErr_NoSuchRecord, "", 0);
  pump();
  announceAndResolve();
  ASSERT_EQ(browser->resolvers().size(), 2u);
  ASSERT_EQ(fake_dns_sd::liveCount(), 2);  // browse and query

  std::weak_ptr<TrystBrowser> weak = browser;
  std::weak_ptr<TrystResolver> resolver = browser->resolvers()[1];
  browser.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(resolver.expired());  // and with it the querier that held it
  EXPECT_EQ(fake_dns_sd::liveCount(), 0);
  EXPECT_TRUE(delegate->events.empty());
}

// A connection whose daemon is gone is dropped from the loop instead of
// being read again and again.
TEST_F(TrystBrowserTest, BrokenConnectionDoesNotSpinTheLoop) {
  DNSServiceRef browse = fake_dns_sd::live(Kind::kBrowse);
  fake_dns_sd::breakConnection(browse);
  pump();
  pump();
  EXPECT_EQ(fake_dns_sd::processCount(browse), 1);
  browser->stopSearching();
  EXPECT_EQ(fake_dns_sd::liveCount(), 0);
}

TEST_F(TrystBrowserTest, DescriptionsJoinTheirFields) {
  browser->setDomain(makeString("local."));
  EXPECT_EQ(browser->description(), "_http._tcp..local.");
  auto resolver = TrystResolver::resolverWithServiceName(
      makeString("web"), makeString("_http._tcp."), makeString("local."), 3, browser);
  EXPECT_EQ(resolver->description(), "web._http._tcp.local.");
  auto querier = TrystQuerier::querierWithHostTarget(makeString("host.local."), htons(80), 3,
                                                     resolver);
  EXPECT_EQ(querier->description(), "host.local.:" + kPort80);
}

TEST_F(TrystBrowserTest, RegistryKeepsTheFirstAndReleasesByPrefix) {
  auto first = TrystBrowser::browserWithServiceType(makeString("_a._tcp"), nullptr, 0);
  auto second = TrystBrowser::browserWithServiceType(makeString("_a._tcp"), nullptr, 0);
  auto other = TrystBrowser::browserWithServiceType(makeString("_b._tcp"), nullptr, 0);
  TrystBrowser::saveBrowserWithUniqueID(makeString("ab"), first);
  TrystBrowser::saveBrowserWithUniqueID(makeString("ab"), second);
  TrystBrowser::saveBrowserWithUniqueID(makeString("abc"), other);
  EXPECT_EQ(TrystBrowser::getBrowserWithUniqueID(makeString("ab"), makeString("_a._tcp")), first);
  EXPECT_EQ(TrystBrowser::getBrowserWithUniqueID(makeString("ab"), makeString("_b._tcp")), nullptr);

  // Stopping all keeps them registered, and they can start again.
  ASSERT_TRUE(first->startSearching());
  ASSERT_TRUE(other->startSearching());
  const int before = fake_dns_sd::liveCount();
  TrystBrowser::stopSearchinghAll();
  EXPECT_EQ(fake_dns_sd::liveCount(), before - 2);
  EXPECT_EQ(TrystBrowser::getBrowserWithUniqueID(makeString("abc"), makeString("_b._tcp")), other);
  EXPECT_TRUE(other->startSearching());
  other->stopSearching();

  TrystBrowser::releaseBrowsersWithUniqueID(makeString("ab"));
  EXPECT_EQ(TrystBrowser::getBrowserWithUniqueID(makeString("ab"), makeString("_a._tcp")), nullptr);
  EXPECT_EQ(TrystBrowser::getBrowserWithUniqueID(makeString("abc"), makeString("_b._tcp")), nullptr);
}

}  // namespace
}  // namespace steward
