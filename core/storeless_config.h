// The configuration of an operation that needs no key store (adding LTV
// data, a document timestamp): its network, cache and log settings.
#pragma once

#include <memory>

#include <quillseal/config.h>

namespace qs {

using ConfigPtr = std::unique_ptr<SigningConfig, decltype(&free_config)>;

// The configuration read as every operation reads it; one that lacks a key
// store, or cannot be read at all, is no failure: its message is dropped and
// the defaults hold. Null only when memory runs out (reported).
ConfigPtr read_storeless_config(const char *configuration);

}  // namespace qs
