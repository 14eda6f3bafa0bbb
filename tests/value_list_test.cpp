#include <gtest/gtest.h>

#include "gateway/error_page.h"
#include "gateway/qb_error.h"
#include "gateway/value_list_reader.h"

namespace qb {
namespace {

int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const QbError& e) {
    return e.Number();
  }
  return 0;
}

TEST(ValueListReader, ReadsQuotedAndPlainValuesAcrossLineEnds) {
  ValueListReader r("  first\r\n\"a, quoted\",next\rlast line  \n\"q\"\n", "t.cfg");
  EXPECT_EQ(r.NextText(), "first");
  EXPECT_EQ(r.NextText(), "a, quoted");
  EXPECT_EQ(r.NextText(), "next");
  EXPECT_EQ(r.NextText(), "last line");
  EXPECT_EQ(r.NextText(), "q");
  EXPECT_EQ(ErrorOf([&] { r.NextText(); }), kErrPastEndOfFile);
}

TEST(ValueListReader, BlankLineIsAnEmptyValueAndLastLineNeedsNoEnd) {
  ValueListReader r("a\n\nb", "t.cfg");
  EXPECT_EQ(r.NextText(), "a");
  EXPECT_EQ(r.NextText(), "");
  EXPECT_EQ(r.NextText(), "b");
  EXPECT_EQ(ErrorOf([&] { r.NextText(); }), kErrPastEndOfFile);
  ValueListReader empty("", "t.cfg");
  EXPECT_EQ(ErrorOf([&] { empty.NextText(); }), kErrPastEndOfFile);
}

TEST(ValueListReader, NumbersReadTheirLeadingDecimalNumber) {
  ValueListReader r("30\n-7\nabc\n30 days\n2.5\n3.5\n \n99999999999\n", "t.cfg");
  EXPECT_EQ(r.NextNumber(), 30);
  EXPECT_EQ(r.NextNumber(), -7);
  EXPECT_EQ(r.NextNumber(), 0);
  EXPECT_EQ(r.NextNumber(), 30);
  EXPECT_EQ(r.NextNumber(), 2);  // halves go to the even neighbour
  EXPECT_EQ(r.NextNumber(), 4);
  EXPECT_EQ(r.NextNumber(), 0);
  EXPECT_EQ(ErrorOf([&] { r.NextNumber(); }), kErrOverflow);
}

TEST(ValueListReader, MissingFileNamesTheFileButNoPath) {
  try {
    ValueListReader::FromFile("/nonexistent/dir/qbcgi.cfg", "qbcgi.cfg");
    FAIL();
  } catch (const QbError& e) {
    EXPECT_EQ(e.Number(), kErrFileNotFound);
    EXPECT_NE(e.Description().find("qbcgi.cfg"), std::string::npos);
    EXPECT_EQ(e.Description().find("/nonexistent"), std::string::npos);
  }
}

TEST(ErrorText, NumberHasASignBlankWhenNotNegative) {
  EXPECT_EQ(BuildErrorText("Invalid data passed to UrlDecode() function.", 65001),
            "Invalid data passed to UrlDecode() function. Error Number =  65001");
  EXPECT_EQ(BuildErrorText("x", 0), "x Error Number =  0");
  EXPECT_EQ(BuildErrorText("x", -2147467259), "x Error Number = -2147467259");
}

}  // namespace
}  // namespace qb
