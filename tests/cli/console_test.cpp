// The live table on a terminal of the test's own: rows cut to its width as it changes, lines
// from the workers' threads above the table and never into it, a table taller than the screen;
// then the station's and flash --all's tables as they end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "console/console.h"
#include "engine/signals.h"
#include "cli_harness.h"

namespace obrint::cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TerminalSize gSize;
TerminalSize CurrentSize() { return gSize; }

// A terminal as tmux is: rows of gSize.columns cells; a line that goes past the last column goes
// on in the next row, and such rows are joined and wrapped anew when the width changes.
class Screen {
 public:
  void Take(const std::string& bytes) {
    Reflow();
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      if (bytes[at] == '\x1b') {  // ESC [ n A: up n rows; ESC [ 2 K: clear the row
        const std::size_t end = bytes.find_first_of("AK", at);
        if (bytes[end] == 'A')
          row_ -= std::min<std::size_t>(row_, std::stoul(bytes.substr(at + 2)));
        if (bytes[end] == 'K') rows_[row_] = {};
        at = end;
      } else if (bytes[at] == '\r' || bytes[at] == '\n') {
        if (bytes[at] == '\n') Down();
        column_ = 0;
      } else {
        if (column_ == width_) {
          rows_[row_].wrapped = true;
          Down();
          column_ = 0;
        }
        std::string& text = rows_[row_].text;
        text.resize(std::max(text.size(), column_ + 1), ' ');
        text[column_++] = bytes[at];
      }
    }
  }
  // What the screen shows, row by row.
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (const Row& row : rows_)
      rows.push_back(row.text.substr(0, row.text.find_last_not_of(' ') + 1));
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }

 private:
  struct Row {
    std::string text;
    bool wrapped = false;  // goes on in the next row
  };
  void Down() {
    if (++row_ == rows_.size()) rows_.emplace_back();
  }
  // Each line's rows joined and wrapped at today's width; the cursor stays in its line.
  void Reflow() {
    if (width_ == gSize.columns) return;
    width_ = gSize.columns;
    std::vector<Row> rows;
    std::string line;
    std::size_t cursor = std::string::npos;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
      if (row == row_) cursor = line.size() + column_;
      line += rows_[row].text;
      if (rows_[row].wrapped) continue;
      for (std::size_t from = 0; from == 0 || from < line.size(); from += width_) {
        if (cursor >= from && cursor - from < width_) {
          row_ = rows.size();
          column_ = cursor - from;
        }
        rows.push_back({line.substr(from, width_), from + width_ < line.size()});
      }
      line.clear();
      cursor = std::string::npos;
    }
    rows_ = std::move(rows);
  }

  std::vector<Row> rows_ = {Row{}};
  std::size_t row_ = 0, column_ = 0, width_ = 0;
};

// Draws through a console; what it wrote so far goes to the screen at each Look.
struct Terminal {
  std::ostringstream out, err;
  std::istringstream in;
  engine::SignalWatch signals;
  Console console{
      {out, err, in, true, true, false, CurrentSize}, false, Verbosity::kVerbose, signals};
  Screen screen;
  std::size_t taken = 0;
  std::vector<std::string> Look() {
    const std::string text = err.str();
    screen.Take(text.substr(taken));
    taken = text.size();
    return screen.Rows();
  }
};

std::vector<std::string> Table(const std::string& state) {
  std::vector<std::string> lines = {"USB PORT   STATE"};
  for (int port = 1; port <= 8; ++port) {
    lines.push_back("1-2." + std::to_string(port) + "      " + state + " " + std::string(90, '=') +
                    " end of row " + std::to_string(port));
  }
  lines.push_back("flashed 0  failed 0");
  return lines;
}

// Each line as the table shows it at `columns`: cut before the last column.
std::vector<std::string> Cut(std::vector<std::string> lines, std::size_t columns) {
  for (std::string& line : lines) {
    if (line.size() >= columns) line = line.substr(0, columns - 4) + "...";
  }
  return lines;
}

TEST(ConsoleTest, TheTableStaysWholeAsTheWidthChanges) {
  struct Case {
    unsigned before, after;
  };
  for (const Case c : {Case{80, 80}, Case{120, 80}, Case{80, 120}, Case{120, 40}, Case{200, 200}}) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.after) + " columns");
    gSize = {c.before, 50};
    Terminal terminal;
    terminal.console.Table(Table("flashing"));
    EXPECT_EQ(terminal.Look(), Cut(Table("flashing"), c.before));
    gSize.columns = c.after;
    terminal.console.Error("Ctrl+C: no further starts");
    terminal.console.Table(Table("failed"));
    std::vector<std::string> expected = {"obrint-cli: Ctrl+C: no further starts"};
    for (const std::string& line : Cut(Table("failed"), c.after)) expected.push_back(line);
    EXPECT_EQ(terminal.Look(), expected);
  }
}

