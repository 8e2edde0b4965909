#include "convert/write_behind.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace vesk {

WriteBehind::WriteBehind(Sink sink, std::size_t blockSize, std::size_t blockCount, Starter starter)
    : sink_(std::move(sink)),
      starter_(std::move(starter)),
      blockSize_(std::max<std::size_t>(blockSize, 1)),
      blockCount_(std::max<std::size_t>(blockCount, 2)),
      current_(new char[blockSize_]) {}

WriteBehind::~WriteBehind() { stopWriter(); }

void WriteBehind::appendSlow(std::string_view piece) {
  while (!piece.empty()) {
    if (used_ == blockSize_) handOver();
    std::size_t part = std::min(piece.size(), blockSize_ - used_);
    std::memcpy(current_.get() + used_, piece.data(), part);
    used_ += part;
    piece.remove_prefix(part);
  }
}

void WriteBehind::handOver() {
  if (!writer_.joinable() && !alone_) startWriter();
  if (alone_) {
    sink_(std::string_view(current_.get(), used_));
    used_ = 0;
    return;
  }
  std::unique_lock lock(mutex_);
  throwIfFailed();
  full_.push_back(Full{std::move(current_), used_});
  workReady_.notify_one();
  blockFree_.wait(lock, [this] { return !free_.empty() || failure_; });
  throwIfFailed();
  current_ = std::move(free_.back());
  free_.pop_back();
  used_ = 0;
}

void WriteBehind::finish() {
  if (!writer_.joinable()) {
    if (used_ != 0) sink_(std::string_view(current_.get(), used_));
    used_ = 0;
    return;
  }
  {
    std::unique_lock lock(mutex_);
    if (used_ != 0) full_.push_back(Full{std::move(current_), used_});
    used_ = 0;
    workReady_.notify_one();
    blockFree_.wait(lock, [this] { return (full_.empty() && !writing_) || failure_; });
  }
  stopWriter();
  std::exception_ptr failure = std::exchange(failure_, nullptr);
  if (failure) std::rethrow_exception(failure);
}

void WriteBehind::startWriter() {
  for (std::size_t i = 1; i < blockCount_; ++i) free_.emplace_back(new char[blockSize_]);
  try {
    if (starter_) {
      writer_ = starter_([this] { writerLoop(); });
    } else {
      writer_ = std::thread(&WriteBehind::writerLoop, this);
    }
  } catch (const std::system_error&) {
    alone_ = true;  // out of threads: the caller writes every block itself
    free_.clear();
  }
}

void WriteBehind::stopWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  workReady_.notify_one();
  if (writer_.joinable()) writer_.join();
}

void WriteBehind::throwIfFailed() {
  if (failure_) std::rethrow_exception(failure_);
}

void WriteBehind::writerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    workReady_.wait(lock, [this] { return stop_ || !full_.empty(); });
    if (stop_) return;
    Full job = std::move(full_.front());
    full_.pop_front();
    // After a failure the blocks still coming are dropped, not written.
    if (!failure_) {
      writing_ = true;
      lock.unlock();
      std::exception_ptr failure;
      try {
        sink_(std::string_view(job.block.get(), job.size));
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      writing_ = false;
      if (failure) failure_ = failure;
    }
    free_.push_back(std::move(job.block));
    blockFree_.notify_one();
  }
}

}  // namespace vesk
