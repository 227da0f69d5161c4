// How a terminal's encoding is read from the locale environment.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "report/display_text.h"

namespace kestrune::report {
namespace {

// Sets the locale variables for one test and puts the old values back.
class LocaleEnvironment {
 public:
  LocaleEnvironment() {
    for (int i = 0; i < 3; ++i) {
      const char* value = getenv(kNames[i]);
      if (value != nullptr) saved_[i] = value;
      unsetenv(kNames[i]);
    }
  }
  ~LocaleEnvironment() {
    for (int i = 0; i < 3; ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }
  void Set(const char* name, const char* value) { setenv(name, value, 1); }

 private:
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::optional<std::string> saved_[3];
};

TEST(TerminalDisplayEncodingTest, ReadsTheFirstLocaleVariableSet) {
  LocaleEnvironment environment;
  EXPECT_EQ(TerminalDisplayEncoding(), DisplayEncoding::kUtf8);
  environment.Set("LANG", "zh_CN.GBK");
  EXPECT_EQ(TerminalDisplayEncoding(), DisplayEncoding::kGbk);
  environment.Set("LC_CTYPE", "zh_CN.UTF-8");
  EXPECT_EQ(TerminalDisplayEncoding(), DisplayEncoding::kUtf8);
  environment.Set("LC_ALL", "zh_CN.gb18030");
  EXPECT_EQ(TerminalDisplayEncoding(), DisplayEncoding::kGbk);
  environment.Set("LC_ALL", "");
  EXPECT_EQ(TerminalDisplayEncoding(), DisplayEncoding::kUtf8);
  environment.Set("LC_CTYPE", "zh_CN.GB2312");
  EXPECT_EQ(TerminalDisplayEncoding(), DisplayEncoding::kGbk);
}

}  // namespace
}  // namespace kestrune::report
