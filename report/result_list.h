// The two-column Field/Info list every shown value ends up in.
//
// Rows are always inserted at the top, so on screen the rows of one reply
// stand in the reverse of the order in which they were produced. Between the
// records of a reply stand record breaks: a list on screen shows each as a
// row of stars in both columns; a list that keeps the rows for another form
// (the command line's table, tsv and JSON) keeps it as a break. The dialog,
// the command line and the tests each implement this seam; not thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrune::report {

// Field and Info of the row a screen shows for a record break.
inline constexpr std::string_view kSeparator = "****************";

class ResultList {
 public:
  virtual ~ResultList() = default;
  // Inserts a row at index 0 (the top); earlier rows move down.
  virtual void InsertTop(std::string_view field, std::string_view info) = 0;
  // The same, taking `info` over; a list that keeps its rows may keep this
  // very string, so a long value is never copied.
  // NOLINTNEXTLINE(performance-unnecessary-value-param): overrides keep it.
  virtual void InsertTopOwned(std::string_view field, std::string info) { InsertTop(field, info); }
  // Inserts a record break at the top: on screen, the row of stars.
  virtual void InsertRecordBreak() { InsertTop(kSeparator, kSeparator); }
  // Removes every row.
  virtual void Clear() = 0;
};

struct Row {
  Row() = default;
  Row(std::string field_text, std::string info_text)
      : field(std::move(field_text)), info(std::move(info_text)) {}
  // A break between two records; its field and info are empty.
  static Row Break() {
    Row mark;
    mark.record_break = true;
    return mark;
  }

  std::string field;
  std::string info;
  bool record_break = false;
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
  // Kept as a break, not as its row of stars.
  void InsertRecordBreak() override { produced_.push_back(Row::Break()); }
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
