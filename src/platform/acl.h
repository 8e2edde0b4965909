// POSIX access control lists in the form the kernel stores them as extended
// attributes ("system.posix_acl_access", "system.posix_acl_default"): a
// version word, then entries of tag, permissions and id, all little-endian.
// Pure functions over those bytes, so that they are tested on every
// platform. Private to src/platform/.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform::acl {

// The access ACL that a file created with `mode` gets from its directory's
// default ACL `defaults`, as the kernel makes it: the owner's and others'
// entries, and the mask (or, without one, the owning group's entry), keep
// only what `mode` grants. nullopt when `defaults` is not a well-formed ACL.
std::optional<std::string> inherited(std::string_view defaults, unsigned mode);

// The permission bits (0777) that an ACL shows as the file's mode: the
// owner's entry, the mask or else the owning group's entry, and others'.
// nullopt when `entries` is not a well-formed ACL.
std::optional<unsigned> modeOf(std::string_view entries);

}  // namespace vesk::platform::acl
