#include "request/endpoint.h"

#include <gtest/gtest.h>

namespace kestrune::request {
namespace {

TEST(EndpointOverrideTest, ParsesHostAndPortFormsAndRefusesMalformedText) {
  struct Case {
    const char* text;
    const char* host;
    unsigned port;
    Scheme scheme = Scheme::kHttp;
  } cases[] = {{"127.0.0.1:8080", "127.0.0.1", 8080},
               {"localhost", "localhost", 80},
               {"sim.local:1", "sim.local", 1},
               {"[::1]:65535", "::1", 65535},
               {"[::1]", "::1", 80},
               {"https://ecs.aliyuncs.com", "ecs.aliyuncs.com", 443, Scheme::kHttps},
               {"HTTPS://127.0.0.1:8443/", "127.0.0.1", 8443, Scheme::kHttps},
               {"https://[::1]", "::1", 443, Scheme::kHttps},
               {"http://localhost", "localhost", 80},
               {"Http://[::1]:81", "::1", 81}};
  for (const Case& c : cases) {
    core::Result<EndpointOverride> parsed = ParseEndpointOverride(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.status().message();
    EXPECT_EQ(parsed->host, c.host) << c.text;
    EXPECT_EQ(parsed->port, c.port) << c.text;
    EXPECT_EQ(parsed->scheme, c.scheme) << c.text;
  }
  for (const char* text : {"127.0.0.1", "127.0.0.1:1", "localhost:65535", "ecs.aliyuncs.com:80",
                           "my_host-1.example", "[::1]:8080"}) {
    EXPECT_TRUE(ParseEndpointOverride(text).ok()) << text;
  }
  EXPECT_TRUE(ParseEndpointOverride("").status().IsInvalidInput());
  for (const char* text : {":80",           "host:",
                           "host:0",        "host:65536",
                           "host:80x",      "host:8x",
                           "host:-1",       "host:99999999999",
                           "[::1",          "[::1]80",
                           "[::1]x",        "[]:80",
                           "[zz]:1",        "::1",
                           "two words:80",  "ho st",
                           "a/b:80",        "host/path",
                           "ftp://host",    "https://",
                           "http:///",      "https://host/path",
                           "https://host:", "https://https://host",
                           "://host",       "35593",
                           "[0]:80"}) {
    EXPECT_TRUE(ParseEndpointOverride(text).status().IsInvalidInput()) << text;
  }
  EXPECT_TRUE(ParseEndpointOverride("host:99999").status().message().ends_with("1..65535"));
  EXPECT_TRUE(ParseEndpointOverride("35593").status().message().ends_with("127.0.0.1:35593"));
}

}  // namespace
}  // namespace kestrune::request

namespace kestrune::request {
namespace {

// A name given as the endpoint is the request's host: its Host header and
// the name its certificate must carry (the host connected to over TLS).
TEST(EndpointChoiceTest, ANameNamesTheHostAnAddressOnlyWhereToSend) {
  struct Case {
    const char* text;
    bool names_host;
    const char* sent_to;  // EndpointText of the choice
  } cases[] = {{"ecs.cn-hangzhou.aliyuncs.com", true, "https://ecs.cn-hangzhou.aliyuncs.com:443"},
               {"gw.example:8443", true, "https://gw.example:8443"},
               {"http://gw.example", true, "http://gw.example:80"},
               {"127.0.0.1:8300", false, "http://127.0.0.1:8300"},
               {"https://localhost:8443", false, "https://localhost:8443"},
               {"[::1]:8080", false, "http://[::1]:8080"}};
  for (const Case& c : cases) {
    const core::Result<EndpointChoice> choice = ParseEndpointChoice(c.text);
    ASSERT_TRUE(choice.ok()) << c.text << ": " << choice.status().message();
    EXPECT_EQ(choice->names_host, c.names_host) << c.text;
    EXPECT_EQ(EndpointText(choice->to), c.sent_to) << c.text;
  }
  EXPECT_FALSE(ParseEndpointChoice("gw example").ok());
}

}  // namespace
}  // namespace kestrune::request