TEST(ConsoleTest, TheWorkersLinesGoAboveTheTableWhole) {
  gSize = {100, 50};
  Terminal terminal;
  // Appended piece by piece: g++ 12 at -O2 warns (-Wrestrict, wrongly) on "#" + std::string.
  const auto line = [](int worker, int step) {
    return std::string("#")
        .append(std::to_string(worker))
        .append(" step ")
        .append(std::to_string(step));
  };
  std::vector<std::thread> workers;
  for (int worker = 1; worker <= 4; ++worker) {
    workers.emplace_back([&, worker] {
      for (int step = 0; step < 50; ++step) terminal.console.Detail(line(worker, step));
    });
  }
  for (int frame = 0; frame < 100; ++frame) terminal.console.Table(Table(std::to_string(frame)));
  for (std::thread& worker : workers) worker.join();
  const std::vector<std::string> rows = terminal.Look();
  ASSERT_EQ(rows.size(), 200 + Table("").size());
  EXPECT_EQ(std::vector(rows.begin() + 200, rows.end()), Cut(Table("99"), 100));
  for (int worker = 1; worker <= 4; ++worker) {
    for (int step = 0; step < 50; ++step) {
      EXPECT_EQ(std::count(rows.begin(), rows.begin() + 200, line(worker, step)), 1);
    }
  }
}

TEST(ConsoleTest, ATableTallerThanTheScreenKeepsItsTotals) {
  gSize = {20, 8};
  Terminal terminal;
  std::vector<std::string> lines(30, "row");
  lines.front() = "USB PORT";
  lines.back() = "flashed 29";
  terminal.console.Table(lines);
  terminal.console.Table(lines);
  const std::vector<std::string> rows = terminal.Look();
  ASSERT_EQ(rows.size(), 7u) << "a row for the cursor";
  EXPECT_EQ(rows.front(), "USB PORT");
  EXPECT_EQ(rows[5], "... and 24 lines...");
  EXPECT_EQ(rows.back(), "flashed 29");
  // Cut by characters, not bytes.
  std::string wide = "1-2.1 ", cut = wide;
  for (int letter = 0; letter < 20; ++letter) wide += "\xc3\xbc";
  for (int letter = 0; letter < 10; ++letter) cut += "\xc3\xbc";
  terminal.console.Table({wide});
  EXPECT_EQ(terminal.err.str().substr(terminal.err.str().size() - cut.size() - 4), cut + "...\n");
}

// The station's and flash --all's tables as they end, at 80 columns: every headset's row once,
// whole, under the steps that -v printed meanwhile; a failed headset failed, with its reason.
TEST(LiveTableTest, TheStationAndFlashAllEndOnAWholeTable) {
  ScratchDir dir;
  const std::string image = dir.File("demo.bin");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  std::vector<std::string> fleet = {"-v", "--sim", "8"};
  const char* kinds[] = {"block-sum", "total",     "no-return", "not-back",
                         "unplug",    "late-boot", "no-mcu-id"};
  for (int i = 0; i < 7; ++i)
    fleet.insert(fleet.end(), {"--sim-fault", std::to_string(i + 1) + ":" + kinds[i]});
  gSize = {80, 50};
  for (const bool station : {true, false}) {
    std::vector<std::string> args = fleet;
    if (station) args.insert(args.end(), {"--sim-plug", "100", "station", "--max", "8", image});
    if (!station) args.insert(args.end(), {"flash", "--all", "--yes", image});
    const CliRun run = RunCliWith(args, "", true, CurrentSize);
    Screen screen;
    screen.Take(run.err);
    const std::vector<std::string> rows = screen.Rows();
    const auto header =
        std::find(rows.begin(), rows.end(), "USB PORT   MCU ID                    STATE");
    // The table, and below it the command's error.
    ASSERT_EQ(rows.end() - header, station ? 11 : 10) << run.err;
    // How late-boot ends depends on the order the workers restart in.
    EXPECT_THAT(rows.back(),
                AllOf(StartsWith("obrint-cli: "), EndsWith(" of 8 headsets were not flashed")));
    EXPECT_GT(
        std::count_if(rows.begin(), header, [](const std::string& row) { return row[0] == '#'; }),
        20);
    EXPECT_EQ(header[1],
              "1-2.1      04030201080706050C0B0A09  failed: the headset received a block wr...");
    for (auto row = header + 1; row != header + 9; ++row) {
      const std::string port = "1-2." + std::to_string(row - header) + " ";
      EXPECT_EQ(row->substr(0, port.size()), port) << *row;
      EXPECT_LT(row->size(), 80u) << *row;
    }
    EXPECT_NE(header[4].find("not back: the headset did not come back"), std::string::npos);
    EXPECT_NE(header[8].find(station ? "done, unplug  0025" : "flashed 0025"), std::string::npos);
    if (!station) {
      EXPECT_THAT(run.out, HasSubstr("failed, 0 not started, on virtual time"));
      continue;
    }
    EXPECT_THAT(run.err, Not(HasSubstr("flashed 0  failed 0  yield"))) << "before a result";
    EXPECT_THAT(header[9], AllOf(StartsWith("flashed "), HasSubstr("  yield "),
                                 EndsWith(" %  on virtual time: no durations")));
  }
}

}  // namespace
}  // namespace obrint::cli::testing
