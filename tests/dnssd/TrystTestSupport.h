// Shared by the service-discovery unit tests: the fake library reset per
// test, the log captured, and the run loop turned by hand.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CommonLib/TrystBrowser.h"
#include "platform/RunLoop.h"
#include "tests/dnssd/FakeDnsSd.h"
#include "tests/support/LogCapture.h"

namespace steward {

class TrystTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_dns_sd::reset(); }

  // One pass of the loop without waiting: delivers what is queued now.
  static void pump() {
    RunLoop::current().runInMode(kRunLoopDefaultMode, RunLoopClock::now(), false);
  }
  // A log line as this process writes it.
  static std::string logged(const std::string& text) {
    return "[" + std::to_string(getpid()) + "] " + text;
  }
  std::vector<std::string> logTexts() { return capture_.texts(); }
  const std::vector<std::string>& calls() { return fake_dns_sd::calls(); }

  LogCapture capture_;
};

// Writes down what the browser reports, one line per report.
class RecordingDelegate : public TrystBrowserDelegate {
 public:
  void trystBrowserAddedService(TrystBrowser&, const DictionaryRef& service) override {
    events.push_back("added " + fields(*service));
  }
  void trystBrowserRemovedService(TrystBrowser&, const DictionaryRef& service) override {
    events.push_back("removed " + fields(*service));
  }

  std::vector<std::string> events;

 private:
  static std::string fields(const Dictionary& service) {
    std::string text;
    for (const auto& entry : service.entries())
      text += (text.empty() ? "" : " ") + entry.key + "=" + textOf(entry.value);
    return text;
  }
};

}  // namespace steward
