#pragma once

namespace quorvel {

// Outcome of an Accessibility call on another application's element.
enum class AXError {
  success,
  failure,
  illegalArgument,
  invalidElement,       // the element is gone
  invalidObserver,
  cannotComplete,       // the application did not answer (messaging time-out) or is busy
  attributeUnsupported,
  actionUnsupported,
  notificationUnsupported,
  notImplemented,
  notificationAlreadyRegistered,
  notificationNotRegistered,
  apiDisabled,          // the process is not trusted for Accessibility
  noValue,
};

// The platform's numeric code of an error, for log sentences ("... (-25204)").
constexpr int axErrorCode(AXError e) {
  switch (e) {
    case AXError::success: return 0;
    case AXError::failure: return -25200;
    case AXError::illegalArgument: return -25201;
    case AXError::invalidElement: return -25202;
    case AXError::invalidObserver: return -25203;
    case AXError::cannotComplete: return -25204;
    case AXError::attributeUnsupported: return -25205;
    case AXError::actionUnsupported: return -25206;
    case AXError::notificationUnsupported: return -25207;
    case AXError::notImplemented: return -25208;
    case AXError::notificationAlreadyRegistered: return -25209;
    case AXError::notificationNotRegistered: return -25210;
    case AXError::apiDisabled: return -25211;
    case AXError::noValue: return -25212;
  }
  return -25200;
}

}  // namespace quorvel
