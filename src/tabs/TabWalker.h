#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ax/AXHandle.h"
#include "base/Geometry.h"
#include "platform/AXElement.h"
#include "platform/Accessibility.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabRecord.h"

namespace quorvel {

// Reads the tab strip of one host window through Accessibility, as the window's adapter describes
// it. Every call blocks on another application's Accessibility server, so it runs on the serial
// Accessibility queue, one at a time. The cost of a walk is bounded whatever the application
// answers: the strip's list is read no further than kMaxTabs tabs, and a walk whose calls time out
// gives up after kMaxTimeouts of them (an empty walk, not to be cached), so that one application
// that does not answer holds the queue for seconds, not for one time-out per tab. No state of its
// own beyond the services it was given and the time-outs of the call in progress; the only lasting
// effect of a walk is the nudge record.
class TabWalker {
 public:
  // The result of walking one host window.
  struct Walk {
    std::vector<TabRecord> tabs;               // strip order, at most kMaxTabs
    int dropped = 0;                           // tabs beyond kMaxTabs left out
    bool mayCache = true;                      // the answer is complete enough to be kept
    std::optional<Rect> hostFrame;             // read only when frames were asked for
    std::optional<std::string> accessibleTitle;  // read only when the title was asked for
  };

  // The titles of a set of windows.
  struct WindowTitles {
    std::unordered_map<uint32_t, std::string> titles;  // window number -> non-empty title
    bool mayCache = true;
  };

  static constexpr size_t kMaxTabs = 200;
  static constexpr size_t kMaxLevels = 8;      // the window and seven levels below it
  static constexpr size_t kMaxElements = 600;  // examined in the container search
  static constexpr float kMessagingTimeout = 0.5f;
  static constexpr int kMaxTimeouts = 3;  // calls of one walk or title read that time out before it gives up

  TabWalker(Accessibility& accessibility, TabAdapter::NudgeRecord& nudges);

  Walk walk(const AXHandle& window, int32_t pid, const TabAdapter& adapter, bool readTitle, bool readFrames);
  WindowTitles readWindowTitles(const std::vector<std::pair<uint32_t, AXHandleRef>>& windows, int32_t pid,
                                bool nudgeFirst);

  // A title without its trailing memory-use annotation ("Mail - Memory usage - 1,5 GB" -> "Mail").
  static std::string stripMemoryAnnotation(std::string_view title);
  // Whether a fragment reads as a memory figure: a number with at most one separator and a unit.
  static bool isMemoryFigure(std::string_view fragment);

  // An attribute as a list of elements (none when unreadable or not a list; non-elements skipped).
  std::optional<std::vector<AXElementRef>> elements(const AXElementRef& element, const std::string& attribute);
  // An attribute as text (none when unreadable or not text).
  std::optional<std::string> string(const AXElementRef& element, const std::string& attribute);

  // The tab elements of the window's strip, in strip order: at most kMaxTabs, with the number of
  // tabs the strip holds in all.
  struct StripTabs {
    std::vector<AXElementRef> tabs;
    size_t total = 0;
    bool unanswered = false;  // the strip's list read timed out
  };
  StripTabs tabElements(const AXElementRef& window, const TabAdapter& adapter);
  // The strip's container: a breadth-first search from the window, within the level and element limits.
  AXElementRef findContainer(const AXElementRef& window, const TabAdapter& adapter);
  std::vector<AXElementRef> filterBySubrole(const std::vector<AXElementRef>& tabs, const std::string& subrole);
  // The frame of the tab's site-icon child, for adapters that name one.
  std::optional<Rect> faviconFrame(const AXElementRef& tab, const TabAdapter& adapter);

 private:
  bool readSelected(const AXElementRef& tab, const std::string& attribute);
  std::string readTitle(const AXElementRef& tab, const TabAdapter& adapter);
  // One attribute read, counted against the time-outs of the call in progress; once those are
  // spent, no call is made and the answer is cannotComplete.
  AXAttributeResult read(const AXElementRef& element, const std::string& attribute);
  AXElementList readElements(const AXElementRef& element, const std::string& attribute, size_t maxCount);
  std::optional<Rect> readFrame(const AXElementRef& element);
  void note(AXError error);
  bool gaveUp() const { return timedOut_ >= kMaxTimeouts; }

  Accessibility& accessibility_;
  TabAdapter::NudgeRecord& nudges_;
  int timedOut_ = 0;  // calls of the walk or title read in progress that timed out
};

}  // namespace quorvel
