#include "request/signer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/secret_audit.h"

namespace kestrune::request {
namespace {

// "<head><number><tail>"; built by appending, which keeps GCC 12's
// -Wrestrict false positive on chained operator+ quiet.
std::string Numbered(std::string_view head, int number, std::string_view tail) {
  std::string text(head);
  text += std::to_string(number);
  text += tail;
  return text;
}

const ServiceEndpoint kEcs{"ecs.aliyuncs.com", "Host: ecs.aliyuncs.com\r\n", "Version=2014-05-26"};
const ServiceEndpoint kApiGateway{"apigateway.cn-qingdao.aliyuncs.com",
                                  "Host: apigateway.cn-qingdao.aliyuncs.com\r\n",
                                  "Version=2016-07-14"};
const Credentials kTestKey{"testid", "testsecret"};
// 2024-03-05 14:07:09.045 UTC: nonce 4500000.
const UtcInstant kInstant{2024, 3, 5, 14, 7, 9, 45};

ActionParameterList Parameters(const std::vector<std::string>& items) {
  ActionParameterList list;
  for (const std::string& item : items) EXPECT_TRUE(list.Append(item).ok()) << item;
  return list;
}

const std::string kLongSecret = "Sup3rSecretValue-" + std::string(32, 'Q');  // one over

class SignerTest : public ::testing::Test {
 protected:
  void TearDown() override { audit_.Finish(); }

  // Every build goes through here: neither what is signed and sent nor a
  // refusal may show a secret.
  core::Result<SignedRequest> Audited(core::Result<SignedRequest> result) {
    if (!result.ok()) {
      audit_.CheckText("a refusal", result.status().message());
    } else {
      audit_.CheckText("the string to sign", result->string_to_sign);
      audit_.CheckText("the signature", result->signature);
      audit_.CheckText("the request", result->text());
    }
    return result;
  }

  core::Result<SignedRequest> TryBuild(const Credentials& key, const ServiceEndpoint& endpoint,
                                       const ActionParameterList& parameters, const Clock& clock) {
    return Audited(BuildSignedRequest(key, endpoint, parameters, clock));
  }

  SignedRequest Build(const Credentials& key, const ServiceEndpoint& endpoint,
                      const std::vector<std::string>& items) {
    FixedClock clock(kInstant);
    core::Result<SignedRequest> result = TryBuild(key, endpoint, Parameters(items), clock);
    EXPECT_TRUE(result.ok()) << result.status().message();
    return result.ok() ? result.value() : SignedRequest{};
  }

