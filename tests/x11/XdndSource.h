#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// The source side of an X drag and drop (XDND version 5), as a file manager would play it, for the
// program tests: it finds the drag-aware window under a point of the screen as the pointer would
// (mapped windows, input shapes honoured), speaks to it and to the next one when that changes, and
// drops where the last window under the point accepts. It offers a file list and never delivers
// data (no test target asks for it).
class XdndSource {
 public:
  explicit XdndSource(const std::string& display);
  ~XdndSource();
  XdndSource(const XdndSource&) = delete;
  XdndSource& operator=(const XdndSource&) = delete;

  // The drag moved to (x, y) in root coordinates: leaves the old target when another window is
  // now under it, enters the new one, sends the position, and reads the answers so far.
  void moveTo(int x, int y);
  // Reads the targets' answers that have arrived.
  void readAnswers();
  // Drops on the current target when it accepted the last position, else leaves it; the window
  // the drop went to, or none.
  std::optional<uint32_t> drop();

  uint32_t target() const { return target_; }
  bool accepted() const { return accepted_; }
  // Every window the drag entered, in order.
  const std::vector<uint32_t>& entered() const { return entered_; }
  // The windows that answered a drop with XdndFinished, and whether each took it.
  const std::vector<std::pair<uint32_t, bool>>& finished() const { return finished_; }
  // How many times a target asked for the dragged data.
  int dataRequests() const { return dataRequests_; }

 private:
  std::optional<uint32_t> awareWindowAt(int x, int y);
  void send(uint32_t target, const char* type, uint32_t d1, uint32_t d2 = 0, uint32_t d3 = 0, uint32_t d4 = 0);
  xcb_atom_t atom(const char* name);

  xcb_connection_t* c_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_window_t window_ = 0;
  uint32_t target_ = 0;
  bool accepted_ = false;
  std::vector<uint32_t> entered_;
  std::vector<std::pair<uint32_t, bool>> finished_;
  int dataRequests_ = 0;
};

}  // namespace quorvel
