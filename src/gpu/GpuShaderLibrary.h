#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "gpu/GpuResources.h"

namespace quorvel {

// The program's compiled shaders (SPIR-V made from shaders/ at build time and built into the
// program), and a device's view of them. `makeFunction` answers none for a name the library does
// not hold or a module the device rejects.
class GpuShaderLibrary {
 public:
  virtual ~GpuShaderLibrary() = default;
  virtual std::shared_ptr<GpuShaderFunction> makeFunction(std::string_view name) = 0;

  // The SPIR-V words of a built-in shader, empty when there is none of that name.
  static std::span<const uint32_t> builtInCode(std::string_view name);
};

}  // namespace quorvel
