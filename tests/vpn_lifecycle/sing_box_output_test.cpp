#include "vpn/sing_box_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velqa::vpn {
namespace {

using ::testing::ElementsAre;

TEST(CleanOutputLineTest, RemovesColoursAndTrailingCarriageReturn) {
  EXPECT_EQ(CleanOutputLine("\x1b[36mINFO\x1b[0m[0000] inbound started\r"),
            "INFO[0000] inbound started");
  EXPECT_EQ(CleanOutputLine("\x1b[1;31mFATAL\x1b[0m bad"), "FATAL bad");
  EXPECT_EQ(CleanOutputLine("\x1b]0;title\x07text"), "text");
  EXPECT_EQ(CleanOutputLine("\x1b]8;;http://x\x1b\\link"), "link");
  EXPECT_EQ(CleanOutputLine("a\x1b(Bb"), "ab");
}

TEST(CleanOutputLineTest, KeepsOrdinaryTextAndInnerCarriageReturns) {
  EXPECT_EQ(CleanOutputLine("配置 ok"), "配置 ok");
  EXPECT_EQ(CleanOutputLine("a\rb\r"), "a\rb");
  EXPECT_EQ(CleanOutputLine("\r"), "");
  // An escape cut off at the end of the line loses only itself.
  EXPECT_EQ(CleanOutputLine("text\x1b[31"), "text");
  EXPECT_EQ(CleanOutputLine("text\x1b"), "text");
}

class SplitterTest : public ::testing::Test {
 protected:
  OutputLineSplitter splitter_{[this](std::string_view line) { lines_.emplace_back(line); }};
  std::vector<std::string> lines_;
};

TEST_F(SplitterTest, LinesSpanningChunksComeOutWhole) {
  splitter_.Append("one\ntw", 6);
  splitter_.Append("o\nthr", 5);
  EXPECT_THAT(lines_, ElementsAre("one", "two"));
  EXPECT_EQ(splitter_.pending(), "thr");
  splitter_.Append("\n\n", 2);
  EXPECT_THAT(lines_, ElementsAre("one", "two", "thr", ""));
  EXPECT_EQ(splitter_.pending(), "");
}

TEST_F(SplitterTest, ZeroByteEndsTheChunk) {
  const char chunk[] = {'a', '\n', 'b', '\0', 'c', '\n'};
  splitter_.Append(chunk, sizeof chunk);
  EXPECT_THAT(lines_, ElementsAre("a"));
  EXPECT_EQ(splitter_.pending(), "b");
}

TEST_F(SplitterTest, EndlessLineIsHandedOnInBoundedPieces) {
  std::string block(OutputLineSplitter::kMaxLine / 2 + 1, 'x');
  for (int i = 0; i < 5; ++i) splitter_.Append(block.data(), block.size());
  ASSERT_EQ(lines_.size(), 2u);
  for (const auto& line : lines_) EXPECT_EQ(line.size(), OutputLineSplitter::kMaxLine);
  EXPECT_LT(splitter_.pending().size(), OutputLineSplitter::kMaxLine);
  EXPECT_EQ(lines_.size() * OutputLineSplitter::kMaxLine + splitter_.pending().size(),
            5 * block.size());
}

// Skipping a chunk must count exactly the lines that appending it would
// have handed on, and leave the same unfinished tail, or the log's count of
// left-out lines is wrong and the next logged line is cut wrongly.
class SkipTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SkipTest, CountsWhatAppendWouldHandOnAndKeepsTheSameTail) {
  std::uint64_t appended = 0;
  OutputLineSplitter appending([&](std::string_view) { ++appended; });
  OutputLineSplitter skipping([](std::string_view) { ADD_FAILURE() << "Skip handed on a line"; });
  std::uint64_t skipped = 0;
  for (const std::string& chunk : GetParam()) {
    appending.Append(chunk.data(), chunk.size());
    skipped += skipping.Skip(chunk.data(), chunk.size());
    EXPECT_EQ(skipped, appended);
    EXPECT_EQ(skipping.pending(), appending.pending());
  }
}

const std::string kLongLine(OutputLineSplitter::kMaxLine + 10, 'x');
INSTANTIATE_TEST_SUITE_P(
    Chunks, SkipTest,
    ::testing::Values(std::vector<std::string>{"a\nb\n", "\n", "tail"},
                      std::vector<std::string>{"par", "tial\nnext", "\nlast\nmore"},
                      std::vector<std::string>{std::string("a\nb\0c\n", 6), "d\n"},
                      std::vector<std::string>{kLongLine, kLongLine + "\nz"}));

TEST(LineBudgetTest, FloodIsThinnedAndCounted) {
  LineBudget budget(/*per_second=*/10, /*burst=*/5);
  auto t0 = LineBudget::Clock::now();
  int taken = 0;
  for (int i = 0; i < 100; ++i) taken += budget.Take(t0);
  EXPECT_EQ(taken, 5);
  EXPECT_EQ(budget.TakeSkipped(), 95u);
  EXPECT_EQ(budget.TakeSkipped(), 0u);
  // Half a second later five more lines fit.
  auto later = t0 + std::chrono::milliseconds(500);
  taken = 0;
  for (int i = 0; i < 10; ++i) taken += budget.Take(later);
  EXPECT_EQ(taken, 5);
  // Spent is spent, whether asked line by line or for a whole chunk.
  EXPECT_TRUE(budget.Exhausted(later));
  budget.CountSkipped(7);
  EXPECT_EQ(budget.TakeSkipped(), 12u);
  // A long pause never saves up more than the burst.
  auto much_later = later + std::chrono::hours(1);
  taken = 0;
  for (int i = 0; i < 10; ++i) taken += budget.Take(much_later);
  EXPECT_EQ(taken, 5);
}

}  // namespace
}  // namespace velqa::vpn
