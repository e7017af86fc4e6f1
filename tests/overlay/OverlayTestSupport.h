#pragma once

#include <string>
#include <vector>

#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "overlay/FixedTextMetrics.h"
#include "overlay/OverlayContentView.h"
#include "settings/AppSettings.h"

namespace quorvel {

// Records every delegate call as one line ("step -1", "scroll 0.5", ...).
class RecordingDelegate final : public OverlayContentViewDelegate {
 public:
  std::vector<std::string> calls;
  bool hoverSelectAnswer = true;
  bool dragAnswer = true;

  void cancel() override { calls.push_back("cancel"); }
  void commitSelection() override { calls.push_back("commit"); }
  void step(int by) override { calls.push_back("step " + std::to_string(by)); }
  void move(int direction) override { calls.push_back("move " + std::to_string(direction)); }
  void windowAction(int kind) override { calls.push_back("action " + std::to_string(kind)); }
  void setSearching(bool on) override { calls.push_back(on ? "searching on" : "searching off"); }
  void insertSearchText(const std::string& text) override { calls.push_back("insert " + text); }
  void deleteBackward() override { calls.push_back("deleteBackward"); }
  void deleteForward() override { calls.push_back("deleteForward"); }
  void setSearchCaret(OverlayContentView&, int index) override { calls.push_back("caret " + std::to_string(index)); }
  void scroll(double units) override { calls.push_back("scroll " + num(units)); }
  void flipStack(double units) override { calls.push_back("flip " + num(units)); }
  void endScroll(double v) override { calls.push_back("endScroll " + num(v)); }
  void endFlip(double v) override { calls.push_back("endFlip " + num(v)); }
  void click(Point p, Size) override { calls.push_back("click " + num(p.x) + "," + num(p.y)); }
  void middleClick(Point p, Size) override { calls.push_back("middleClick " + num(p.x) + "," + num(p.y)); }
  void hover(Point, Size) override {}
  bool hoverSelect(Point p, Size) override {
    calls.push_back("hoverSelect " + num(p.x) + "," + num(p.y));
    return hoverSelectAnswer;
  }
  void dragEntered() override { calls.push_back("dragEntered"); }
  bool dragUpdate(Point, Size) override {
    calls.push_back("dragUpdate");
    return dragAnswer;
  }
  void dragExited() override { calls.push_back("dragExited"); }
  void drop(Point, Size) override { calls.push_back("drop"); }
  void geometryChanged(OverlayContentView&) override { calls.push_back("geometry"); }

  static std::string num(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
  }
};

// A content view on a manual loop, an in-memory settings store and fixed text metrics, laid out on a
// 1440 × 900 screen.
struct ContentViewRig {
  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings{store};
  FixedTextMetrics metrics;
  RecordingDelegate delegate;
  int blurCalls = 0;
  int lastBlurRadius = -1;
  bool blurAvailable = true;
  bool blurApplies = true;
  bool reduceTransparency = false;
  std::optional<std::string> build;
  std::vector<bool> cursors;
  OverlayContentView view{OverlayContentView::Services{
      metrics, loop.main(), settings, [this] { return blurAvailable; },
      [this](int radius, int) {
        ++blurCalls;
        lastBlurRadius = radius;
        return blurApplies;
      },
      [this] { return reduceTransparency; }, [this] { return build; }, [this](bool on) { cursors.push_back(on); },
      [] { return true; }}};

  ContentViewRig() {
    settings.registerDefaults();
    // The tests state the direction and the middle button themselves (the house look turns both on).
    store.set(AppSettings::Key::scrollDirectionNatural, false);
    store.set(AppSettings::Key::middleClickCloses, false);
    view.overlayDelegate = &delegate;
    view.setFrameSize({1440, 900});
  }
  void configure() {
    view.configure(true, 2.0);
    delegate.calls.clear();
  }
  Instant now() { return loop.clock().now(); }
};

}  // namespace quorvel
