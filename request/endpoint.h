// The service a request goes to: its host, the Host header line the request
// carries, and the API version item every request of that service includes.
// A plain value; the catalogue supplies the three services' endpoints.
#pragma once

#include <string>

namespace kestrune::request {

struct ServiceEndpoint {
  std::string host;          // e.g. "ecs.aliyuncs.com"
  std::string host_line;     // e.g. "Host: ecs.aliyuncs.com\r\n"
  std::string version_item;  // e.g. "Version=2014-05-26"
};

}  // namespace kestrune::request
