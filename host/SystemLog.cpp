#include "host/SystemLog.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace steward {

void log_notice(const std::string& text) {
  syslog(kNoticePriority, "%s", text.c_str());
}

SignalSafeText& SignalSafeText::text(const char* s) {
  while (s && *s && length_ + 1 < sizeof buffer_) buffer_[length_++] = *s++;
  buffer_[length_] = '\0';
  return *this;
}

SignalSafeText& SignalSafeText::decimal(long value, int width) {
  char digits[24];
  int n = 0;
  unsigned long magnitude =
      value < 0 ? 0UL - static_cast<unsigned long>(value) : value;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (n < width && n < 20) digits[n++] = '0';
  if (value < 0) digits[n++] = '-';
  char reversed[24];
  for (int i = 0; i < n; ++i) reversed[i] = digits[n - 1 - i];
  reversed[n] = '\0';
  return text(reversed);
}

SignalSafeText& SignalSafeText::hex(unsigned long value, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value % 16];
    value /= 16;
  } while (value != 0);
  while (n < width && n < 20) digits[n++] = '0';
  char reversed[24];
  for (int i = 0; i < n; ++i) reversed[i] = digits[n - 1 - i];
  reversed[n] = '\0';
  return text(reversed);
}

namespace {

// "Mmm dd hh:mm:ss" (day padded with a blank) from the clock, by arithmetic
// alone: the C library's time conversions take locks.
void appendTimestamp(SignalSafeText* out) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  long days = now.tv_sec / 86400;
  long seconds = now.tv_sec % 86400;
  // Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
  long z = days + 719468;
  long era = z / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  long day = doy - (153 * mp + 2) / 5 + 1;
  long month = mp < 10 ? mp + 3 : mp - 9;
  out->text(kMonths[month - 1]).text(day < 10 ? "  " : " ").decimal(day);
  out->text(" ");
  out->decimal(seconds / 3600, 2).text(":");
  out->decimal(seconds / 60 % 60, 2).text(":");
  out->decimal(seconds % 60, 2);
}

void sendDatagram(const char* text, int flags) {
  int savedErrno = errno;
  SignalSafeText datagram;
  datagram.text("<").decimal(kNoticePriority).text(">");
  appendTimestamp(&datagram);
  datagram.text(" ").text(program_invocation_short_name).text(": ").text(text);

  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, "/dev/log", sizeof "/dev/log");
    sendto(fd, datagram.c_str(), std::strlen(datagram.c_str()), MSG_NOSIGNAL | flags,
           reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(fd);
  }
  errno = savedErrno;
}

}  // namespace

void log_notice_from_signal(const char* text) { sendDatagram(text, 0); }

void log_notice_without_waiting(const std::string& text) {
  sendDatagram(text.c_str(), MSG_DONTWAIT);
}

}  // namespace steward
