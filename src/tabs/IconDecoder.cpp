#include "tabs/IconDecoder.h"

namespace quorvel {

std::string_view IconDecoder::describe(Failure failure) {
  switch (failure) {
    case Failure::empty:
      return "no image bytes";
    case Failure::unsupported:
      return "not an icon image format";
    case Failure::tooLarge:
      return "larger than a site icon may be";
    case Failure::undecodable:
      return "corrupt, truncated or over the decoding memory limit";
    case Failure::emptyImage:
      return "an image of no size";
    case Failure::tooSlow:
      return "given up after decoding for longer than a site icon may take";
  }
  return "unknown";
}

}  // namespace quorvel
