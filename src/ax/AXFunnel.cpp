#include "ax/AXFunnel.h"

namespace quorvel {

AXFunnel::AXFunnel(Runtime& runtime) : queue_(runtime.makeSerialQueue(kLabel, QueueQos::userInitiated)) {}

}  // namespace quorvel
