#include "config/setting.h"

#include "config/include.h"
#include "platform/platform.h"
#include "support/trace.h"
#include "yaml/kesoyaml.h"

namespace vesk {
namespace {

using kesoyaml::NodeRef;
using kesoyaml::YamlError;

void requireScalar(const NodeRef& value, const std::string& name) {
  if (!value->isScalar()) {
    throw SettingException("cannot use array or assoc for indicating a factor of " + name);
  }
}

// A name that holds a NUL byte would reach the system cut short, so vesk
// would read or write another file than the one named.
void requireNoNul(const std::string& name, const std::string& key) {
  if (name.find('\0') != std::string::npos) {
    throw SettingException("cannot use a NUL byte in a file name of " + key);
  }
}

void readIncludes(VESKEnv& env, const NodeRef& value) {
  if (!value->isArray()) throw SettingException("can use only array for includes");
  for (const NodeRef& element : value->asArray()) {
    if (!element->isScalar()) {
      throw SettingException("cannot use array for indicating a factor of includes");
    }
    std::string text = platform::fromMultiByte(element->asString());
    requireNoNul(text, "includes");
    std::optional<FileSpec> spec = parseInclude(text);
    // The command line refuses the same text as a usage error.
    if (!spec)
      throw SettingException("not a file name with an optional number in includes: " + text);
    VESK_TRACE("includes %.*s:%.*s\n", platform::toMultiByte(spec->file), spec->number);
    env.addInclude(spec->file, spec->number);
  }
}

void readVariables(VESKEnv& env, const NodeRef& value) {
  if (value->isScalar()) {
    env.setOption("variables", value->asString());
  } else if (value->isAssoc()) {
    // Walked in place: a copy of a mapping with many variables costs as much
    // as reading them.
    for (const auto& [name, node] : static_cast<const kesoyaml::YamlAssoc&>(*value).entries()) {
      requireScalar(node, name);
      env.setVariable(name, static_cast<const kesoyaml::YamlScalar&>(*node).text());
    }
  } else {
    requireScalar(value, "variables");
  }
}

void readEntry(VESKEnv& env, const std::string& key, const NodeRef& value) {
  VESK_TRACE("get prop %.*s\n", key);
  if (key == "d" || key == "ext" || key == "doextract" || key == "doifmodified") {
    requireScalar(value, key);
    if (key == "d") requireNoNul(value->asString(), key);
    env.setOption(key, value->asString());
  } else if (key == "includes") {
    readIncludes(env, value);
  } else if (key == "variables") {
    readVariables(env, value);
  }
  // Every other key ("sync", "setting", "version" among them) is ignored.
}

// The root's "vesk" mapping. A document with no root at all reads like an
// empty one: it lacks the key.
NodeRef settingsNode(const std::string& file) {
  NodeRef root = kesoyaml::loadYaml(file);
  if (!root) root = std::make_shared<kesoyaml::YamlAssoc>();
  return root->item("vesk");
}

}  // namespace

std::optional<VESKEnv> loadSetting(const std::string& file) {
  if (platform::fileKind(file) == platform::FileKind::Missing) return std::nullopt;
  VESKEnv env;
  try {
    NodeRef settings = settingsNode(file);
    // Settings that are not a mapping would otherwise run with defaults and
    // convert something the user did not ask for.
    if (!settings->isAssoc()) throw SettingException("can use only assoc for vesk");
    VESK_TRACE("loaded\n");
    VESK_TRACE("get vesk\n");
    // A SettingException of one entry passes out as it is; only the reader's
    // errors are reported as a bad format.
    for (const auto& [key, value] : settings->asAssoc()) readEntry(env, key, value);
  } catch (const YamlError& e) {
    throw SettingException("bad YAML format\r\n" + e.message());
  }
  return env;
}

}  // namespace vesk
