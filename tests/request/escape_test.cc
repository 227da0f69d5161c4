#include "request/escape.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::request {
namespace {

std::string Escaped(std::string text, const EscapeTable& table) {
  ApplyEscapes(text, table);
  return text;
}

TEST(EscapeTablesTest, ContentsAndOrder) {
  ASSERT_EQ(kTableA.size(), 2u);
  EXPECT_EQ(kTableA[0].ch, '&');
  EXPECT_EQ(kTableA[0].replacement, "%26");
  EXPECT_EQ(kTableA[1].ch, '=');
  EXPECT_EQ(kTableA[1].replacement, "%3D");

  ASSERT_EQ(kSignEscapes.size(), 8u);
  ASSERT_EQ(kUrlEscapes.size(), 8u);
  const char order[] = {'[', '"', ']', '{', '}', ':', ',', '/'};
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(kSignEscapes[i].ch, order[i]) << i;
    EXPECT_EQ(kUrlEscapes[i].ch, order[i]) << i;
    // Single-escaped in the query, escaped once more in the string to sign.
    EXPECT_EQ(kUrlEscapes[i].replacement, PercentEncode(std::string(1, order[i]))) << i;
    EXPECT_EQ(kSignEscapes[i].replacement, PercentEncode(kUrlEscapes[i].replacement)) << i;
  }

  ASSERT_EQ(kSignatureEscapes.size(), 5u);
  const char signature_order[] = {'+', '*', '~', '/', '='};
  const char* signature_replacements[] = {"%2B", "%2A", "%7E", "%2F", "%3D"};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(kSignatureEscapes[i].ch, signature_order[i]) << i;
    EXPECT_EQ(kSignatureEscapes[i].replacement, signature_replacements[i]) << i;
  }
}

TEST(EscapeTablesTest, CanonicalQueryTableIsTableAThenSignEscapes) {
  ASSERT_EQ(kCanonicalQueryEscapes.size(), kTableA.size() + kSignEscapes.size());
  const std::string all = "&=[\"]{}:,/ plain-text_~.%+*";
  std::string text;
  for (char a : all) {
    for (char b : all) text += std::string("x") + a + b;
  }
  std::string sequential = text;
  ApplyEscapes(sequential, kTableA);
  ApplyEscapes(sequential, kSignEscapes);
  EXPECT_EQ(Escaped(text, kCanonicalQueryEscapes), sequential);
}

TEST(ReplaceCharTest, ReplacesEveryOccurrenceAndReturnsTheLength) {
  std::string text = ":::";
  EXPECT_EQ(ReplaceChar(text, ':', "%3A"), 9u);
  EXPECT_EQ(text, "%3A%3A%3A");

  std::string untouched = "abc-def";
  EXPECT_EQ(ReplaceChar(untouched, ':', "%3A"), 7u);
  EXPECT_EQ(untouched, "abc-def");

  std::string empty;
  EXPECT_EQ(ReplaceChar(empty, ':', "%3A"), 0u);
  EXPECT_EQ(empty, "");

  std::string edges = "/a/";
  ReplaceChar(edges, '/', "%2F");
  EXPECT_EQ(edges, "%2Fa%2F");
}

TEST(ApplyEscapesTest, ValueWithTableCharactersInBothForms) {
  EXPECT_EQ(Escaped("[i-1,i-2]", kSignEscapes), "%255Bi-1%252Ci-2%255D");
  EXPECT_EQ(Escaped("[i-1,i-2]", kUrlEscapes), "%5Bi-1%2Ci-2%5D");
  EXPECT_EQ(Escaped("{\"a\":\"b/c\"}", kSignEscapes),
            "%257B%2522a%2522%253A%2522b%252Fc%2522%257D");
  EXPECT_EQ(Escaped("{\"a\":\"b/c\"}", kUrlEscapes), "%7B%22a%22%3A%22b%2Fc%22%7D");
}

TEST(ApplyEscapesTest, TableAOnTheCanonicalQuery) {
  EXPECT_EQ(Escaped("Action=DescribeRegions&Format=xml", kTableA),
            "Action%3DDescribeRegions%26Format%3Dxml");
}

