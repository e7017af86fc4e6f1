#pragma once

namespace quorvel {

// How a dismiss key (Escape or the cancel key) seen by the global shortcut tap is handled; the raw
// value is what the shortcut manager hands the overlay.
enum class DismissKeyRoute : int {
  notADismissKey = 0,
  localRouteOwnsIt = 1,  // an overlay window holds the keyboard: the key is delivered to it
  tapMustHandleIt = 2,   // no overlay window holds the keyboard: the tap swallowed it
};

}  // namespace quorvel
