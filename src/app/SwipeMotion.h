#pragma once

namespace quorvel {

// A recognised trackpad swipe.
enum class SwipeMotion { up, down, sideways };

}  // namespace quorvel
