#include "windows/RegistryState.h"

#include "tabs/TabIdentityStore.h"

namespace quorvel {

RegistryState::RegistryState() : tabIdentity_(std::make_unique<TabIdentityStore>()) {}

RegistryState::~RegistryState() = default;

}  // namespace quorvel
