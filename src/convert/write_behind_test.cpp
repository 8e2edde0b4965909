#include "convert/write_behind.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;

// Records what reaches the sink and from which thread.
struct Recorder {
  std::mutex mutex;
  std::string bytes;
  std::vector<std::size_t> sizes;
  std::vector<std::thread::id> threads;

  WriteBehind::Sink sink() {
    return [this](std::string_view block) {
      std::lock_guard lock(mutex);
      bytes.append(block);
      sizes.push_back(block.size());
      threads.push_back(std::this_thread::get_id());
    };
  }
};

TEST(WriteBehindTest, SmallOutputIsWrittenOnceByTheCaller) {
  Recorder r;
  {
    WriteBehind out(r.sink(), 64);
    out("abc");
    out(std::string(61, 'x'));  // exactly one block
    out.finish();
  }
  EXPECT_EQ(r.bytes, "abc" + std::string(61, 'x'));
  ASSERT_EQ(r.sizes, std::vector<std::size_t>{64});
  EXPECT_EQ(r.threads[0], std::this_thread::get_id());

  Recorder none;
  WriteBehind empty(none.sink(), 64);
  empty.finish();
  EXPECT_TRUE(none.sizes.empty());
}

TEST(WriteBehindTest, PiecesOfEverySizeArriveWholeAndInOrder) {
  std::mt19937 random(11);
  for (std::size_t blockSize : {1u, 7u, 64u, 1000u}) {
    for (std::size_t count : {2u, 3u, 8u}) {
      Recorder r;
      std::string expected;
      WriteBehind out(r.sink(), blockSize, count);
      for (int i = 0; i < 400; ++i) {
        // Mostly small pieces, some far larger than a block.
        std::size_t size = random() % 8 == 0 ? random() % (5 * blockSize + 1) : random() % 12;
        std::string piece(size, static_cast<char>('a' + i % 26));
        expected += piece;
        out(piece);
      }
      out.finish();
      ASSERT_EQ(r.bytes, expected) << blockSize << " " << count;
      for (std::size_t i = 0; i + 1 < r.sizes.size(); ++i) {
        ASSERT_EQ(r.sizes[i], blockSize);
      }
      if (r.sizes.size() > 1) {
        EXPECT_NE(r.threads.front(), std::this_thread::get_id());
      }
    }
  }
}

TEST(WriteBehindTest, WithoutAThreadTheCallerWritesEveryBlockOnceInOrder) {
  int starts = 0;
  auto noThread = [&starts](const std::function<void()>&) -> std::thread {
    ++starts;
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  Recorder r;
  std::string expected;
  auto bounded = [&r, sink = r.sink()](std::string_view block) {
    // A block written again and again fails here instead of filling memory.
    if (r.bytes.size() > 1000) throw std::length_error("more bytes than were handed over");
    sink(block);
  };
  {
    WriteBehind out(bounded, 16, 3, noThread);
    for (int i = 0; i < 100; ++i) {
      std::string piece(static_cast<std::size_t>(i % 7), static_cast<char>('a' + i % 26));
      expected += piece;
      out(piece);
    }
    out(std::string(50, '#'));  // a piece spanning several blocks
    expected += std::string(50, '#');
    out.finish();
  }
  EXPECT_EQ(starts, 1);  // not tried again for every block
  EXPECT_EQ(r.bytes, expected);
  ASSERT_GT(r.sizes.size(), 3u);
  for (std::size_t i = 0; i + 1 < r.sizes.size(); ++i) EXPECT_EQ(r.sizes[i], 16u) << i;
  for (std::thread::id id : r.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(WriteBehindTest, TheSinksFailureReachesTheCallerAndStopsTheWriting) {
  // The failure of the third block surfaces at a later hand-over or at
  // finish(), with its type and message, and nothing after it is written.
  for (std::size_t total : {3u * 16, 40u * 16}) {
    std::atomic<int> calls{0};
    std::string written;
    auto sink = [&](std::string_view block) {
      if (++calls == 3) throw FileException("/out/00.txt", "No space left on device");
      written.append(block);
    };
    WriteBehind out(sink, 16, 2);
    try {
      for (std::size_t i = 0; i < total; ++i) out("x");
      out.finish();
      FAIL() << "no failure for " << total;
    } catch (const FileException& e) {
      EXPECT_STREQ(e.what(), "/out/00.txt: No space left on device");
    }
    EXPECT_EQ(written, std::string(32, 'x'));
    EXPECT_EQ(calls, 3);
  }
}

TEST(WriteBehindTest, DestroyingWithoutFinishDropsTheRestPromptly) {
  std::atomic<int> calls{0};
  auto slow = [&](std::string_view) {
    ++calls;
    std::this_thread::sleep_for(20ms);
  };
  auto start = std::chrono::steady_clock::now();
  {
    WriteBehind out(slow, 8, 4);
    for (int i = 0; i < 8 * 4; ++i) out("y");  // three blocks handed over
  }
  // At most the block being written is finished; the waiting ones are not.
  EXPECT_LE(calls, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace vesk
