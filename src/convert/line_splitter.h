// Splits a byte stream that arrives in chunks into lines. A line ends at
// CR LF, at a lone CR or at a lone LF; the break is not part of the line.
// Text after the last break is a last line, a break at the very end starts
// no further line, and an empty stream has no lines.
//
// A line that lies inside one chunk is handed out as a view into that chunk;
// only a line that spans chunks is gathered in a buffer, which keeps its
// capacity, so the steady state allocates nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

class LineSplitter {
 public:
  // Calls onLine(std::string_view) for every line that the chunk completes.
  template <class OnLine>
  void feed(std::string_view chunk, OnLine&& onLine) {
    std::size_t pos = 0;
    if (afterCr_ && !chunk.empty()) {
      // The previous chunk ended in CR; an LF here belongs to that break.
      afterCr_ = false;
      if (chunk.front() == '\n') pos = 1;
    }
    while (pos < chunk.size()) {
      std::size_t brk = findBreak(chunk, pos);
      if (brk == chunk.size()) {
        pending_.append(chunk.substr(pos));
        return;
      }
      emit(chunk.substr(pos, brk - pos), onLine);
      pos = brk + 1;
      if (chunk[brk] == '\r') {
        if (pos == chunk.size()) {
          afterCr_ = true;
        } else if (chunk[pos] == '\n') {
          ++pos;
        }
      }
    }
  }

  // Hands out the last line, if text follows the last break.
  template <class OnLine>
  void finish(OnLine&& onLine) {
    if (!pending_.empty()) onLine(std::string_view(pending_));
    pending_.clear();
    afterCr_ = false;
  }

 private:
  static std::size_t findBreak(std::string_view chunk, std::size_t pos) {
    while (pos < chunk.size() && chunk[pos] != '\r' && chunk[pos] != '\n') ++pos;
    return pos;
  }

  template <class OnLine>
  void emit(std::string_view tail, OnLine& onLine) {
    if (pending_.empty()) {
      onLine(tail);
      return;
    }
    pending_.append(tail);
    onLine(std::string_view(pending_));
    pending_.clear();
  }

  std::string pending_;   // the start of a line that the next chunk goes on
  bool afterCr_ = false;  // the last chunk ended in CR
};

}  // namespace vesk
