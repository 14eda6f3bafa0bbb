#include <gtest/gtest.h>

#include "gateway/form_data.h"
#include "gateway/qb_error.h"

namespace qb {
namespace {

int DecodeError(const std::string& text) {
  try {
    UrlDecode(text);
  } catch (const QbError& e) {
    EXPECT_EQ(e.Description(), "Invalid data passed to UrlDecode() function.");
    return e.Number();
  }
  return 0;
}

TEST(UrlDecode, DecodesPlusAndEscapes) {
  EXPECT_EQ(UrlDecode(""), "");
  EXPECT_EQ(UrlDecode("Ann+Lee"), "Ann Lee");
  EXPECT_EQ(UrlDecode("50%25+off"), "50% off");
  EXPECT_EQ(UrlDecode("%41%42"), "AB");
  EXPECT_EQ(UrlDecode("%2541"), "%41");  // a decoded % is not decoded again
  EXPECT_EQ(UrlDecode("%2B"), "+");      // an escaped plus stays a plus
  EXPECT_EQ(UrlDecode("%e9t%C3%A9"), "\xe9t\xc3\xa9");
  EXPECT_EQ(UrlDecode("a%00b"), std::string("a\0b", 3));
  EXPECT_EQ(UrlDecode("x%4"), "x\x04");  // one digit at the very end
}

TEST(UrlDecode, BadEscapesRaise65001) {
  EXPECT_EQ(DecodeError("%"), kErrUrlDecode);
  EXPECT_EQ(DecodeError("abc%"), kErrUrlDecode);
  EXPECT_EQ(DecodeError("%G1"), kErrUrlDecode);
  EXPECT_EQ(DecodeError("%4G"), kErrUrlDecode);
  EXPECT_EQ(DecodeError("%+4"), kErrUrlDecode);  // the plus is a blank by then
  EXPECT_EQ(DecodeError("%-1"), kErrUrlDecode);
}

FormPairs Parse(std::initializer_list<std::string> texts) {
  FormPairs pairs;
  for (const auto& t : texts) pairs.ParsePairs(t);
  return pairs;
}

TEST(ParsePairs, SplitsFieldsTheWayTheBoardAlwaysHas) {
  FormPairs p = Parse({"action=Main&Cat=3"});
  EXPECT_EQ(p.LastEntry(), 2u);
  EXPECT_EQ(p.GetFormValue("ACTION"), "Main");
  EXPECT_EQ(p.GetFormValue("cat"), "3");

  p = Parse({"a=1=2"});  // a value may hold "="; the spare entry stays empty
  EXPECT_EQ(p.LastEntry(), 2u);
  EXPECT_EQ(p.Entry(1).FieldName, "a");
  EXPECT_EQ(p.Entry(1).FieldValue, "1=2");
  EXPECT_EQ(p.Entry(2).FieldName, "");

  p = Parse({"x&b=2"});  // a segment without "=" joins the next name
  EXPECT_EQ(p.GetFormValue("x&b"), "2");
  EXPECT_EQ(p.GetFormValue("b"), "");

  p = Parse({"a=1&tail"});  // a trailing segment without "=" is ignored
  EXPECT_EQ(p.LastEntry(), 1u);
  EXPECT_EQ(p.GetFormValue("a"), "1");

  p = Parse({"=5&a="});
  EXPECT_EQ(p.Entry(1).FieldName, "");
  EXPECT_EQ(p.Entry(1).FieldValue, "5");
  EXPECT_EQ(p.Entry(2).FieldName, "a");
  EXPECT_EQ(p.GetFormValue("a"), "");

  p = Parse({"no fields here", ""});
  EXPECT_EQ(p.LastEntry(), 0u);
  EXPECT_EQ(p.GetFormValue("Action"), "");
}

TEST(GetFormValue, JoinsRepeatedValuesBodyFirst) {
  EXPECT_EQ(Parse({"Action=Edit", "Action=Update"}).GetFormValue("action"), "Edit;Update");
  EXPECT_EQ(Parse({"a=1&a=&a=2"}).GetFormValue("a"), "1;;2");
  EXPECT_EQ(Parse({"a=&a=2"}).GetFormValue("a"), "2");
  EXPECT_EQ(Parse({"a=x&a="}).GetFormValue("a"), "x;");
  EXPECT_EQ(Parse({"a=Main"}).GetFormValue("A"), "Main");  // names ignore case, values keep it
}

TEST(GetFormValue, MoreFieldsThanALookupCanCountOverflow) {
  std::string many;
  for (int i = 0; i < 32767; ++i) many += "f=1&";
  FormPairs atLimit = Parse({many});
  EXPECT_EQ(atLimit.GetFormValue("g"), "");

  FormPairs beyond = Parse({many + "g=2"});
  EXPECT_EQ(beyond.LastEntry(), 32768u);
  try {
    beyond.GetFormValue("g");
    FAIL() << "expected an overflow";
  } catch (const QbError& e) {
    EXPECT_EQ(e.Number(), kErrOverflow);
  }
}

TEST(ParsePairs, ABadEscapeBeyondTheKeptEntriesStillFails) {
  std::string many;
  for (int i = 0; i < 40000; ++i) many += "f=1&";
  FormPairs pairs;
  EXPECT_THROW(pairs.ParsePairs(many + "g=%zz"), QbError);
}

}  // namespace
}  // namespace qb
