#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "gateway/html_escape.h"
#include "gateway/response_writer.h"
#include "support/cgi_process.h"

namespace qb {
namespace {

std::string ReadFd(int fd) {
  std::string all;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<std::size_t>(n));
  return all;
}

TEST(HtmlEscape, EscapesTheFiveMarkupCharactersOnly) {
  EXPECT_EQ(HtmlEscape("<b>\"Tom's\" & co</b>"), "&lt;b&gt;&quot;Tom&#39;s&quot; &amp; co&lt;/b&gt;");
  EXPECT_EQ(HtmlEscape("plain text, 100% caf\xc3\xa9"), "plain text, 100% caf\xc3\xa9");
  EXPECT_EQ(HtmlEscape("&amp;"), "&amp;amp;");
}

TEST(HtmlEscape, LongTextWithMarkupAnywhere) {
  // One character at a time, as the escaping is defined.
  const auto reference = [](const std::string& text) {
    std::string out;
    for (char c : text) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
      }
    }
    return out;
  };
  // Each markup character (and a byte above 127) at every position of texts
  // of up to 50 bytes, alone and next to another one.
  for (std::size_t length = 1; length <= 50; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (char c : {'&', '<', '>', '"', '\'', '\xe9'}) {
        std::string text(length, 'a');
        text[at] = c;
        EXPECT_EQ(HtmlEscape(text), reference(text)) << length << " " << at;
        text[length - 1 - at] = '<';
        EXPECT_EQ(HtmlEscape(text), reference(text)) << length << " " << at;
      }
    }
  }
  const std::string all(40, '&');
  EXPECT_EQ(HtmlEscape(all), reference(all));
}

TEST(ResponseWriter, LiteralsStandValuesAreEscapedTrustedTextIsNot) {
  char path[] = "/tmp/qbw.XXXXXX";
  int fd = ::mkstemp(path);
  ::unlink(path);
  {
    ResponseWriter out(fd);
    std::string value = "<i>";
    out.SendLine({"<p>", value, std::string_view("&"), Trusted{"<hr>"}, "</p>"});
    out.SendContentType();
  }
  ::lseek(fd, 0, SEEK_SET);
  EXPECT_EQ(ReadFd(fd), "<p>&lt;i&gt;&amp;<hr></p>\r\nContent-type: text/html\n\n\r\n");
  ::close(fd);
}

// A long page (several buffer flushes), then an error page that rewinds:
// on a regular file only the error page remains, on a pipe it follows the
// whole earlier output, as it would with one write per line.
TEST(ResponseWriter, RewindAndCutMatchLineByLineWrites) {
  std::string earlier;
  for (int i = 0; i < 5000; ++i) earlier += "line " + std::to_string(i) + " of a long listing\r\n";
  auto writePage = [](int fd) {
    ResponseWriter out(fd);
    for (int i = 0; i < 5000; ++i) out.SendLine({"line ", std::to_string(i), " of a long listing"});
    out.Rewind();
    out.SendStatusOk();
    out.SendLine({"error"});
    out.CutHere();
  };

  char path[] = "/tmp/qbw.XXXXXX";
  int fd = ::mkstemp(path);
  ::unlink(path);
  writePage(fd);
  ::lseek(fd, 0, SEEK_SET);
  EXPECT_EQ(ReadFd(fd), "Status: 200 OK\r\nerror\r\n");
  ::close(fd);

  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  std::string got;
  std::thread reader([&] { got = ReadFd(p[0]); });
  writePage(p[1]);
  ::close(p[1]);
  reader.join();
  ::close(p[0]);
  EXPECT_EQ(got, earlier + "Status: 200 OK\r\nerror\r\n");
}

TEST(ResponseWriter, ShortErrorPageLeavesNothingOfALongerEarlierOneOnAFile) {
  char path[] = "/tmp/qbw.XXXXXX";
  int fd = ::mkstemp(path);
  ::unlink(path);
  {
    ResponseWriter out(fd);
    out.SendLine({"0123456789012345678901234567890123456789"});
    out.Flush();  // already on the file before the rewind
    out.SendLine({"more"});
    out.Rewind();
    out.SendLine({"short"});
    out.CutHere();
  }
  ::lseek(fd, 0, SEEK_SET);
  EXPECT_EQ(ReadFd(fd), "short\r\n");
  ::close(fd);
}

}  // namespace
}  // namespace qb
