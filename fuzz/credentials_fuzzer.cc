// The credential file over arbitrary content and arbitrary key pairs.
//
// The first byte picks the check:
//   even: the rest is a file's content. The parsed pair must be the text
//         before the first ":" and the rest, each without the CR, LF, space
//         and tab around it; the loader, reading it from a file, must give the
//         same pair, or refuse an empty (or white space only) or oversized
//         file.
//   odd:  the rest is an id and a secret (split at the first NUL byte). A save
//         that succeeds must load back as exactly that pair; a refused save
//         must leave the file it would have replaced as it was.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "request/credentials.h"

namespace {

namespace request = kestrune::request;

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "contract broken: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

// A private directory for the file (and the loader's temporary files),
// removed when the run ends.
const std::string& ScratchPath() {
  static char directory[] = "/tmp/kestrune-credentials-fuzz-XXXXXX";
  static const std::string path = [] {
    if (mkdtemp(directory) == nullptr) Fail("no scratch directory");
    std::atexit([] {
      std::remove((std::string(directory) + "/sign").c_str());
      rmdir(directory);
    });
    return std::string(directory) + "/sign";
  }();
  return path;
}

void WriteRaw(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void CheckContent(std::string_view content) {
  const auto parsed = request::ParseCredentials(content);
  const auto trim = [](std::string_view text) {
    while (!text.empty() &&
           std::string_view("\r\n \t").find(text.front()) != std::string_view::npos)
      text.remove_prefix(1);
    while (!text.empty() && std::string_view("\r\n \t").find(text.back()) != std::string_view::npos)
      text.remove_suffix(1);
    return text;
  };
  const bool blank = trim(content).empty();
  if (blank != !parsed.has_value()) Fail("blank content and a pair disagree");
  if (parsed) {
    const std::size_t colon = content.find(':');
    const std::string_view id = trim(content.substr(0, colon));
    const std::string_view secret =
        colon == std::string_view::npos ? std::string_view() : trim(content.substr(colon + 1));
    if (parsed->access_key_id != id || parsed->access_key_secret != secret) {
      Fail("the pair is not split at the first colon", content);
    }
  }
  const std::string& path = ScratchPath();
  WriteRaw(path, content);
  const auto loaded = request::LoadCredentials(path);
  std::string_view body = content;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  int filled_lines = 0;
  for (std::size_t start = 0; start <= body.size();) {
    const std::size_t end = std::min(body.find('\n', start), body.size());
    if (!trim(body.substr(start, end - start)).empty()) ++filled_lines;
    start = end + 1;
  }
  const auto body_parsed = request::ParseCredentials(body);
  const bool loadable = body_parsed.has_value() && filled_lines <= 1 &&
                        content.size() <= request::kCredentialFileLimit;
  if (loaded.ok() != loadable) Fail("the loader took or refused the wrong file", content);
  if (loaded.ok() && (loaded->access_key_id != body_parsed->access_key_id ||
                      loaded->access_key_secret != body_parsed->access_key_secret)) {
    Fail("the loader and the parser disagree", content);
  }
}

void CheckRoundTrip(std::string_view text) {
  const std::size_t split = text.find('\0');
  const request::Credentials pair{
      std::string(text.substr(0, split)),
      split == std::string_view::npos ? std::string() : std::string(text.substr(split + 1))};
  const std::string& path = ScratchPath();
  const std::string before = "previous-id:previous-secret";
  WriteRaw(path, before);
  const kestrune::core::Status saved = request::SaveCredentials(pair, path);
  if (!saved.ok()) {
    if (ReadRaw(path) != before) Fail("a refused save changed the file");
    // The refusal must not depend on the secret's text: the same refusal
    // for a secret whose ordinary bytes are all replaced.
    request::Credentials masked = pair;
    std::string masked_secret(pair.access_key_secret.view());
    for (char& c : masked_secret) {
      if (c != '\r' && c != '\n' && c != '\0' && c != ' ' && c != '\t') c = 'x';
    }
    masked.access_key_secret = std::move(masked_secret);
    WriteRaw(path, before);
    if (request::SaveCredentials(masked, path).message() != saved.message()) {
      Fail("a refusal depends on the secret's text", saved.message());
    }
    return;
  }
  const auto loaded = request::LoadCredentials(path);
  if (!loaded.ok()) Fail("a saved pair does not load", loaded.status().message());
  if (loaded->access_key_id != pair.access_key_id ||
      loaded->access_key_secret != pair.access_key_secret) {
    Fail("a saved pair loads back as another pair", ReadRaw(path));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) == 0) {
    CheckContent(rest);
  } else {
    CheckRoundTrip(rest);
  }
  return 0;
}
