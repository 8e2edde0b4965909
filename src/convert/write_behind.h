// Output gathered into large blocks that a second thread writes out while
// the caller goes on producing the next ones. Writing a block costs the
// kernel about as much as reading and rewriting it costs the caller, so on a
// machine with two processors the two halves of a conversion overlap.
//
// The writer thread starts when the first block is full: an output that fits
// in one block is written by the caller, so a small file pays nothing for
// the thread, and where no thread can be started every block is written by
// the caller. Blocks reach the sink whole and in order; a failure of the
// sink is thrown to the caller at its next hand-over or at finish(), after
// which the object may only be destroyed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace vesk {

class WriteBehind {
 public:
  using Sink = std::function<void(std::string_view block)>;
  // Starts a thread running the given loop; a failure to start one is
  // reported as std::system_error, as std::thread's constructor reports it.
  using Starter = std::function<std::thread(std::function<void()> loop)>;

  // blockCount blocks of blockSize bytes each, at least two. The writer is
  // started by `starter`, by default a plain std::thread; tests pass one
  // that fails.
  WriteBehind(Sink sink, std::size_t blockSize, std::size_t blockCount = 3, Starter starter = {});
  // Stops the writer; bytes not yet written are dropped.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  void operator()(std::string_view piece) {
    // The common case, a piece that fits, is a copy and nothing else.
    if (piece.size() <= blockSize_ - used_) {
      std::memcpy(current_.get() + used_, piece.data(), piece.size());
      used_ += piece.size();
      return;
    }
    appendSlow(piece);
  }

  // Writes everything handed over so far and waits for it; rethrows the
  // sink's failure. Nothing may be appended afterwards.
  void finish();

 private:
  using Block = std::unique_ptr<char[]>;
  struct Full {
    Block block;
    std::size_t size;
  };

  void appendSlow(std::string_view piece);
  void handOver();    // passes the current block on and takes a free one
  void writerLoop();  // the writer thread
  void startWriter();
  void stopWriter();
  void throwIfFailed();  // with mutex_ held

  const Sink sink_;
  const Starter starter_;
  const std::size_t blockSize_;
  const std::size_t blockCount_;
  bool alone_ = false;  // no writer thread could be started
  Block current_;
  std::size_t used_ = 0;

  std::mutex mutex_;
  std::condition_variable workReady_;  // the writer waits for full blocks
  std::condition_variable blockFree_;  // the caller waits for free blocks
  std::deque<Full> full_;              // waiting to be written, oldest first
  std::vector<Block> free_;
  bool writing_ = false;  // the writer holds a block
  bool stop_ = false;
  std::exception_ptr failure_;
  std::thread writer_;
};

}  // namespace vesk