  testsupport::SecretAudit audit_{{std::string(kTestKey.access_key_secret.view()),
                                   "signing-secret-a", "signing-secret-b", "first-build-secret",
                                   "second-build-secret", std::string(48, 's'), kLongSecret}};
};

// Expected requests written out by hand from the layout rules; the
// signatures were computed separately with `openssl dgst -sha1 -hmac
// 'testsecret&' -binary | base64` over the string to sign shown.
TEST_F(SignerTest, GoldenDescribeRegions) {
  SignedRequest request = Build(kTestKey, kEcs, {"Action=DescribeRegions"});
  EXPECT_EQ(request.string_to_sign,
            "GET&%2F&AccessKeyId%3Dtestid%26Action%3DDescribeRegions%26Format%3Dxml"
            "%26SignatureMethod%3DHMAC-SHA1%26SignatureNonce%3D4500000%26SignatureVersion%3D1.0"
            "%26Timestamp%3D2024-03-05T14%253A07%253A09Z%26Version%3D2014-05-26");
  EXPECT_EQ(request.signature, "D7EHmXp6u+wYBgVK2hS27GWN+4I=");
  EXPECT_EQ(request.text(),
            "GET /?AccessKeyId=testid&Format=xml&SignatureMethod=HMAC-SHA1"
            "&SignatureNonce=4500000&SignatureVersion=1.0&Timestamp=2024-03-05T14%3A07%3A09Z"
            "&Version=2014-05-26&&Signature=D7EHmXp6u%2BwYBgVK2hS27GWN%2B4I%3D"
            "&Action=DescribeRegions HTTP/1.1\r\n"
            "Host: ecs.aliyuncs.com\r\n"
            "Connection: close\r\n"
            "\r\n");
}

TEST_F(SignerTest, GoldenDescribeInstances) {
  SignedRequest request =
      Build(kTestKey, kEcs, {"Action=DescribeInstances", "RegionId=cn-shanghai"});
  EXPECT_EQ(request.string_to_sign,
            "GET&%2F&AccessKeyId%3Dtestid%26Action%3DDescribeInstances%26Format%3Dxml"
            "%26RegionId%3Dcn-shanghai%26SignatureMethod%3DHMAC-SHA1%26SignatureNonce%3D4500000"
            "%26SignatureVersion%3D1.0%26Timestamp%3D2024-03-05T14%253A07%253A09Z"
            "%26Version%3D2014-05-26");
  EXPECT_EQ(request.signature, "4qull6G55e2epCZnLdJc7MheP+U=");
  EXPECT_EQ(request.text(),
            "GET /?AccessKeyId=testid&Format=xml&SignatureMethod=HMAC-SHA1"
            "&SignatureNonce=4500000&SignatureVersion=1.0&Timestamp=2024-03-05T14%3A07%3A09Z"
            "&Version=2014-05-26&&Signature=4qull6G55e2epCZnLdJc7MheP%2BU%3D"
            "&Action=DescribeInstances&RegionId=cn-shanghai HTTP/1.1\r\n"
            "Host: ecs.aliyuncs.com\r\n"
            "Connection: close\r\n"
            "\r\n");
}

// Only the closing Connection line follows keep_alive; a POST's body stays.
TEST_F(SignerTest, KeepAliveChangesOnlyTheClosingConnectionLine) {
  SignedRequest request = Build(kTestKey, kEcs, {"Action=DescribeRegions"});
  const std::string closing = request.text();
  request.http.keep_alive = true;
  EXPECT_EQ(request.text(), closing.substr(0, closing.size() - 9) + "keep-alive\r\n\r\n");
  const HttpRequest post{"POST", "/", {}, "A=close", true};
  EXPECT_EQ(WriteHttpRequest(post),
            "POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: 7\r\nConnection: keep-alive\r\n\r\nA=close");
}

TEST_F(SignerTest, ActionParametersFollowTheSignatureUnsorted) {
  SignedRequest request =
      Build(kTestKey, kApiGateway, {"Action=DeployApi", "StageName=RELEASE", "GroupId=g1"});
  const std::string text = request.text();
  const std::size_t signature = text.find("Version=2016-07-14&&Signature=");
  ASSERT_NE(signature, std::string::npos) << text;
  const std::size_t action = text.find("&Action=DeployApi&StageName=RELEASE&GroupId=g1 HTTP/1.1");
  ASSERT_NE(action, std::string::npos) << text;
  EXPECT_LT(signature, action);
  EXPECT_NE(text.find("\r\nHost: apigateway.cn-qingdao.aliyuncs.com\r\nConnection: close\r\n\r\n"),
            std::string::npos);
  EXPECT_TRUE(text.ends_with("\r\n\r\n"));
  // Signed in name order.
  EXPECT_NE(request.string_to_sign.find("%26GroupId%3Dg1%26SignatureMethod%3D"), std::string::npos);
  EXPECT_NE(
      request.string_to_sign.find("%26SignatureVersion%3D1.0%26StageName%3DRELEASE%26Timestamp%3D"),
      std::string::npos);
}

TEST_F(SignerTest, TableCharactersInValues) {
  SignedRequest request = Build(
      kTestKey, kEcs, {"Action=DescribeInstances", "InstanceIds=[\"i-1\",\"i-2\"]", "Tag=a:b/c"});
  EXPECT_NE(
      request.string_to_sign.find("InstanceIds%3D%255B%2522i-1%2522%252C%2522i-2%2522%255D%26"),
      std::string::npos)
      << request.string_to_sign;
  EXPECT_NE(request.string_to_sign.find("Tag%3Da%253Ab%252Fc%26"), std::string::npos);
  EXPECT_NE(request.text().find("&InstanceIds=%5B%22i-1%22%2C%22i-2%22%5D&Tag=a%3Ab%2Fc HTTP/1.1"),
            std::string::npos)
      << request.text();
}

TEST_F(SignerTest, ValuesOutsideTheTablesAreEncodedLikeTheService) {
  // A space, "&", "=", "+", "%" and Chinese text: the service decodes the
  // query and signs its own canonical encoding, so we must send and sign
  // exactly that encoding.
  SignedRequest request = Build(kTestKey, kEcs,
                                {"Action=ModifyInstanceAttribute", "Description=a b&c=d+e%f",
                                 "InstanceName=\xE6\xB5\x8B\xE8\xAF\x95"});
  EXPECT_NE(request.text().find("&Description=a%20b%26c%3Dd%2Be%25f"
                                "&InstanceName=%E6%B5%8B%E8%AF%95 HTTP/1.1"),
            std::string::npos)
      << request.text();
  EXPECT_NE(request.string_to_sign.find("Description%3Da%2520b%2526c%253Dd%252Be%2525f%26"),
            std::string::npos)
      << request.string_to_sign;
  EXPECT_NE(request.string_to_sign.find("InstanceName%3D%25E6%25B5%258B%25E8%25AF%2595%26"),
            std::string::npos);
}

TEST_F(SignerTest, AccessKeyIdIsEncodedWhenItNeedsIt) {
  SignedRequest request =
      Build({"id with space", "first-build-secret"}, kEcs, {"Action=DescribeRegions"});
  EXPECT_TRUE(request.text().starts_with("GET /?AccessKeyId=id%20with%20space&Format=xml&"));
  EXPECT_TRUE(request.string_to_sign.starts_with("GET&%2F&AccessKeyId%3Did%2520with%2520space%26"));
}

TEST_F(SignerTest, EachBuildStartsAfresh) {
  FixedClock clock(kInstant);
  ActionParameterList parameters = Parameters({"Action=DescribeRegions"});
  core::Result<SignedRequest> first =
      TryBuild({"a-much-longer-access-key-id", "first-build-secret"}, kEcs, parameters, clock);
  ASSERT_TRUE(first.ok());
  clock.Set(UtcInstant{2024, 3, 5, 14, 8, 9, 999});
  core::Result<SignedRequest> second =
      TryBuild({"short", "second-build-secret"}, kEcs, parameters, clock);
  ASSERT_TRUE(second.ok());
  EXPECT_NE(second->text().find("?AccessKeyId=short&Format=xml&"), std::string::npos);
  EXPECT_EQ(second->text().find("a-much-longer"), std::string::npos);
  EXPECT_NE(second->text().find("&SignatureNonce=9990000&"), std::string::npos);
  EXPECT_NE(second->text().find("&Timestamp=2024-03-05T14%3A08%3A09Z&"), std::string::npos);
  EXPECT_NE(first->signature, second->signature);
}

TEST_F(SignerTest, SignatureDependsOnTheSecret) {
  SignedRequest a = Build({"id", "signing-secret-a"}, kEcs, {"Action=DescribeRegions"});
  SignedRequest b = Build({"id", "signing-secret-b"}, kEcs, {"Action=DescribeRegions"});
  EXPECT_EQ(a.string_to_sign, b.string_to_sign);
  EXPECT_NE(a.signature, b.signature);
  EXPECT_EQ(a.signature.size(), 28u);
}

TEST_F(SignerTest, CredentialLimits) {
  FixedClock clock(kInstant);
  ActionParameterList parameters = Parameters({"Action=DescribeRegions"});
  EXPECT_TRUE(TryBuild({std::string(37, 'i'), std::string(48, 's')}, kEcs, parameters, clock).ok());

  core::Result<SignedRequest> long_id =
      TryBuild({std::string(38, 'i'), "second-build-secret"}, kEcs, parameters, clock);
  ASSERT_FALSE(long_id.ok());
  EXPECT_NE(long_id.status().message().find("AccessKey id"), std::string::npos);
  EXPECT_NE(long_id.status().message().find("37"), std::string::npos);

  core::Result<SignedRequest> long_secret = TryBuild({"id", kLongSecret}, kEcs, parameters, clock);
  ASSERT_FALSE(long_secret.ok());
  EXPECT_NE(long_secret.status().message().find("48"), std::string::npos);
  // Not even part of it.
  EXPECT_EQ(long_secret.status().message().find("Sup3r"), std::string::npos);
  EXPECT_EQ(long_secret.status().message().find("QQQQ"), std::string::npos);
}

TEST_F(SignerTest, RefusesParametersTheBuilderWritesItself) {
  FixedClock clock(kInstant);
  for (const char* item : {"Signature=forged", "SignatureNonce=1", "Timestamp=2024-01-01T00:00:00Z",
                           "Version=2016-05-30", "AccessKeyId=other", "Format=json",
                           "SignatureMethod=MD5", "SignatureVersion=2.0"}) {
    core::Result<SignedRequest> result =
        TryBuild(kTestKey, kEcs, Parameters({"Action=DescribeRegions", item}), clock);
    ASSERT_FALSE(result.ok()) << item;
    const std::string name(item, std::string_view(item).find('='));
    EXPECT_NE(result.status().message().find("\"" + name + "\""), std::string::npos)
        << result.status().message();
  }
  // Names that merely start with, or differ in case from, one of them are
  // ordinary parameters.
  EXPECT_TRUE(
      TryBuild(kTestKey, kEcs,
               Parameters({"Action=DescribeRegions", "SignatureX=1", "signature=2", "VersionId=3"}),
               clock)
          .ok());
}

// A security token is signed and sent exactly as a SecurityToken parameter
// would be; the service checks it like any other.
TEST_F(SignerTest, SecurityTokenIsSignedLikeAParameter) {
  const std::string token = "CAIS+tok/en=";
  const Credentials temporary{"testid", "testsecret", token};
  const FixedClock clock(kInstant);
  core::Result<SignedRequest> with_token = BuildSignedRequestWith(
      temporary, kEcs, Parameters({"Action=DescribeRegions"}), "nonce-1", MakeTimestamps(clock));
  core::Result<SignedRequest> as_parameter = BuildSignedRequestWith(
      kTestKey, kEcs, Parameters({"Action=DescribeRegions", "SecurityToken=" + token}), "nonce-1",
      MakeTimestamps(clock));
  ASSERT_TRUE(with_token.ok()) << with_token.status().message();
  ASSERT_TRUE(as_parameter.ok());
  EXPECT_EQ(with_token->string_to_sign, as_parameter->string_to_sign);
  EXPECT_EQ(with_token->signature, as_parameter->signature);
  EXPECT_NE(with_token->text().find("&SecurityToken=CAIS%2Btok%2Fen%3D&"), std::string::npos)
      << with_token->text();
  // Every form of it that a reply may quote back can be hidden.
  audit_.AddSecret(token);
  audit_.CheckText("the hidden request", HideSecurityToken(with_token->text(), token));
  audit_.CheckText("the hidden string to sign",
                   HideSecurityToken(with_token->string_to_sign, token));
  // Both at once would contradict each other.
  EXPECT_FALSE(
      Audited(BuildSignedRequestWith(
                  temporary, kEcs, Parameters({"Action=DescribeRegions", "SecurityToken=" + token}),
                  "nonce-2", MakeTimestamps(clock)))
          .ok());
}

TEST_F(SignerTest, RefusesEmptyParameterLists) {
  FixedClock clock(kInstant);
  core::Result<SignedRequest> result = TryBuild(kTestKey, kEcs, ActionParameterList(), clock);
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.status().message().find("Action"), std::string::npos);
}

TEST_F(SignerTest, RefusesRequestsPastTheTextLimitWhole) {
  // Long Chinese values: each below the item limit as typed, but their
  // encodings (five bytes signed for each byte given) overflow the text.
  std::vector<std::string> items = {"Action=ModifyInstanceAttribute"};
  std::string chinese;
  while (chinese.size() < kItemLimit / 2) chinese += "\xE4\xB8\xAD";
  for (int i = 1; i < 12; ++i) items.push_back(Numbered("Tag.", i, ".Value=") + chinese);
  FixedClock clock(kInstant);
  core::Result<SignedRequest> result = TryBuild(kTestKey, kEcs, Parameters(items), clock);
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.status().message().find(std::to_string(kRequestTextLimit - 1)),
            std::string::npos)
      << result.status().message();

  // The same request with short values is fine.
  items.resize(3);
  EXPECT_TRUE(TryBuild(kTestKey, kEcs, Parameters(items), clock).ok());
}

TEST_F(SignerTest, LargestRequestWithinTheLimits) {
  // Twelve parameters of 199 characters of plain text fit (about 2.5 KB).
  std::vector<std::string> items;
  for (int i = 0; i < 12; ++i) {
    std::string name = Numbered("P", i, "=");
    items.push_back(name + std::string(199 - name.size(), 'v'));
  }
  SignedRequest request = Build({std::string(37, 'i'), std::string(48, 's')}, kApiGateway, items);
  EXPECT_LT(request.text().size(), 4096u);
  EXPECT_NE(request.text().find(items[11] + " HTTP/1.1\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::request
