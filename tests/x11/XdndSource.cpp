#include "XdndSource.h"

#include <cstdlib>
#include <cstring>

namespace quorvel {

XdndSource::XdndSource(const std::string& display) {
  c_ = xcb_connect(display.c_str(), nullptr);
  root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
  window_ = xcb_generate_id(c_);
  xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, root_, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_set_selection_owner(c_, window_, atom("XdndSelection"), XCB_CURRENT_TIME);
  xcb_flush(c_);
}

XdndSource::~XdndSource() { xcb_disconnect(c_); }

xcb_atom_t XdndSource::atom(const char* name) {
  auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name),
                                      nullptr);
  const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return value;
}

std::optional<uint32_t> XdndSource::awareWindowAt(int x, int y) {
  // From the root down through the windows that contain the point: the first that says it is
  // drag-aware (a managed window's frame is not; the client window inside it is).
  const xcb_atom_t aware = atom("XdndAware");
  xcb_window_t window = root_;
  for (int depth = 0; depth < 16; ++depth) {
    auto* reply = xcb_translate_coordinates_reply(
        c_, xcb_translate_coordinates(c_, root_, window, static_cast<int16_t>(x), static_cast<int16_t>(y)), nullptr);
    const xcb_window_t child = reply ? reply->child : xcb_window_t{XCB_NONE};
    std::free(reply);
    if (child == XCB_NONE) return std::nullopt;
    auto* property = xcb_get_property_reply(c_, xcb_get_property(c_, 0, child, aware, XCB_ATOM_ATOM, 0, 1), nullptr);
    const bool isAware = property && xcb_get_property_value_length(property) >= 4;
    std::free(property);
    if (isAware) return child;
    window = child;
  }
  return std::nullopt;
}

void XdndSource::send(uint32_t target, const char* type, uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = target;
  message.type = atom(type);
  message.data.data32[0] = window_;
  message.data.data32[1] = d1;
  message.data.data32[2] = d2;
  message.data.data32[3] = d3;
  message.data.data32[4] = d4;
  xcb_send_event(c_, 0, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
  xcb_flush(c_);
}

void XdndSource::moveTo(int x, int y) {
  readAnswers();
  const uint32_t under = awareWindowAt(x, y).value_or(0);
  if (under != target_) {
    if (target_) send(target_, "XdndLeave", 0);
    target_ = under;
    accepted_ = false;
    if (!target_) return;
    entered_.push_back(target_);
    // Version 5, up to three types given here: a file list.
    send(target_, "XdndEnter", 5u << 24, atom("text/uri-list"));
  }
  if (target_) {
    send(target_, "XdndPosition", 0, static_cast<uint32_t>(x) << 16 | static_cast<uint32_t>(y), XCB_CURRENT_TIME,
         atom("XdndActionCopy"));
  }
  readAnswers();
}

void XdndSource::readAnswers() {
  const xcb_atom_t status = atom("XdndStatus"), finished = atom("XdndFinished");
  while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
    if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) ++dataRequests_;
    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
      const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
      if (message->type == status && message->data.data32[0] == target_) {
        accepted_ = (message->data.data32[1] & 1) != 0;
      } else if (message->type == finished) {
        finished_.emplace_back(message->data.data32[0], (message->data.data32[1] & 1) != 0);
      }
    }
    std::free(event);
  }
}

std::optional<uint32_t> XdndSource::drop() {
  readAnswers();
  if (!target_) return std::nullopt;
  const uint32_t target = target_;
  target_ = 0;
  if (!accepted_) {
    send(target, "XdndLeave", 0);
    return std::nullopt;
  }
  send(target, "XdndDrop", 0, XCB_CURRENT_TIME);
  return target;
}

}  // namespace quorvel
