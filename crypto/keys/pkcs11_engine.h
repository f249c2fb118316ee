// PKCS#11 security devices through OpenSSL's dynamic engine: pointed at the
// device vendor's module and loaded once for one set of settings (engine,
// module, key reference, PIN), loaded again for other settings, released at
// shutdown.
#pragma once

#include <quillseal/config.h>

#include "core/base/handles.h"

namespace qs {

// True when the device refused the key of these settings (engine, module, key
// reference, PIN) since the last shutdown: they are not tried again before the
// next one, so that a wrong PIN cannot lock a card one document at a time.
bool refused_before(SigningConfig *config);

// The private key the configuration's key reference (p11key) names, loaded
// through the registered engine; nothing when the device gives no key. After
// such a failure the engine is released, so that the next signing loads it
// afresh with its own module path and PIN instead of a refused one.
EvpPkeyPtr load_engine_key(SigningConfig *config);

}  // namespace qs