TEST(ApplyEscapesTest, PercentPassesEveryTable) {
  const std::string pre_escaped = "2024-03-05T14%253A07%253A09Z";
  EXPECT_EQ(Escaped(pre_escaped, kSignEscapes), pre_escaped);
  EXPECT_EQ(Escaped(pre_escaped, kUrlEscapes), pre_escaped);
  EXPECT_EQ(Escaped(pre_escaped, kTableA), pre_escaped);
}

TEST(ApplyEscapesTest, SignatureEscapes) {
  EXPECT_EQ(Escaped("ab+c/d+e/fghijklmnopqrstuvwx=", kSignatureEscapes),
            "ab%2Bc%2Fd%2Be%2Ffghijklmnopqrstuvwx%3D");
  EXPECT_EQ(Escaped("OLeaidS1JvxuMvnyHOwuJ0uX5qYA", kSignatureEscapes),
            "OLeaidS1JvxuMvnyHOwuJ0uX5qYA");
}

TEST(TablesCoverTest, UnreservedAndTableCharactersOnly) {
  EXPECT_TRUE(TablesCover(""));
  EXPECT_TRUE(TablesCover("AZaz09-_.~"));
  EXPECT_TRUE(TablesCover("[\"]{}:,/"));
  for (char c : std::string(" %+*&=?#'!()$;@<>\\^`|\t\r\n")) {
    EXPECT_FALSE(TablesCover(std::string("a") + c)) << int{c};
  }
  EXPECT_FALSE(TablesCover(std::string("a\0b", 3)));
  EXPECT_FALSE(TablesCover("\xE4\xB8\xAD"));
  EXPECT_FALSE(TablesCover("\x7F"));
}

TEST(PercentEncodeTest, ServiceCanonicalForm) {
  EXPECT_EQ(PercentEncode("AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(PercentEncode("a b*c+d%e"), "a%20b%2Ac%2Bd%25e");
  EXPECT_EQ(PercentEncode("\xE4\xB8\xAD\xE6\x96\x87"), "%E4%B8%AD%E6%96%87");
  EXPECT_EQ(PercentEncode(std::string("\0\x1F\xFF", 3)), "%00%1F%FF");
  EXPECT_EQ(PercentEncode("&="), "%26%3D");
}

TEST(AppendUserComponentTest, TablesKeepCoveredTextAndEncodingTakesTheRest) {
  std::string out;
  AppendUserComponent(out, "[i-1,i-2]", EscapeForm::kSign);
  EXPECT_EQ(out, "[i-1,i-2]");  // left to the tables
  out.clear();
  AppendUserComponent(out, "a b:c", EscapeForm::kSend);
  EXPECT_EQ(out, "a%20b%3Ac");
  out.clear();
  AppendUserComponent(out, "a b:c", EscapeForm::kSign);
  EXPECT_EQ(out, "a%2520b%253Ac");
  // Whatever form a value takes, the tables then leave it alone.
  EXPECT_EQ(Escaped("a%2520b%253Ac", kSignEscapes), "a%2520b%253Ac");
  EXPECT_EQ(Escaped("a%2520b%253Ac", kTableA), "a%2520b%253Ac");
  EXPECT_EQ(Escaped("a%20b%3Ac", kUrlEscapes), "a%20b%3Ac");
}

TEST(AppendUserComponentTest, MatchesTheTablesWhereBothApply) {
  // For a covered value, encoding it and leaving it to the tables must give
  // the same bytes; that is what makes the two paths interchangeable.
  const std::string covered = "[\"x\"]:{a,b}/c~d";
  std::string sign = covered;
  ApplyEscapes(sign, kSignEscapes);
  std::string url = covered;
  ApplyEscapes(url, kUrlEscapes);
  std::string sign_encoded = PercentEncode(PercentEncode(covered));
  // "~" is unreserved; the tables and the encoder both leave it.
  EXPECT_EQ(sign, sign_encoded);
  EXPECT_EQ(url, PercentEncode(covered));
}

}  // namespace
}  // namespace kestrune::request
