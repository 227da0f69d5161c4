// The two-column Field/Info list every shown value ends up in.
//
// Rows are always inserted at the top, so on screen the rows of one reply
// stand in the reverse of the order in which they were produced. The dialog,
// the command line and the tests each implement this seam; not thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrune::report {

class ResultList {
 public:
  virtual ~ResultList() = default;
  // Inserts a row at index 0 (the top); earlier rows move down.
  virtual void InsertTop(std::string_view field, std::string_view info) = 0;
  // The same, taking `info` over; a list that keeps its rows may keep this
  // very string, so a long value is never copied.
  // NOLINTNEXTLINE(performance-unnecessary-value-param): overrides keep it.
  virtual void InsertTopOwned(std::string_view field, std::string info) { InsertTop(field, info); }
  // Removes every row.
  virtual void Clear() = 0;
};

struct Row {
  std::string field;
  std::string info;
  friend bool operator==(const Row&, const Row&) = default;
};

// Keeps the rows in memory, for the command line and for tests.
class RecordingResultList : public ResultList {
 public:
  void InsertTop(std::string_view field, std::string_view info) override {
    produced_.push_back(Row{std::string(field), std::string(info)});
  }
  void InsertTopOwned(std::string_view field, std::string info) override {
    produced_.push_back(Row{std::string(field), std::move(info)});
  }
  void Clear() override { produced_.clear(); }

  // Rows in the order they were produced (the bottom row of the screen first).
  const std::vector<Row>& produced() const { return produced_; }
  // Rows as the screen shows them, top first.
  std::vector<Row> ScreenOrder() const { return {produced_.rbegin(), produced_.rend()}; }
  // Hands the rows over in the order they were produced; the list is then
  // empty.
  std::vector<Row> TakeProduced() { return std::exchange(produced_, {}); }

 private:
  std::vector<Row> produced_;
};

}  // namespace kestrune::report
