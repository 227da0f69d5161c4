#include "report/trace_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kestrune::report {
namespace {

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[256];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
  return text;
}

TEST(StderrTraceSinkTest, WritesOneLinePerCall) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  StderrTraceSink sink(file);
  sink.Line("strtitle = RequestId (headreq, 738)");
  sink.Line("");
  sink.Line("OneXmlBuf = 华东2（上海） (headreq, 739)");
  EXPECT_EQ(ReadAll(file),
            "strtitle = RequestId (headreq, 738)\n\nOneXmlBuf = 华东2（上海） (headreq, 739)\n");
  std::fclose(file);
}

TEST(RecordingTraceSinkTest, KeepsLinesInOrder) {
  RecordingTraceSink sink;
  sink.Line("a");
  sink.Line("b");
  EXPECT_EQ(sink.lines(), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace kestrune::report
