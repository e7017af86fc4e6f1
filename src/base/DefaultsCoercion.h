#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace quorvel {

// How a stored value reads as each type, for the typed reads of the defaults store (DefaultsStore,
// whose header gives the rules). Plain functions of the value alone.
class DefaultsCoercion {
 public:
  static bool boolOf(const nlohmann::json& value);
  static int64_t integerOf(const nlohmann::json& value);
  static double doubleOf(const nlohmann::json& value);
  static std::optional<std::string> stringOf(const nlohmann::json& value);
};

}  // namespace quorvel
