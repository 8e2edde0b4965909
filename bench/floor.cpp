// The calibration loop of the conversion row: the least a program can do to
// turn the benchmark's source into vesk's output. It reads 128 KiB at a time,
// ends every LF line with CR LF, replaces each "${v}" with the value and
// writes 128 KiB at a time, on one thread, with nothing else: no temporary
// file, no general line breaks, no reference rules, no variable table.
//
//   floor SOURCE OUTPUT VALUE
//
// Its output equals vesk's for sources with LF line ends, a line feed at the
// end and no other "${".
// Being a measuring tool, not part of vesk, it calls the system directly.

#include <emmintrin.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kSize = std::size_t{1} << 17;

void fail(const char* what) {
  std::perror(what);
  std::exit(1);
}

struct Output {
  int fd;
  std::vector<char> buffer = std::vector<char>(kSize);
  std::size_t used = 0;

  void flush() {
    for (std::size_t done = 0; done < used;) {
      ssize_t n = ::write(fd, buffer.data() + done, used - done);
      if (n < 0) fail("write");
      done += static_cast<std::size_t>(n);
    }
    used = 0;
  }
  // Fills the buffer to the brim before writing it, so that every write
  // covers whole pages of the file.
  void put(std::string_view piece) {
    while (piece.size() > kSize - used) {
      std::size_t part = kSize - used;
      std::memcpy(buffer.data() + used, piece.data(), part);
      used = kSize;
      piece.remove_prefix(part);
      flush();
    }
    std::memcpy(buffer.data() + used, piece.data(), piece.size());
    used += piece.size();
  }
};

// Copies the text up to each line feed, then CR LF, and each "${v}" as the
// value. The line feeds and dollars are found sixteen bytes at a time.
class Rewriter {
 public:
  Rewriter(Output& out, std::string_view value) : out_(out), value_(value) {}

  // Rewrites text up to its last line feed; returns where the rest begins.
  std::size_t rewrite(std::string_view text) {
    std::size_t from = 0;
    for (std::size_t block = 0; block + 16 <= text.size(); block += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + block));
      __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('$')));
      for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0;
           mask &= mask - 1) {
        std::size_t at = block + static_cast<std::size_t>(__builtin_ctz(mask));
        if (at >= from) from = hit(text, at, from);
      }
    }
    return from;
  }

  // The end of the source, after rewrite().
  void finish(std::string_view text, std::size_t from) {
    for (std::size_t at = from; at < text.size(); ++at) {
      if (at >= from && (text[at] == '\n' || text[at] == '$')) from = hit(text, at, from);
    }
    out_.put(text.substr(from));
  }

 private:
  // A line feed or a dollar at `at`, the text from `from` not yet written;
  // returns where the unwritten text begins now.
  std::size_t hit(std::string_view text, std::size_t at, std::size_t from) {
    if (text[at] == '\n') {
      out_.put(text.substr(from, at - from));
      out_.put("\r\n");
      return at + 1;
    }
    if (text.substr(at, 4) != "${v}") return from;
    out_.put(text.substr(from, at - from));
    out_.put(value_);
    return at + 4;
  }

  Output& out_;
  std::string_view value_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: floor SOURCE OUTPUT VALUE\n");
    return 2;
  }
  int in = ::open(argv[1], O_RDONLY);
  if (in < 0) fail(argv[1]);
  Output out{::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666)};
  if (out.fd < 0) fail(argv[2]);
  // Each chunk starts with the unfinished line of the one before.
  std::vector<char> chunk(2 * kSize);
  Rewriter rewriter(out, argv[3]);
  std::size_t kept = 0;
  for (;;) {
    ssize_t got = ::read(in, chunk.data() + kept, kSize);
    if (got < 0) fail("read");
    std::size_t size = kept + static_cast<std::size_t>(got);
    std::string_view text(chunk.data(), size);
    if (got == 0) {
      rewriter.finish(text, 0);
      break;
    }
    std::size_t done = rewriter.rewrite(text);
    if (size - done > kSize) {
      // A line longer than a chunk: its start goes out as it is.
      rewriter.finish(text.substr(0, done + kSize), done);
      done += kSize;
    }
    kept = size - done;
    std::memmove(chunk.data(), chunk.data() + done, kept);
  }
  out.flush();
  if (::close(out.fd) != 0) fail("close");
  ::close(in);
  return 0;
}
