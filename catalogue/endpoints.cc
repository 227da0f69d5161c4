// The endpoint table and its resolver.
#include "catalogue/endpoints.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "core/ascii.h"
#include "core/utf8.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

struct ListedEndpoint {
  Product product;
  std::string_view region;
  std::string_view public_host;  // "" when the data lists none
  std::string_view vpc_host;     // likewise
};

#include "catalogue/endpoint_table.inc"

constexpr bool SortedByProductAndRegion() {
  for (std::size_t i = 1; i < kListedEndpoints.size(); ++i) {
    const ListedEndpoint& before = kListedEndpoints[i - 1];
    const ListedEndpoint& after = kListedEndpoints[i];
    if (before.product > after.product) return false;
    if (before.product == after.product && !(before.region < after.region)) return false;
  }
  return true;
}
static_assert(SortedByProductAndRegion(), "the table is searched by halves");

struct ProductNames {
  Product product;
  std::string_view label;         // the first label of its hosts
  std::string_view central_host;  // without a region
};

constexpr std::array<ProductNames, 4> kProducts = {{
    {Product::kEcs, "ecs"sv, "ecs.aliyuncs.com"sv},
    {Product::kIot, "iot"sv, "iot.aliyuncs.com"sv},
    // API Gateway has no central host; its requests went to Qingdao's before
    // regions chose hosts, and still do when no region is given.
    {Product::kApiGateway, "apigateway"sv, "apigateway.cn-qingdao.aliyuncs.com"sv},
    {Product::kSts, "sts"sv, "sts.aliyuncs.com"sv},
}};

const ProductNames& NamesOf(Product product) {
  return kProducts[static_cast<std::size_t>(product)];
}

bool IsHostCharacter(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
         ch == '-';
}

// The character at the start of `text` as a user can read it in a one-line
// message: itself when printable ASCII, else its code point.
std::string NameCharacter(std::string_view text) {
  char32_t code_point = 0;
  if (core::DecodeUtf8(text, code_point) == 0) {
    code_point = static_cast<unsigned char>(text.front());
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(code_point));
    return std::string("the byte ") + hex;
  }
  char name[16];
  if (code_point > 0x20 && code_point < 0x7F) {
    std::snprintf(name, sizeof name, "'%c'", static_cast<char>(code_point));
  } else {
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code_point));
  }
  return name;
}

}  // namespace

std::optional<EndpointType> ParseEndpointType(std::string_view text) {
  if (text == "public") return EndpointType::kPublic;
  if (text == "vpc") return EndpointType::kVpc;
  return std::nullopt;
}

std::string_view EndpointTypeName(EndpointType type) {
  return type == EndpointType::kVpc ? "vpc"sv : "public"sv;
}

std::optional<Product> ProductOfService(unsigned service_number) {
  switch (service_number) {
    case 1:
      return Product::kEcs;
    case 2:
      return Product::kIot;
    case 3:
      return Product::kApiGateway;
    default:
      return std::nullopt;
  }
}

core::Status CheckRegionId(std::string_view region) {
  constexpr std::size_t kLongestLabel = 63;
  if (region.empty()) return core::Status::InvalidInput("the region id is empty");
  for (std::size_t i = 0; i < region.size(); ++i) {
    if (IsHostCharacter(region[i])) continue;
    return core::Status::InvalidInput("region id holds " + NameCharacter(region.substr(i)) +
                                      ", which no host name may hold (a region id is letters, "
                                      "digits and '-', such as cn-hangzhou)");
  }
  if (region.size() > kLongestLabel) {
    return core::Status::InvalidInput("region id longer than a host name's label (63 characters)");
  }
  if (region.front() == '-' || region.back() == '-') {
    return core::Status::InvalidInput("region id " + std::string(region) +
                                      " starts or ends with '-', which no host name may");
  }
  return core::Status::Ok();
}

core::Result<ResolvedHost> ResolveHost(Product product, std::string_view region,
                                       EndpointType type) {
  const ProductNames& names = NamesOf(product);
  if (region.empty()) return ResolvedHost{std::string(names.central_host), true};
  if (core::Status checked = CheckRegionId(region); !checked.ok()) return checked;
  // Host names know no case; the published ids are lower case.
  const std::string id = core::LowerAscii(region);
  region = id;
  const auto found = std::lower_bound(
      kListedEndpoints.begin(), kListedEndpoints.end(), std::pair{product, region},
      [](const ListedEndpoint& entry, const std::pair<Product, std::string_view>& key) {
        return entry.product != key.first ? entry.product < key.first : entry.region < key.second;
      });
  if (found != kListedEndpoints.end() && found->product == product && found->region == region) {
    const std::string_view host = type == EndpointType::kVpc ? found->vpc_host : found->public_host;
    if (!host.empty()) return ResolvedHost{std::string(host), true};
  }
  std::string host(names.label);
  if (type == EndpointType::kVpc) host += "-vpc";
  host += '.';
  host += region;
  host += ".aliyuncs.com";
  return ResolvedHost{std::move(host), false};
}

}  // namespace kestrune::catalogue
