#include "tests/support/secret_audit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <system_error>
#include <utility>

#include "core/base64.h"
#include "core/wide_text.h"
#include "tests/support/output_capture.h"

namespace kestrune::testsupport {
namespace {

// Percent-encoding as a query would carry the secret: everything but the
// unreserved characters, upper-case hex.
std::string PercentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' ||
                            c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path CaptureFile(std::string_view stream) {
  static std::atomic<unsigned> counter{0};
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "kestrune-audit-";
  name += test != nullptr ? test->name() : "outside-a-test";
  name += '-';
  name += std::to_string(counter++);
  name += '-';
  name += stream;
  return std::filesystem::temp_directory_path() / name;
}

}  // namespace

// Both standard streams, each into a file of its own.
class SecretAudit::Capture {
 public:
  Capture()
      : out_file_(CaptureFile("stdout")),
        err_file_(CaptureFile("stderr")),
        out_(1, out_file_),
        err_(2, err_file_) {}

  bool active() const { return out_.active() && err_.active(); }

  // Restores the streams; returns what each received, and passes it on.
  std::pair<std::string, std::string> Stop() {
    out_.Restore();
    err_.Restore();
    std::pair<std::string, std::string> captured{ReadWhole(out_file_), ReadWhole(err_file_)};
    std::cout << captured.first << std::flush;
    std::cerr << captured.second << std::flush;
    std::error_code ignored;
    std::filesystem::remove(out_file_, ignored);
    std::filesystem::remove(err_file_, ignored);
    return captured;
  }

 private:
  std::filesystem::path out_file_;
  std::filesystem::path err_file_;
  OutputRedirect out_;
  OutputRedirect err_;
};

SecretAudit::SecretAudit(std::vector<std::string> secrets) {
  for (std::string& secret : secrets) AddSecret(std::move(secret));
  capture_ = std::make_unique<Capture>();
  if (!capture_->active()) {
    capture_.reset();
    ADD_FAILURE() << "the secret audit could not capture standard output and error";
  }
}

SecretAudit::~SecretAudit() { Finish(); }

void SecretAudit::AddSecret(std::string secret) {
  if (secret.size() < kMinimumAuditedLength) {
    ADD_FAILURE() << "a secret of " << secret.size() << " characters is too short to audit";
    return;
  }
  std::string encoded = PercentEncoded(secret);
  if (encoded != secret) {
    forms_.push_back(PercentEncoded(encoded));
    forms_.push_back(std::move(encoded));
  }
  forms_.push_back(std::move(secret));
}

void SecretAudit::AddProxyCredentials(std::string_view user, std::string password) {
  forms_.push_back(core::Base64Encode(std::string(user) + ":" + password));
  AddSecret(std::move(password));
}

bool SecretAudit::Shows(std::string_view text) const {
  for (const std::string& form : forms_) {
    if (text.find(form) != std::string_view::npos) return true;
  }
  return false;
}

void SecretAudit::CheckText(std::string_view where, std::string_view text) const {
  // The text itself is not printed: it holds the secret.
  EXPECT_FALSE(Shows(text)) << "a secret shows in " << where;
}

void SecretAudit::CheckText(std::string_view where, std::wstring_view text) const {
  CheckText(where, core::FromWide(text));
}

void SecretAudit::CheckLines(std::string_view where, const std::vector<std::string>& lines) const {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_FALSE(Shows(lines[i])) << "a secret shows in " << where << ", line " << i + 1;
  }
}

void SecretAudit::CheckFilesUnder(const std::filesystem::path& directory) const {
  std::error_code error;
  std::filesystem::recursive_directory_iterator entries(directory, error);
  ASSERT_FALSE(error) << directory << ": " << error.message();
  for (const auto& entry : entries) {
    const std::filesystem::path name = entry.path().filename();
    if (!entry.is_regular_file() || name == "sign" || name == "config.json" ||
        name == "credentials") {
      continue;
    }
    EXPECT_FALSE(Shows(ReadWhole(entry.path()))) << "a secret shows in the file " << entry.path();
  }
}

void SecretAudit::Finish() {
  if (!capture_) return;
  const auto [out, err] = capture_->Stop();
  capture_.reset();
  CheckText("standard output", out);
  CheckText("standard error", err);
}

}  // namespace kestrune::testsupport
