// INI profile files with the platform's profile semantics: sections and keys
// compared without case, integers read as an optional sign and leading
// digits, strings cut to a stated maximum length. Writes are atomic (temp
// file in the same directory, fsync, rename) and serialised across
// processes, and a write that changes nothing touches no file. Values are
// stored byte for byte (scrambled passwords hold bytes 0x80-0xFF).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::profile {

// The value of `key`, or nullopt when the file, section or key is absent.
std::optional<std::string> Read(const std::string& file, std::string_view section, std::string_view key);

// GetPrivateProfileString: the value (or `fallback`) cut to `maxLength` bytes.
std::string GetString(const std::string& file, std::string_view section, std::string_view key,
                      std::string_view fallback, std::size_t maxLength = 255);

// GetPrivateProfileInt: optional blanks and sign, then leading digits;
// `fallback` when the key is absent; 0 when present without digits.
int GetInt(const std::string& file, std::string_view section, std::string_view key, int fallback);

// WritePrivateProfileString; creates the file and section when needed.
// Returns false (errno set) when the file could not be written.
bool WriteString(const std::string& file, std::string_view section, std::string_view key, std::string_view value);
bool WriteInt(const std::string& file, std::string_view section, std::string_view key, int value);

// Removes one key (the platform's write with no value).
bool DeleteKey(const std::string& file, std::string_view section, std::string_view key);
// Removes a whole section.
bool DeleteSection(const std::string& file, std::string_view section);

// Key names of a section, in file order.
std::vector<std::string> KeyNames(const std::string& file, std::string_view section);
// Section names, in file order.
std::vector<std::string> SectionNames(const std::string& file);

}  // namespace kestrel::profile
