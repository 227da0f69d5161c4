#include "request/endpoint.h"

#include <gtest/gtest.h>

namespace kestrune::request {
namespace {

TEST(EndpointOverrideTest, ParsesHostAndPortFormsAndRefusesMalformedText) {
  struct Case {
    const char* text;
    const char* host;
    unsigned port;
  } cases[] = {{"127.0.0.1:8080", "127.0.0.1", 8080},
               {"localhost", "localhost", 80},
               {"sim.local:1", "sim.local", 1},
               {"[::1]:65535", "::1", 65535},
               {"[::1]", "::1", 80}};
  for (const Case& c : cases) {
    core::Result<EndpointOverride> parsed = ParseEndpointOverride(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.status().message();
    EXPECT_EQ(parsed->host, c.host) << c.text;
    EXPECT_EQ(parsed->port, c.port) << c.text;
  }
  for (const char* text : {"127.0.0.1", "127.0.0.1:1", "localhost:65535", "ecs.aliyuncs.com:80",
                           "my_host-1.example", "[::1]:8080"}) {
    EXPECT_TRUE(ParseEndpointOverride(text).ok()) << text;
  }
  EXPECT_TRUE(ParseEndpointOverride("").status().IsInvalidInput());
  for (const char* text : {":80", "host:", "host:0", "host:65536", "host:80x", "host:8x", "host:-1",
                           "host:99999999999", "[::1", "[::1]80", "[::1]x", "[]:80", "[zz]:1",
                           "::1", "two words:80", "ho st", "a/b:80", "host/path", "http://host"}) {
    EXPECT_TRUE(ParseEndpointOverride(text).status().IsInvalidInput()) << text;
  }
  EXPECT_TRUE(ParseEndpointOverride("host:99999").status().message().ends_with("1..65535"));
}

}  // namespace
}  // namespace kestrune::request
