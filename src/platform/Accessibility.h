#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AXElement.h"
#include "platform/AXError.h"
#include "platform/AXValue.h"
#include "platform/AXWindowFacts.h"

namespace quorvel {

class Executor;

// An Accessibility observer for one process: notifications registered on its elements are delivered
// to its callback on the executor it is scheduled on (the observer thread's run loop).
class AXObserver {
 public:
  using Callback = std::function<void(const AXElementRef& element, const std::string& notification,
                                      void* context)>;
  virtual ~AXObserver() = default;
  virtual AXError addNotification(const AXElementRef& element, const std::string& notification,
                                  void* context) = 0;
  virtual AXError removeNotification(const AXElementRef& element, const std::string& notification) = 0;
  // Adds the observer's source to a run loop (deliveries start), or takes it off (they stop; a
  // delivery already running finishes first when this is called on that run loop's thread).
  virtual void schedule(Executor& runLoop) = 0;
  virtual void unschedule() = 0;
};

// The first members of a list attribute (those that are elements), and how long the whole list is.
struct AXElementList {
  AXError error = AXError::success;
  std::vector<AXElementRef> elements;
  size_t total = 0;  // members in all, the ones not handed back included
  bool ok() const { return error == AXError::success; }
};

// The Accessibility service: trust, elements of other applications, attributes, actions,
// observers. Calls on other applications' elements may block for as long as the application takes
// to answer (up to the element's messaging time-out); the core makes them on the serial
// Accessibility queue only.
class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // Whether this process may use Accessibility; with `prompt`, the platform may ask the user.
  virtual bool isProcessTrusted() = 0;
  virtual bool isProcessTrustedWithPrompt(bool prompt) = 0;

  virtual AXElementRef applicationElement(int32_t pid) = 0;
  virtual AXAttributeResult copyAttributeValue(const AXElementRef& element, const std::string& attribute) = 0;
  // Several attributes in one round trip; one result per name, in order.
  virtual std::vector<AXAttributeResult> copyMultipleAttributeValues(const AXElementRef& element,
                                                                     const std::vector<std::string>& attributes) = 0;
  virtual AXError copyAttributeNames(const AXElementRef& element, std::vector<std::string>& names) = 0;
  // At most `maxCount` members of a list attribute, from the first, and the length of the list:
  // for long lists whose every member would cost a call. A backend that must ask each object
  // whether it belongs to the list (a tab strip's tabs among its other children) stops asking once
  // it has `maxCount`, and counts the objects it did not ask as members. The default reads the
  // whole list; a value that is not a list answers attributeUnsupported.
  virtual AXElementList copyElements(const AXElementRef& element, const std::string& attribute, size_t maxCount);
  virtual AXError setAttributeValue(const AXElementRef& element, const std::string& attribute,
                                    const AXValue& value) = 0;
  virtual AXError performAction(const AXElementRef& element, const std::string& action) = 0;
  // Whether a client may write the attribute of the element. By default the backend cannot tell
  // (attributeUnsupported, not settable).
  virtual AXError isAttributeSettable(const AXElementRef& /*element*/, const std::string& /*attribute*/,
                                      bool& settable) {
    settable = false;
    return AXError::attributeUnsupported;
  }
  // The longest an application may take to answer calls on this element (0 = the system default).
  virtual AXError setMessagingTimeout(const AXElementRef& element, float seconds) = 0;
  // The process that owns the element.
  virtual std::optional<int32_t> pid(const AXElementRef& element) = 0;
  // The window number of a window element (none on failure or for other elements).
  virtual std::optional<uint32_t> windowNumber(const AXElementRef& element) = 0;

  virtual std::pair<AXError, std::shared_ptr<AXObserver>> createObserver(int32_t pid,
                                                                         AXObserver::Callback callback) = 0;

  // ---- Typed reads, made of the calls above (a backend may answer them more directly) ----

  // The windows of one application that have a window number, in the application's order, with
  // their minimized flag and subrole, and their frames and titles when `wanted` asks: one
  // "AXWindows" read, then one window-number read and one several-attribute read per window.
  // None when the application or its window list cannot be read.
  virtual std::optional<std::vector<AXWindowFacts>> applicationWindows(int32_t pid, AXWindowFacts::Wanted wanted);
  // An element's frame ("AXPosition" and "AXSize") in global top-left coordinates; none when either
  // is unreadable or not an Accessibility value, or the size is not positive in both directions.
  std::optional<Rect> frame(const AXElementRef& element);
  // An attribute read as text, as one element, or as a list of elements (non-elements skipped);
  // none when unreadable or of another type.
  std::optional<std::string> stringAttribute(const AXElementRef& element, const std::string& attribute);
  AXElementRef elementAttribute(const AXElementRef& element, const std::string& attribute);
  std::optional<std::vector<AXElementRef>> elementsAttribute(const AXElementRef& element,
                                                             const std::string& attribute);

  // The frame that a position and a size read make (the rule of `frame`).
  static std::optional<Rect> frameOf(const AXAttributeResult& position, const AXAttributeResult& size);
};

}  // namespace quorvel
