#include "platform/x11/X11InputIdle.h"

#include "platform/x11/X11Backend.h"

namespace quorvel {

X11InputIdle::X11InputIdle(std::shared_ptr<X11Backend> backend) : backend_(std::move(backend)) {}

std::optional<double> X11InputIdle::secondsSinceLastEvent(Source) { return backend_->idleSeconds(); }

}  // namespace quorvel
