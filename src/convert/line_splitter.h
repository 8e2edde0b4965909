// Splits a byte stream that arrives in chunks into lines. A line ends at
// CR LF, at a lone CR or at a lone LF; the break is not part of the line.
// Text after the last break is a last line, a break at the very end starts
// no further line, and an empty stream has no lines.
//
// A line that lies inside one chunk is handed out as a view into that chunk;
// only a line that spans chunks is gathered in a buffer, which keeps its
// capacity, so the steady state allocates nothing.
//
// While it looks for the breaks, the splitter also notes where each line has
// its first '$' and its last '}', the two bytes that delimit a ${name}
// reference, so that most lines need no second look.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "convert/byte_mask.h"

namespace vesk {

// Positions within a line; npos when the line has no such byte.
struct LineMarks {
  std::size_t firstDollar = std::string_view::npos;
  std::size_t lastBrace = std::string_view::npos;
};

class LineSplitter {
 public:
  // Calls onLine(std::string_view line, const LineMarks& marks) for every
  // line that the chunk completes.
  template <class OnLine>
  void feed(std::string_view chunk, OnLine&& onLine) {
    if (chunk.empty()) return;
    std::size_t start = 0;  // where the current line's text in chunk begins
    if (afterCr_) {
      // The previous chunk ended in CR; an LF here belongs to that break.
      afterCr_ = false;
      if (chunk.front() == '\n') start = 1;
    }
    Marks marks;                  // of the current line, as positions in chunk
    std::size_t afterCr = kNone;  // the position after the latest CR
    for (std::size_t block = start; block < chunk.size(); block += kMaskBlock) {
      std::uint64_t hits = maskAt(chunk, block);
      while (hits != 0) {
        std::size_t at = block + static_cast<std::size_t>(std::countr_zero(hits));
        hits &= hits - 1;
        char byte = chunk[at];
        if (byte == '$') {
          if (marks.firstDollar == kNone) marks.firstDollar = at;
        } else if (byte == '}') {
          marks.lastBrace = at;
        } else if (byte == '\n' && at == afterCr) {
          start = at + 1;  // the LF of a CR LF
        } else {
          emit(chunk.substr(start, at - start), marks.relativeTo(start), onLine);
          marks = Marks();
          start = at + 1;
          if (byte == '\r') afterCr = start;
        }
      }
    }
    afterCr_ = afterCr == chunk.size();
    if (start < chunk.size()) gather(chunk.substr(start), marks.relativeTo(start));
  }

  // Hands out the last line, if text follows the last break.
  template <class OnLine>
  void finish(OnLine&& onLine) {
    if (!pending_.empty()) onLine(std::string_view(pending_), pendingMarks_);
    pending_.clear();
    pendingMarks_ = LineMarks();
    afterCr_ = false;
  }

 private:
  static constexpr std::size_t kNone = std::string_view::npos;

  struct Marks {
    std::size_t firstDollar = kNone;
    std::size_t lastBrace = kNone;
    LineMarks relativeTo(std::size_t start) const {
      LineMarks m;
      if (firstDollar != kNone) m.firstDollar = firstDollar - start;
      if (lastBrace != kNone) m.lastBrace = lastBrace - start;
      return m;
    }
  };

  // The mask of breaks, '$' and '}' in the 64 bytes of chunk from pos on; a
  // short last block is copied into a padded one first.
  static std::uint64_t maskAt(std::string_view chunk, std::size_t pos) {
    std::size_t left = chunk.size() - pos;
    if (left >= kMaskBlock) return blockMask<'\n', '\r', '$', '}'>(chunk.data() + pos);
    char padded[kMaskBlock] = {};
    std::memcpy(padded, chunk.data() + pos, left);
    return blockMask<'\n', '\r', '$', '}'>(padded) & ((std::uint64_t{1} << left) - 1);
  }

  // Appends the start of a line that the next chunk goes on.
  void gather(std::string_view part, const LineMarks& marks) {
    std::size_t offset = pending_.size();
    if (pendingMarks_.firstDollar == kNone && marks.firstDollar != kNone) {
      pendingMarks_.firstDollar = offset + marks.firstDollar;
    }
    if (marks.lastBrace != kNone) pendingMarks_.lastBrace = offset + marks.lastBrace;
    pending_.append(part);
  }

  template <class OnLine>
  void emit(std::string_view tail, const LineMarks& marks, OnLine& onLine) {
    if (pending_.empty()) {
      onLine(tail, marks);
      return;
    }
    gather(tail, marks);
    onLine(std::string_view(pending_), pendingMarks_);
    pending_.clear();
    pendingMarks_ = LineMarks();
  }

  std::string pending_;     // the start of a line that the next chunk goes on
  LineMarks pendingMarks_;  // its marks
  bool afterCr_ = false;    // the last chunk ended in CR
};

}  // namespace vesk
