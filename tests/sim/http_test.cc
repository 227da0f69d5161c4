#include "sim/http.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kestrune::sim {
namespace {

using State = RequestParser::State;

TEST(HttpParserTest, ParsesAHeadDeliveredInPieces) {
  const std::string head =
      "GET /?Action=DescribeRegions&Format=xml HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\n"
      "Connection: close\r\nX-Empty:\r\n\r\n";
  RequestParser parser;
  for (std::size_t i = 0; i + 1 < head.size(); ++i) {
    ASSERT_EQ(parser.Feed(head.substr(i, 1)), State::kIncomplete) << i;
  }
  ASSERT_EQ(parser.Feed(head.substr(head.size() - 1)), State::kComplete);
  const HttpRequest& request = parser.request();
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/?Action=DescribeRegions&Format=xml");
  EXPECT_EQ(request.version, "HTTP/1.1");
  EXPECT_EQ(request.Header("host"), "ecs.aliyuncs.com");
  EXPECT_EQ(request.Header("CONNECTION"), "close");
  EXPECT_TRUE(request.HasHeader("x-empty"));
  EXPECT_FALSE(request.HasHeader("Content-Length"));
  // Bytes after the head (a body) are ignored.
  EXPECT_EQ(parser.Feed("trailing"), State::kComplete);
}

TEST(HttpParserTest, TakesABodyOfContentLengthBytesWhateverTheReadsAndRefusesALargeOne) {
  const std::string request = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 7\r\n\r\nA=1&B=2";
  for (std::size_t cut : {std::size_t{5}, request.size() - 7, request.size() - 3}) {
    RequestParser parser;
    ASSERT_EQ(parser.Feed(request.substr(0, cut)), State::kIncomplete) << cut;
    ASSERT_EQ(parser.Feed(request.substr(cut) + "extra"), State::kComplete) << cut;
    EXPECT_EQ(parser.request().body, "A=1&B=2") << cut;
  }
  RequestParser large;
  EXPECT_EQ(large.Feed("POST / HTTP/1.1\r\nContent-Length: " + std::to_string(kMaxRequestBody + 1) +
                       "\r\n\r\n"),
            State::kError);
  EXPECT_EQ(large.error_status(), 413);
}

TEST(HttpParserTest, AcceptsBareLineFeedsAndLeadingBlankLines) {
  RequestParser parser;
  ASSERT_EQ(parser.Feed("\r\nGET / HTTP/1.0\nHost: x\n\n"), State::kComplete);
  EXPECT_EQ(parser.request().Header("Host"), "x");
  EXPECT_FALSE(parser.request().KeepAlive());
}

TEST(HttpParserTest, KeepsTheConnectionByVersionAndConnectionOptions) {
  for (const auto& [head, keep] : std::vector<std::pair<std::string, bool>>{
           {"GET / HTTP/1.1\r\n\r\n", true},
           {"GET / HTTP/1.1\r\nConnection: TE, Close\r\n\r\n", false},
           {"\nGET / HTTP/1.0\nConnection: keep-alive\n\n", true},
           {"GET / HTTP/1.0\r\nConnection: keep-alive, close\r\n\r\n", false}}) {
    RequestParser parser;
    ASSERT_EQ(parser.Feed(head), State::kComplete) << head;
    EXPECT_EQ(parser.request().KeepAlive(), keep) << head;
  }
}

TEST(HttpParserTest, RefusesMalformedHeads) {
  const char* bad[] = {
      "GET\r\n\r\n",
      "GET /  HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1 extra\r\n\r\n",
      "GET / HTTP/2.0\r\n\r\n",
      "GET noslash HTTP/1.1\r\n\r\n",
      "G(T / HTTP/1.1\r\n\r\n",
      "GET /\x01 HTTP/1.1\r\n\r\n",
      "GET /\xff\xfe HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\n folded: yes\r\n\r\n",
      "GET / HTTP/1.1\r\nNoColon\r\n\r\n",
      "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n",
      "GET / HTTP/1.1\r\nX: a\x01"
      "b\r\n\r\n",
      "\r\n\r\n",
      "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
  };
  for (const char* head : bad) {
    RequestParser parser;
    EXPECT_EQ(parser.Feed(head), State::kError) << head;
    EXPECT_EQ(parser.error_status(), 400) << head;
    EXPECT_FALSE(parser.error_reason().empty());
  }
}

TEST(HttpParserTest, CapsTheHeadAt16KiB) {
  RequestParser fits;
  const std::string filler(kMaxRequestHead - 64, 'a');
  EXPECT_EQ(fits.Feed("GET / HTTP/1.1\r\nX: " + filler + "\r\n\r\n"), State::kComplete);

  RequestParser too_big;
  const std::string chunk(1000, 'b');
  State state = too_big.Feed("GET / HTTP/1.1\r\nX: ");
  for (int i = 0; i < 40 && state == State::kIncomplete; ++i) state = too_big.Feed(chunk);
  EXPECT_EQ(state, State::kError);
  EXPECT_EQ(too_big.error_status(), 431);

  RequestParser many;
  std::string head = "GET / HTTP/1.1\r\n";
  for (std::size_t i = 0; i <= kMaxHeaderCount; ++i) {
    head += 'H';  // appended piece by piece: g++ 12's -Wrestrict misfires on "H" + string
    head += std::to_string(i);
    head += ": v\r\n";
  }
  EXPECT_EQ(many.Feed(head + "\r\n"), State::kError);
  EXPECT_EQ(many.error_status(), 431);
}

TEST(HttpResponseTest, SerialisesWithLengthOrChunks) {
  HttpResponse plain;
  plain.body = "<a/>";
  plain.headers.emplace_back("x-acs-request-id", "ID");
  const WireReply one = SerializeResponse(plain, 1456231584000);
  EXPECT_EQ(one.bytes,
            "HTTP/1.1 200 OK\r\nDate: Tue, 23 Feb 2016 12:46:24 GMT\r\n"
            "Content-Type: text/xml;charset=UTF-8\r\nx-acs-request-id: ID\r\n"
            "Content-Length: 4\r\nConnection: close\r\n\r\n<a/>");
  EXPECT_TRUE(one.breaks.empty());

  HttpResponse chunked;
  chunked.status = 400;
  chunked.body = std::string(10, 'x');
  chunked.chunk_size = 4;
  const WireReply many = SerializeResponse(chunked, 0);
  const std::string head_end = "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  ASSERT_NE(many.bytes.find(head_end), std::string::npos);
  EXPECT_TRUE(many.bytes.starts_with("HTTP/1.1 400 Bad Request\r\n"));
  EXPECT_TRUE(many.bytes.ends_with(head_end + "4\r\nxxxx\r\n4\r\nxxxx\r\n2\r\nxx\r\n0\r\n\r\n"));
  ASSERT_EQ(many.breaks.size(), 4u);
  EXPECT_EQ(many.breaks[0], many.bytes.find(head_end) + head_end.size());
  EXPECT_EQ(many.bytes.substr(many.breaks[0], many.breaks[1] - many.breaks[0]), "4\r\nxxxx\r\n");
}

}  // namespace
}  // namespace kestrune::sim
