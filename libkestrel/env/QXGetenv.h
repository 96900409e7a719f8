// Environment settings: our settings file first (the registry of the
// desktop platform), then the process environment.
#pragma once

namespace kestrel {

// The only root the settings file models.
enum class RegistryRoot { LocalMachine };

// Sub-key (INI section) holding the tools library's environment settings.
inline constexpr const char* kEnvironmentKey = "SOFTWARE\\BRINDLE WORKS\\ENVIRONMENT";
// Variable naming the settings file, and the file used when it is unset.
inline constexpr const char* kRegistryFileVariable = "KESTREL_REGISTRY";
inline constexpr const char* kDefaultRegistryFile = "/etc/brindleworks/environment.ini";

}  // namespace kestrel

// The value `name` of section `subKey` of the settings file when present and
// shorter than 256 bytes, else getenv(name); null when neither exists. The
// text lives in a per-thread buffer (or the environment) and stays valid until
// the next call on the same thread.
const char* QXGetKey(kestrel::RegistryRoot root, const char* subKey, const char* name);
// QXGetKey of the local-machine environment key.
const char* QXGetenv(const char* name);
