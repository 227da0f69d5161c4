// The endpoint resolver against hosts written out by hand from the vendor's
// published endpoint data (metadatas/products.json of aliyun-openapi-meta).
#include "catalogue/endpoints.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::catalogue {
namespace {

TEST(EndpointsTest, ResolvesEachProductRegionAndType) {
  using enum EndpointType;
  using enum Product;
  struct Case {
    Product product;
    const char* region;
    EndpointType type;
    const char* host;
    bool listed;
  };
  const Case cases[] = {
      // ECS: regional hosts, and the data's odd entries taken as published.
      {kEcs, "eu-central-1", kPublic, "ecs.eu-central-1.aliyuncs.com", true},
      {kEcs, "eu-central-1", kVpc, "ecs-vpc.eu-central-1.aliyuncs.com", true},
      {kEcs, "cn-hangzhou", kPublic, "ecs-cn-hangzhou.aliyuncs.com", true},
      {kEcs, "CN-Hangzhou", kPublic, "ecs-cn-hangzhou.aliyuncs.com", true},
      {kEcs, "us-east-1", kPublic, "ecs.aliyuncs.com", true},
      {kEcs, "us-west-1", kPublic, "ecs-cn-hangzhou.aliyuncs.com", true},
      // Listed for VPC only: the public host follows the rule.
      {kEcs, "cn-chengdu", kPublic, "ecs.cn-chengdu.aliyuncs.com", false},
      {kEcs, "cn-chengdu", kVpc, "ecs-vpc.cn-chengdu.aliyuncs.com", true},
      {kEcs, "xy-newland-9", kVpc, "ecs-vpc.xy-newland-9.aliyuncs.com", false},
      {kEcs, "", kPublic, "ecs.aliyuncs.com", true},
      {kIot, "cn-shanghai", kPublic, "iot.cn-shanghai.aliyuncs.com", false},
      {kIot, "cn-shanghai", kVpc, "iot-vpc.cn-shanghai.aliyuncs.com", false},
      // API Gateway: always regional; Qingdao's host without a region.
      {kApiGateway, "cn-hangzhou", kPublic, "apigateway.cn-hangzhou.aliyuncs.com", false},
      {kApiGateway, "cn-hangzhou", kVpc, "apigateway-vpc.cn-hangzhou.aliyuncs.com", true},
      {kApiGateway, "ap-northeast-1", kPublic, "apigateway.ap-northeast-1.aliyuncs.com", true},
      {kApiGateway, "", kPublic, "apigateway.cn-qingdao.aliyuncs.com", true},
      // STS: a central host, VPC hosts per region.
      {kSts, "cn-hangzhou", kPublic, "sts.cn-hangzhou.aliyuncs.com", false},
      {kSts, "cn-hangzhou", kVpc, "sts-vpc.cn-hangzhou.aliyuncs.com", true},
      {kSts, "", kPublic, "sts.aliyuncs.com", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.region) + " " + std::string(EndpointTypeName(c.type)));
    const core::Result<ResolvedHost> resolved = ResolveHost(c.product, c.region, c.type);
    ASSERT_TRUE(resolved.ok()) << resolved.status().message();
    EXPECT_EQ(resolved->host, c.host);
    EXPECT_EQ(resolved->listed, c.listed);
  }
}

TEST(EndpointsTest, RefusesRegionsNoHostCouldHoldNamingTheCharacter) {
  const std::pair<const char*, const char*> cases[] = {
      {"cn_hangzhou", "'_'"},
      {"cn hangzhou", "U+0020"},
      {"\xe6\x9d\xad\xe5\xb7\x9e", "U+676D"},
      {"cn\xff", "the byte 0xFF"},
      {"-cn-hangzhou", "starts or ends with '-'"},
  };
  for (const auto& [region, named] : cases) {
    const core::Status checked = CheckRegionId(region);
    EXPECT_FALSE(checked.ok()) << region;
    EXPECT_NE(checked.message().find(named), std::string::npos) << checked.message();
    EXPECT_FALSE(ResolveHost(Product::kEcs, region, EndpointType::kVpc).ok());
  }
  EXPECT_FALSE(CheckRegionId(std::string(64, 'a')).ok());
  EXPECT_TRUE(CheckRegionId(std::string(63, 'a')).ok());
}

}  // namespace
}  // namespace kestrune::catalogue
