// Tables for the logic a whole request reaches only roughly: form decoding,
// the value-list reader, date arithmetic, escaping, the output's rewind and
// the numbers of the stores' failures.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <functional>
#include <limits>
#include <set>

#include "gateway/error_page.h"
#include "gateway/form_data.h"
#include "gateway/html_escape.h"
#include "gateway/qb_error.h"
#include "gateway/response_writer.h"
#include "gateway/value_list_reader.h"
#include "storage/ad_dates.h"
#include "storage/database.h"
#include "storage/postgres/pg_error.h"
#include "storage/sqlite/sqlite_helpers.h"
#include "support/harness.h"

namespace qb {
namespace {

TEST(FormDecoding, UrlDecode) {
  const std::pair<std::string, std::string> decoded[] = {
      {"", ""},         {"Ann+Lee", "Ann Lee"}, {"50%25+off", "50% off"},        {"%41%42", "AB"},
      {"%2541", "%41"}, {"%2B", "+"},           {"%e9t%C3%A9", "\xe9t\xc3\xa9"}, {"a%00b", std::string("a\0b", 3)},
      {"x%4", "x\x04"}, {"%fF", "\xff"}};
  for (const auto& [in, out] : decoded) EXPECT_EQ(UrlDecode(in), out) << in;
  for (const char* bad : {"%", "abc%", "%G1", "%+4", "%-1", "a%%41"})
    EXPECT_EQ(qbtest::Raised([bad] { UrlDecode(bad); }).first, kErrUrlDecode) << bad;
}

TEST(FormDecoding, PairsAndLookups) {
  // Encoded texts (body, then query), a name, its value, the last entry.
  struct Case {
    std::vector<std::string> texts;
    std::string name, value;
    std::size_t last;
  };
  const Case cases[] = {{{"action=Main&Cat=3"}, "ACTION", "Main", 2},
                        {{"a=1=2"}, "a", "1=2", 2},
                        {{"x&b=2"}, "x&b", "2", 1},
                        {{"x&b=2"}, "b", "", 1},
                        {{"a=1&tail"}, "a", "1", 1},
                        {{"=5&a="}, "", "5", 2},
                        {{"no fields", ""}, "no fields", "", 0},
                        {{"Action=Edit", "Action=Update"}, "action", "Edit;Update", 2},
                        {{"a=1&a=&a=2"}, "a", "1;;2", 3},
                        {{"a=&a=2"}, "a", "2", 2},
                        {{"a=x&a="}, "a", "x;", 2},
                        {{"a+b=%41"}, "A B", "A", 1}};
  for (const Case& c : cases) {
    FormPairs pairs;
    for (const auto& t : c.texts) pairs.ParsePairs(t);
    EXPECT_EQ(pairs.GetFormValue(c.name), c.value) << c.texts[0];
    EXPECT_EQ(pairs.LastEntry(), c.last) << c.texts[0];
  }
  std::string many;  // a bad escape fails even beyond the entries a lookup can reach
  for (int i = 0; i < 65535; ++i) many += "f=1&";
  EXPECT_EQ(qbtest::Raised([&] { FormPairs().ParsePairs(many + "g=%zz"); }).first, kErrUrlDecode);
}

TEST(ValueListReader, TextsNumbersAndTheirEnd) {
  // A file, then what each read gives: text, '#' and a number, or '!' and an error number.
  const std::pair<std::string, std::vector<std::string>> files[] = {
      {"  first\r\n\"a, quoted\",next\rlast line  \n\"q\"\n", {"first", "a, quoted", "next", "last line", "q", "!62"}},
      {"a\n\nb", {"a", "", "b", "!62"}},
      {"a\r\n\r\nb\r\r", {"a", "", "b", "", "!62"}},
      {"\"open, quote\nrest", {"open, quote\nrest", "!62"}},
      {"\"q\"  tail,x\n", {"q", "x", "!62"}},
      {"", {"!62"}},
      {",\n", {"", "", "!62"}},
      {"30\n-7\nabc\n30 days\n2.5\n3.5\n \n-0.5\n99999999999\n",
       {"#30", "#-7", "#0", "#30", "#2", "#4", "#0", "#0", "!6"}},
      {"2147483647\n-2147483648\n2147483648\n", {"#2147483647", "#-2147483648", "!6"}},
      {"0000000000000000000000042\n+7\n-0\n-2147483649\n", {"#42", "#7", "#0", "!6"}},
      {"1000000000000000000000000000\n", {"!6"}},
  };
  for (const auto& [content, reads] : files) {
    ValueListReader r(content, "t.cfg");
    for (const std::string& want : reads) {
      if (want[0] == '!') {
        EXPECT_EQ(qbtest::Raised([&] { want == "!6" ? (void)r.NextNumber() : (void)r.NextText(); }).first,
                  std::stoi(want.substr(1)))
            << content;
      } else if (want[0] == '#') {
        EXPECT_EQ(r.NextNumber(), std::stoi(want.substr(1))) << content;
      } else {
        EXPECT_EQ(r.NextText(), want) << content;
      }
    }
  }
  EXPECT_EQ(qbtest::Raised([] { ValueListReader::FromFile("/nonexistent/qbcgi.cfg", "qbcgi.cfg"); }).first,
            kErrFileNotFound);
  // A file is read whole at any size, the first read's room and around it included, stamped or not.
  qbtest::Site site;
  for (std::size_t size : {1023, 1024, 1025, 5000}) {
    site.Write("t.cfg", "a\n" + std::string(size - 4, 'x') + "\nz");
    std::vector<FileStamp> stamps;
    for (auto* kept : {static_cast<std::vector<FileStamp>*>(nullptr), &stamps}) {
      ValueListReader r = ValueListReader::FromFile(site.Path("t.cfg"), "t.cfg", kept);
      EXPECT_EQ(r.NextText(), "a");
      EXPECT_EQ(r.NextText().size(), size - 4);
      EXPECT_EQ(r.NextText(), "z");
      EXPECT_FALSE(r.HasMore()) << size;
    }
    ASSERT_EQ(stamps.size(), 1u);
    EXPECT_EQ(stamps[0].status.st_size, static_cast<off_t>(size));
  }
  EXPECT_EQ(BuildErrorText("x", 65001), "x Error Number =  65001");
  EXPECT_EQ(BuildErrorText("x", 0), "x Error Number =  0");
  EXPECT_EQ(BuildErrorText("x", -2147467259), "x Error Number = -2147467259");
}

TEST(AdDates, EveryMonthAndLeapYear) {
  // The last day of every month, in a common year, a leap year, a century
  // and a fourth century; the day after it must not parse.
  for (const int year : {2026, 2024, 1900, 2000}) {
    const int lengths[] = {
        31, (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    CivilDate first{year, 1, 1};
    for (int month = 1; month <= 12; ++month) {
      const int last = lengths[month - 1];
      const std::string text = std::to_string(month) + "/" + std::to_string(last) + "/" + std::to_string(year);
      EXPECT_EQ(ParseUsDate(text), (CivilDate{year, month, last})) << text;
      EXPECT_FALSE(ParseUsDate(std::to_string(month) + "/" + std::to_string(last + 1) + "/" + std::to_string(year)));
      EXPECT_EQ(AddDays(CivilDate{year, month, last}, 1 - last), first) << text;
      first = AddDays(first, last);
      EXPECT_EQ(UsDateText(first), std::to_string(month % 12 + 1) + "/1/" + std::to_string(year + month / 12));
    }
  }
  for (std::int64_t n = -719162; n <= 2932896; n += 367) {  // against the C library, years 1 to 9999
    const std::time_t t = static_cast<std::time_t>(n) * 86400;
    std::tm tm{};
    gmtime_r(&t, &tm);
    ASSERT_EQ(IsoDateText(AddDays({1970, 1, 1}, n)),
              IsoDateText(CivilDate{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday}))
        << n;
  }
  EXPECT_EQ(UsDateText({999, 12, 31}), "12/31/0999");
  EXPECT_EQ(IsoDateText({5, 3, 9}), "0005-03-09");
  EXPECT_EQ(ParseUsDate("01/05/2026"), (CivilDate{2026, 1, 5}));
  for (const char* bad : {"13/1/2026", "0/1/2026", "1/0/2026", "1/1/0000", "1/5/26", "1/5/02026", "001/5/2026",
                          " 1/5/2026", "1/5/2026 ", "+1/5/2026", "1-5-2026", "1/5/", "", "1/", "2026-01-05"})
    EXPECT_FALSE(ParseUsDate(bad)) << bad;
  EXPECT_EQ(AddDays({9999, 12, 30}, 1), (CivilDate{9999, 12, 31}));
  EXPECT_EQ(AddDays({1, 1, 2}, -1), (CivilDate{1, 1, 1}));
  for (const auto& [date, days] : {std::pair<CivilDate, std::int64_t>{{9999, 12, 31}, 1},
                                   {{1, 1, 1}, -1},
                                   {{2026, 6, 1}, std::numeric_limits<std::int64_t>::max()},
                                   {{2026, 6, 1}, std::numeric_limits<std::int64_t>::min()}})
    EXPECT_EQ(qbtest::Raised([d = date, n = days] { AddDays(d, n); }).first, kErrOverflow);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(LocalToday(), (CivilDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}));
}

TEST(HtmlEscape, EveryMarkupCharacterAtEveryPosition) {
  static constexpr const char* kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};
  const auto reference = [](const std::string& text) {
    std::string out;
    for (char c : text) {
      const std::size_t markup = std::string_view("&<>\"'").find(c);  // not '\0'
      out += markup == std::string_view::npos ? std::string(1, c) : kEntities[markup];
    }
    return out;
  };
  for (std::size_t length = 1; length <= 40; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (char c : {'&', '<', '>', '"', '\'', '\xe9', '\0'}) {
        std::string text(length, 'a');
        text[at] = c;
        ASSERT_EQ(HtmlEscape(text), reference(text)) << length << " " << at;
        text[length - 1 - at] = '>';
        ASSERT_EQ(HtmlEscape(text), reference(text)) << length << " " << at;
      }
    }
  }
}

// A page and the error page that rewinds over it: the bytes must be those of
// one write per line.
TEST(ResponseWriter, RewindAndCutOnAFileAndAPipe) {
  for (const int lines : {1, 40, 5000}) {
    std::string earlier;
    for (int i = 0; i < lines; ++i) earlier += "line " + std::to_string(i) + " &lt;\r\n";
    for (const auto output : {qbtest::Output::kFile, qbtest::Output::kAppendingFile, qbtest::Output::kPipe}) {
      const std::string written = qbtest::Capture(output, [lines](int fd) {
        ResponseWriter out(fd);
        for (int i = 0; i < lines; ++i) out.SendLine({"line ", std::to_string(i), " ", std::string("<")});
        if (lines == 40) out.Flush();
        out.Rewind();
        out.SendStatusOk();
        out.SendLine({"<p>", Trusted{"<hr>"}});
        out.CutHere();
      });
      EXPECT_EQ(written, (output == qbtest::Output::kFile ? "" : earlier) + "Status: 200 OK\r\n<p><hr>\r\n") << lines;
    }
  }
  // A reader gone, with SIGPIPE ignored as a web server may leave it: the
  // write fails, the rest of the page is lost, and the request goes on.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);
  const auto disposition = ::signal(SIGPIPE, SIG_IGN);
  {
    ResponseWriter lost(ends[1]);
    lost.SendLine({"lost"});
    lost.Flush();
    EXPECT_EQ(errno, EPIPE);
  }
  ::signal(SIGPIPE, disposition);
  ::close(ends[1]);
  // A held page that outgrows the writer's first buffer, with values longer
  // than the part it escapes at a time.
  ResponseWriter held(HoldWhole{});
  std::string expected;
  for (const std::size_t length : {3, 40000, 300000}) {
    held.SendLine({"<b>", std::string(length, '<') + "a"});
    expected += "<b>";
    for (std::size_t i = 0; i < length; ++i) expected += "&lt;";
    expected += "a\r\n";
  }
  EXPECT_EQ(held.Held(), expected);
}

// Every SQLite result code (an extended one by its primary code) shows 3000
// plus that code, but those the store never meets show 3001; a SQLSTATE
// shows the number of the SQLite failure it is most like.
TEST(StoreFailures, NumbersOfEachBackendsFailures) {
  for (const int rc : {1,
                       2,
                       3,
                       4,
                       5,
                       6,
                       7,
                       8,
                       9,
                       10,
                       11,
                       12,
                       13,
                       14,
                       15,
                       16,
                       17,
                       18,
                       19,
                       20,
                       21,
                       22,
                       23,
                       24,
                       25,
                       26,
                       27,
                       28,
                       SQLITE_ROW,
                       SQLITE_DONE,
                       SQLITE_IOERR_WRITE,
                       SQLITE_READONLY_DIRECTORY}) {
    const int number = StoreError(nullptr, rc, "x").Number(), primary = rc & 0xff;
    const bool neverMet = std::set{2, 12, 16, 22, 23, 24, 27, 28, SQLITE_ROW, SQLITE_DONE}.contains(primary);
    EXPECT_EQ(number, neverMet ? 3001 : 3000 + primary) << rc;
    EXPECT_EQ(CannotWriteStore(QbError(number, "x")), number == 3003 || number == 3008 || number == 3014) << rc;
  }
  const std::pair<const char*, int> states[] = {{"08006", 3014}, {"57P01", 3014}, {"25006", 3008}, {"42501", 3008},
                                                {"55P03", 3005}, {"40P01", 3005}, {"40001", 3005}, {"57014", 3005},
                                                {"53100", 3013}, {"53300", 3013}, {"22001", 3018}, {"54000", 3018},
                                                {"23505", 3019}, {"42P01", 3001}, {"22P02", 3001}};
  for (const auto& [state, number] : states) EXPECT_EQ(StoreFailureNumber(PgFailure(state)), number) << state;
}

}  // namespace
}  // namespace qb
