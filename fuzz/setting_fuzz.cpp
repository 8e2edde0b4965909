// Feeds arbitrary setting files to the setting-file reader and builds the job
// from what it yields. Every file must give settings, nothing, or one of
// vesk's own exceptions; a YAML error of the reader must come out as the
// "bad YAML format" report with the reader's message. A crash, a sanitizer
// report, a failed run-time check or a foreign exception is a finding.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/setting.h"
#include "convert/vesk.h"
#include "support/output.h"
#include "yaml/kesoyaml.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// One file, rewritten for every input, in a private directory that is
// removed at exit. The names are kept on the heap, out of reach of the static
// destructors that run before the exit handler.
const std::string& settingFile() {
  static const std::string* dir = nullptr;
  static const std::string* file = nullptr;
  if (file == nullptr) {
    const char* base = std::getenv("TMPDIR");
    std::string name =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vesk-fuzz-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    dir = new std::string(name);
    file = new std::string(name + "/veskenv.yml");
    std::atexit([] {
      std::remove(file->c_str());
      ::rmdir(dir->c_str());
    });
  }
  return *file;
}

void writeFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  require(f != nullptr);
  require(std::fwrite(data, 1, size, f) == size);
  require(std::fclose(f) == 0);
}

// The reader's own verdict on the text, or "" when it reads. The file's bytes
// are terminated as loadYaml terminates them, whatever their last byte is.
std::string yamlError(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.push_back('\0');
  try {
    kesoyaml::parseText(std::move(text));
  } catch (const kesoyaml::YamlError& e) {
    return e.message();
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& file = settingFile();
  writeFile(file, data, size);
  std::string parseError = yamlError(data, size);

  vesk::OutputCapture capture;  // the trace build's lines
  std::optional<vesk::VESKEnv> env;
  try {
    env = vesk::loadSetting(file);
  } catch (const vesk::SettingException& e) {
    const std::string badFormat = "Invalid Setting File - bad YAML format\r\n";
    if (!parseError.empty()) require(e.message() == badFormat + parseError);
    return 0;
  } catch (const vesk::CheckException&) {
    std::abort();
  }
  require(parseError.empty());
  if (!env) return 0;
  // A name with a NUL byte would reach the system cut short.
  for (const auto& entry : env->includes()) {
    require(!entry.first.empty() && entry.first.front() == '/');
    require(entry.first.find('\0') == std::string::npos);
  }
  if (const std::string* dir = env->options().find("d"))
    require(dir->find('\0') == std::string::npos);
  try {
    std::unique_ptr<vesk::VESK> job = vesk::VESK::fromEnv(*env);
    for (const auto& entry : job->settings().includes) require(entry.second >= vesk::kAutoNumber);
  } catch (const vesk::CheckException&) {
    std::abort();
  } catch (const vesk::Exception&) {
    // Version request, unknown option, bad number: the run's one message.
  }
  return 0;
}
