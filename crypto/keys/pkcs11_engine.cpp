// PKCS#11 security devices through OpenSSL's dynamic engine: an engine object
// that speaks PKCS#11 is loaded at run time and pointed at the device vendor's
// module; keys are then loaded through it by their key reference.
//
// This is the one file written against the ENGINE interface. OpenSSL 3
// deprecates it, but it is still the way to reach a device through an engine
// object, so its deprecation warnings are silenced here and nowhere else.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include "crypto/keys/pkcs11_engine.h"

#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/err.h>
#include <openssl/ui.h>

#include <quillseal/core.h>
#include <quillseal/crypto.h>

#include "config/conf_file_reader.h"
#include "core/base/guard.h"
#include "core/base/input_file.h"
#include "core/base/openssl_errors.h"
#include "crypto/keys/device_settings.h"

namespace {

// Process-wide: the loaded engine, 1 once it is initialised, and the
// fingerprint of the settings (engine, module, key reference, PIN) it was
// loaded with. One signing runs at a time per process, so nothing guards them.
ENGINE *_engine = nullptr;
int engine_inited = 0;
std::string loaded_settings;

// Fingerprints of the settings (engine, module, key reference, PIN) whose key the
// device refused since the last shutdown. They are not tried again before the
// next one, so that a wrong PIN costs one attempt per run and not one per
// document: a smart card locks itself after a few.
std::vector<std::string> refused_settings;

constexpr const char *kDevice = "PKCS11 SECURITY DEVICE";

void debug(SigningConfig *config, const char *text) { handle_debug_message(config, text); }

struct ControlCommand {
    const char *name;
    const char *value;
    const char *failure;  // the debug line when the engine refuses it
};

// SO_PATH, LIST_ADD and LOAD bring the engine object in through the dynamic
// loader; MODULE_PATH and PIN then point it at the device. The first refusal
// ends the sequence. An empty PIN is not sent: the engine would log in with
// it, and some devices count an empty login as a wrong try.
bool send_commands(SigningConfig *config, ENGINE *engine) {
    std::vector<ControlCommand> commands = {
        {"SO_PATH", config->engine, "command SO_PATH failed..."},
        {"LIST_ADD", "1", "command LIST_ADD failed..."},
        {"LOAD", nullptr, "command LOAD failed..."},
        {"MODULE_PATH", config->library, "command MODULE_PATH failed..."},
    };
    if (config->pin[0] != '\0') commands.push_back({"PIN", config->pin, "command PIN failed..."});
    for (const ControlCommand &command : commands) {
        if (!ENGINE_ctrl_cmd_string(engine, command.name, command.value, 0)) {
            debug(config, command.failure);
            return false;
        }
    }
    // Engines that print their own diagnostics would show a failed key
    // reference, and with it the PIN it carries, on standard error; those that
    // know the QUIET command are told to keep still, the others ignore it.
    ENGINE_ctrl_cmd_string(engine, "QUIET", nullptr, 1);
    ERR_clear_error();
    return true;
}

// Gives an engine back completely: out of the engine list, then its
// functional reference (when it was initialised) and its structural one. With
// the last reference the engine finishes and lets go of the device module, so
// a later registration starts afresh and a refused candidate leaves nothing
// behind.
void release(qs::EngineStructuralPtr engine, qs::EngineFunctionalPtr initialised) {
    ENGINE_remove(engine.get());  // not listed when LOAD never ran
    ERR_clear_error();
    initialised.reset();
    engine.reset();
}

// The engine object's code stays mapped once it has been loaded: engines set
// up process-wide methods on first use and do not take them down when they
// are unloaded, so a process that loads the engine again after each shutdown
// (the Java bridge does so around every signing) would lose memory each time.
// The engine itself is still released at shutdown, and the device module with it.
void keep_resident(const char *path) {
    if (!path[0]) return;
    if (void *handle = dlopen(path, RTLD_NOW | RTLD_NODELETE)) dlclose(handle);
}

void shutdown_engine() {
    if (engine_inited != 1) return;
    release(qs::EngineStructuralPtr(_engine), qs::EngineFunctionalPtr(_engine));
    ENGINE_cleanup();
    engine_inited = 0;
    _engine = nullptr;
    loaded_settings.clear();
}

std::string fingerprint(const SigningConfig *config) {
    return qs::settings_fingerprint({config->engine, config->library, config->p11key, config->pin});
}

// Loads the engine with the configuration's settings. An engine loaded with
// other settings is released first: the device session it keeps stays logged
// in, and must not sign for a configuration that names another key, module or
// PIN. The same settings reuse it, so a run over many documents loads it once.
int register_engine(SigningConfig *config) {
    const std::string settings = fingerprint(config);
    if (engine_inited == 1) {
        if (settings == loaded_settings) return 0;
        debug(config, "the pkcs11 engine was loaded with other settings; it is released and loaded again");
        shutdown_engine();
    }
    debug(config, "loading pkcs11 engine");
    keep_resident(config->engine);
    ENGINE_load_dynamic();
    debug(config, "ENGINE_load_dynamic() called");
    qs::EngineStructuralPtr engine(ENGINE_by_id("dynamic"));
    debug(config, "ENGINE_by_id() called");
    if (!engine) {
        debug(config, "engine is null...");
        ERR_clear_error();
        return -1;
    }
    if (!send_commands(config, engine.get())) {
        release(std::move(engine), nullptr);
        return -1;
    }
    if (!ENGINE_init(engine.get())) {
        debug(config, "ENGINE_init() failed...");
        release(std::move(engine), nullptr);
        return -1;
    }
    // The engine is not made the process's default RSA implementation: keys
    // loaded through it carry its methods anyway, and as the default every RSA
    // object of the process would hold the engine, the device module's own
    // when it is built on OpenSSL too. Those keep engine and module loaded
    // after shutdown, and loading them again in the same process then fails.
    _engine = engine.release();  // with its functional reference from ENGINE_init
    engine_inited = 1;
    loaded_settings = settings;
    debug(config, "loaded pkcs11 engine");
    return 0;
}

// The engine for a process whose default configuration file names a device
// (the Java bridge starts this way). Nothing happens without that file, and
// nothing the attempt reported is left in the message slot for the
// operation that follows.
void init_from_default_file() {
    bool not_regular = false;
    if (!qs::open_regular_file(qs::kDefaultConfFile, not_regular)) return;
    SigningConfig *raw = nullptr;
    const int rc = read_config("", &raw);
    std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
    if (rc == 0) {
        if (std::strcmp(config->certstore, kDevice) == 0) register_engine(config.get());
        return;
    }
    char discarded[256];
    handle_error_message(discarded, 0);
}

}  // namespace

