// The commit of an output, put in order over each platform's steps
// (output.h): examine once, write a private temporary, give it what the
// output keeps, check that the name still leads to what was examined, and
// rename. docs/commit.md says what each step promises.
#include <optional>

#include "base/exception.h"
#include "platform/output.h"

namespace vesk::platform {
namespace {

// Gives the finished temporary its metadata and renames it over the file
// examined, examining again while the name changes under it.
void commitTemporary(OutputSite& site, const Origin& origin, const Times& times) {
  for (int examined = 1;; ++examined) {
    site.giveMetadata(origin, times);
    site.seal();
    if (site.stillExamined()) break;
    if (examined == kExaminations) {
      throw FileException(site.target(), "Resource temporarily unavailable");
    }
  }
  site.rename();
}

}  // namespace

struct AtomicFile::State {
  explicit State(const std::string& target) : site(target) {}
  OutputSite site;
  std::optional<FileStamps> stamps;
  bool committed = false;
};

AtomicFile::AtomicFile(const std::string& target) : state_(std::make_unique<State>(target)) {
  if (state_->site.inPlace()) {
    state_->site.openInPlace();
  } else {
    state_->site.createTemporary();
  }
}

AtomicFile::~AtomicFile() = default;

const std::string& AtomicFile::target() const { return state_->site.target(); }

const std::string& AtomicFile::temporary() const { return state_->site.temporaryName(); }

void AtomicFile::write(const char* data, std::size_t size) {
  if (state_->committed) throw FileException(target(), "Bad file descriptor");
  state_->site.write(data, size);
}

void AtomicFile::setStamps(const FileStamps& stamps) { state_->stamps = stamps; }

void AtomicFile::commit() {
  if (state_->committed) return;
  // Whatever happens below, the temporary is gone afterwards.
  state_->committed = true;
  OutputSite& site = state_->site;
  if (site.inPlace()) {
    site.closeInPlace();
    return;
  }
  Times times;
  if (const auto& stamps = state_->stamps) times = {true, true, *stamps};
  commitTemporary(site, Origin{}, times);
}

void copyFileAtomic(const std::string& source, const std::string& target, bool syncStamps) {
  // The source is opened first, so that a missing one leaves no temporary,
  // and closed before the rename, which Windows refuses over an open file.
  std::optional<InputFile> in(std::in_place, source);
  OutputSite site(target);
  if (site.inPlace()) {
    site.openInPlace();
    site.copyFrom(*in);
    site.closeInPlace();
    return;
  }
  site.createTemporary();
  site.copyFrom(*in);
  const Origin origin = OutputSite::originOf(*in);
  // Without -sync the copy keeps the source's last write as it is.
  Times times;
  if (syncStamps) times = {true, true, OutputSite::stampsOf(*in)};
  in.reset();
  commitTemporary(site, origin, times);
}

}  // namespace vesk::platform
