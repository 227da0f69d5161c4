// Test support: proof that a secret never leaves the program under test.
//
// A SecretAudit captures the process's standard output and standard error
// (file descriptors 1 and 2, so also those of any child the test starts) from
// construction until Finish(). Finish() hands what was captured on to the real
// streams and checks it; the Check functions check whatever else the program
// produced: trace lines, rows, the simulator's log, request texts, error
// messages and the files under a directory, except the files that keep
// credentials ("sign", and a home directory's "config.json" and
// "credentials"). A secret (an AccessKey secret, a security token) counts as
// shown when it appears as given, percent-encoded once as a query carries it
// or twice as a string to sign does (a proxy password also as its Basic
// credentials).
//
// Secrets must be at least kMinimumAuditedLength characters, so that finding
// one means a leak and not a coincidence. A test that dies while capturing
// leaves what it wrote in a "kestrune-audit-*" file in the temporary directory.
// Not thread-safe: one audit per test, used from the test's thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::testsupport {

inline constexpr std::size_t kMinimumAuditedLength = 8;

class SecretAudit {
 public:
  explicit SecretAudit(std::vector<std::string> secrets);
  SecretAudit(const SecretAudit&) = delete;
  SecretAudit& operator=(const SecretAudit&) = delete;
  ~SecretAudit();  // Finish()es if the test did not

  // For a secret a test makes up after the audit started.
  void AddSecret(std::string secret);
  // A proxy's password, looked for also inside the Basic credentials that
  // carry it (Base64 of "user:password"), which only the proxy may see.
  void AddProxyCredentials(std::string_view user, std::string password);

  // Each records a test failure naming `where` if `text` shows a secret.
  void CheckText(std::string_view where, std::string_view text) const;
  void CheckText(std::string_view where, std::wstring_view text) const;  // as UTF-8
  void CheckLines(std::string_view where, const std::vector<std::string>& lines) const;
  // Every regular file below `directory`, except those named "sign",
  // "config.json" or "credentials".
  void CheckFilesUnder(const std::filesystem::path& directory) const;

  // Stops capturing, passes the captured output on and checks it. Later
  // calls do nothing.
  void Finish();

  // Whether `text` shows one of the secrets; for the audit's own tests.
  bool Shows(std::string_view text) const;

 private:
  class Capture;

  std::vector<std::string> forms_;  // every form a secret is looked for in
  std::unique_ptr<Capture> capture_;
};

}  // namespace kestrune::testsupport
