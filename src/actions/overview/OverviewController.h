#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "actions/MovePlan.h"
#include "actions/OverviewGeometry.h"
#include "actions/overview/OverviewRenderer.h"
#include "actions/overview/OverviewSources.h"
#include "actions/overview/OverviewViewDelegate.h"
#include "base/Executor.h"
#include "base/Logger.h"
#include "base/Task.h"
#include "windows/DesktopMap.h"
#include "windows/WindowCard.h"

namespace quorvel {

class AppSettings;
class AXFunnel;
class OwnApplication;
class WindowMover;

// Drives the desktops overview: one window showing every desktop of every display as a tile with a
// miniature of each window on it. A click on a tile goes to that desktop (its first window is
// brought forward); a press on a miniature picks the window up, a drag carries it, and a release
// over another tile moves the window there (another desktop, another display, or both) through the
// move planner and the window mover. Nothing in the program opens it: a caller attaches a window
// and a renderer and calls open().
//
// Threads: the main queue only; the frame steps of a move hop to the Accessibility queue and back.
// The picture follow-up and the move task hold the controller weakly.
class OverviewController final : public OverviewViewDelegate, public std::enable_shared_from_this<OverviewController> {
 public:
  struct Services {
    Executor& mainQueue;
    OverviewCardSource& cards;
    OverviewPictureSource& pictures;
    const WindowMover& mover;
    AXFunnel& funnel;
    OwnApplication& ownApplication;
    const AppSettings& settings;
    int32_t ownPid = 0;
    // Brings a card's window forward (the activator).
    std::function<void(const WindowCard&)> pick;
    // The displays with their desktops as the overview shows them (OverviewDisplays); none when
    // the window manager gives no desktops.
    std::function<std::optional<DesktopMap>()> readMap;
    // Whether other applications' windows may be moved at all (Accessibility).
    std::function<bool()> accessibilityTrusted;
    // Whether the window manager moves windows between desktops at all.
    bool desktopMovesOffered = false;
  };
  struct Carried {
    uint32_t windowID = 0;
    Size grip;  // the press point's offset from the miniature's top-left corner
  };

  static constexpr int kFollowUpPasses = 40;
  static constexpr Duration kFollowUpInterval = std::chrono::milliseconds(150);
  static OverviewGeometry::Metrics metrics() { return {28, 16, 48, 22, 60}; }

  static std::shared_ptr<OverviewController> make(Services services);

  // The window and the renderer that draws into it; both outlive the controller or are detached.
  void attach(OverviewWindowHost* window, OverviewRenderer* renderer);
  // Reads the desktops and what moves are allowed, shows the window (beginning one picture
  // presentation when it was not visible) and draws.
  void open();
  // Re-plans and redraws, then fills in missing pictures.
  void show();
  // Drops any drag and hover, stops the picture follow-up, orders the window out, and ends the
  // picture presentation when the window was visible.
  void hide() override;

  void pointerMoved(Point to) override;
  void beginDrag(Point at) override;
  void dragMoved(Point to) override;
  void pointerReleased(Point at, bool wasDragging) override;
  void goToDesktop(size_t regionIndex);
  void dropCarriedWindow(const WindowCard& card, const OverviewGeometry::Region& region);

  // Read by tests and the demo.
  const OverviewGeometry::Plan& plan() const { return plan_; }
  const std::optional<Carried>& carried() const { return carried_; }
  std::optional<size_t> hoveredRegion() const { return hoveredRegion_; }
  const MoveCapability& capability() const { return capability_; }
  // The move task last started (done when no move was started).
  const TaskHandle<void>& moveTask() const { return moveTask_; }
  const TaskHandle<void>& pictureFollowUp() const { return pictureFollowUp_; }
  void setOffscreenCheck(bool on) { isOffscreenCheck_ = on; }
  void setMap(std::optional<DesktopMap> map) { map_ = std::move(map); }
  void setCapability(MoveCapability capability) { capability_ = capability; }
  OverviewRenderer::Scene makeScene();
  MovableWindow makeMovableWindow(const WindowCard& card) const;

  static const Logger& logger();

 private:
  explicit OverviewController(Services services) : services_(std::move(services)) {}
  void buildPlan();
  void redraw();
  void schedulePictureFollowUp();
  std::optional<size_t> regionAt(Point p) const;
  OverviewRenderer::Miniature miniatureFor(uint32_t windowID, const Rect& rect, bool ghost);
  static Task<void> followUp(std::weak_ptr<OverviewController> weak, std::vector<WindowCard> cards);
  static Task<void> moveTaskBody(std::weak_ptr<OverviewController> weak, WindowCard card,
                                 std::vector<MovePlan::Step> steps, std::vector<MoveRefusal> refusals);

  Services services_;
  OverviewWindowHost* window_ = nullptr;
  OverviewRenderer* renderer_ = nullptr;
  std::optional<DesktopMap> map_;
  std::unordered_map<uint32_t, WindowCard> cardsByID_;
  OverviewGeometry::Plan plan_;
  MoveCapability capability_;
  TaskHandle<void> pictureFollowUp_;
  TaskHandle<void> moveTask_;
  std::optional<Carried> carried_;
  Point pointer_;
  std::optional<size_t> hoveredRegion_;
  bool isOffscreenCheck_ = false;
};

}  // namespace quorvel
