#pragma once

#include <QImage>

#include <functional>
#include <memory>
#include <optional>

#include "platform/DesktopStill.h"

namespace quorvel {

class Executor;
class X11Platform;

// A still of the desktop for the backdrop preview that shows none of Quorvel's own windows. X
// cannot leave a program's windows out of a picture of the screen, so the still is put together:
// the root window's background picture (the wallpaper a desktop sets, else a plain dark grey), then
// the pictures of the other programs' windows on screen, back to front, each at its place, scaled
// to 640 pixels wide (or as asked) for the first display (or the display asked for). The pictures
// are taken on the capture service's thread; `done` runs on the main executor. No picture of a
// window, no list of windows: the wallpaper alone; nothing at all to go on: none.
//
// Main thread. The maker may go while a still is under way: the pictures' completions, on other
// threads, touch only the still's own state and the main executor (which outlives the maker), and
// the still is put together, and `done` called, only while the maker lives.
class DesktopStillMaker {
 public:
  static constexpr int kWidth = 640;

  DesktopStillMaker(X11Platform& platform, Executor& main) : platform_(platform), main_(main) {}
  DesktopStillMaker(const DesktopStillMaker&) = delete;
  DesktopStillMaker& operator=(const DesktopStillMaker&) = delete;

  void make(std::function<void(std::optional<DesktopStill>)> done) { make(std::nullopt, kWidth, std::move(done)); }
  // The still of the display `displayID` (the first when none or unknown), `width` pixels wide.
  void make(std::optional<uint32_t> displayID, int width, std::function<void(std::optional<DesktopStill>)> done);

 private:
  QImage background(int width, int height);

  X11Platform& platform_;
  Executor& main_;
  // Read and reset on the main thread only: a still that comes in after the maker went is dropped.
  std::shared_ptr<DesktopStillMaker*> self_ = std::make_shared<DesktopStillMaker*>(this);
};

}  // namespace quorvel