namespace qs {

bool refused_before(SigningConfig *config) {
    const std::string settings = fingerprint(config);
    for (const std::string &refused : refused_settings) {
        if (refused == settings) {
            debug(config, "the device refused this key and PIN before; they are not tried again until shutdown");
            return true;
        }
    }
    return false;
}

EvpPkeyPtr load_engine_key(SigningConfig *config) {
    // A PIN that is missing or was refused is never asked for: a signing
    // server has nobody at its terminal, and a prompt would stall the run.
    UI_METHOD *no_prompt = const_cast<UI_METHOD *>(UI_null());
    EvpPkeyPtr key(_engine ? ENGINE_load_private_key(_engine, config->p11key, no_prompt, nullptr) : nullptr);
    // The engine hands the key out holding a reference to the engine, and
    // keeps that same key in its own cache: a cycle that would keep the engine
    // (and the device module) loaded after shutdown, so that loading it again
    // fails. The key signs through its own methods without that reference.
    if (key) EVP_PKEY_set1_engine(key.get(), nullptr);
    std::string why = openssl_errors();
    if (!key) {
        // The engine's own reasons go to the debug log, unless they quote the PIN.
        if (config->pin[0] && why.find(config->pin) != std::string::npos) why = "reasons withheld";
        debug(config, ("no key from the device [" + why + "]; the pkcs11 engine is released").c_str());
        refused_settings.push_back(fingerprint(config));
        shutdown_engine();
    }
    return key;
}

}  // namespace qs

extern "C" {

QS_API int pkcs11engine_register(SigningConfig *config) {
    return qs::guarded([&]() -> int { return config ? register_engine(config) : -1; });
}

QS_API void pkcs11engine_init(void) {
    qs::guarded([] { init_from_default_file(); });
}

QS_API void pkcs11engine_shutdown(void) {
    qs::guarded([] {
        shutdown_engine();
        refused_settings.clear();
    });
}

}  // extern "C"
