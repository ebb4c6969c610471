#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrivan::posix {

inline constexpr const char* kUnitName = "ostrivan.service";
inline constexpr const char* kParametersName = "ostrivan.parameters";
inline constexpr const char* kDefaultUnitDirectory = "/etc/systemd/system";

// A path as one double-quoted word of an ExecStart line: quotes, backslashes and control
// characters escaped, and '%' and '$' doubled so that systemd expands nothing in it.
std::string ExecStartWord(std::string_view path);

// A path as one double-quoted word of a path list such as ReadWritePaths: quotes and
// backslashes escaped, '%' doubled; none for a path with a control character, which such a
// list cannot hold.
std::optional<std::string> PathListWord(std::string_view path);

// The unit that runs `executable` as a notify service. KillMode=mixed: when the unit stops,
// only the service is signalled, and it ends its suite itself. The restrictions
// at the end of [Service] leave the suite what monitoring needs.
std::string UnitFileText(std::string_view description, std::string_view executable);

// `existing` (the text of the parameter file, possibly empty) with `key` set to `value` in
// `[section]`; other sections and keys are kept as they stand.
std::string WithParameter(std::string_view existing, std::string_view section, std::string_view key,
                          std::string_view value);

} // namespace ostrivan::posix
