#include "platform/x11/X11InstanceLock.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <optional>

namespace quorvel {

namespace {

uint32_t internAtom(xcb_connection_t* connection, const std::string& name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const uint32_t atom = reply->atom;
  std::free(reply);
  return atom;
}

uint32_t selectionOwner(xcb_connection_t* connection, uint32_t selection) {
  xcb_get_selection_owner_reply_t* reply =
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
  if (!reply) return XCB_WINDOW_NONE;
  const uint32_t owner = reply->owner;
  std::free(reply);
  return owner;
}

struct Session {
  xcb_connection_t* connection = nullptr;
  xcb_screen_t* screen = nullptr;
  uint32_t selection = XCB_ATOM_NONE;
  uint32_t reopen = XCB_ATOM_NONE;
};

std::optional<Session> open(const std::string& displayName) {
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
  if (!connection || xcb_connection_has_error(connection)) {
    if (connection) xcb_disconnect(connection);
    return std::nullopt;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(connection);
    return std::nullopt;
  }
  Session session{connection, it.data};
  session.selection = internAtom(connection, "_QUORVEL_INSTANCE_S" + std::to_string(screenNumber));
  session.reopen = internAtom(connection, "_QUORVEL_REOPEN");
  if (session.selection == XCB_ATOM_NONE || session.reopen == XCB_ATOM_NONE) {
    xcb_disconnect(connection);
    return std::nullopt;
  }
  return session;
}

}  // namespace

X11InstanceLock::X11InstanceLock(xcb_connection_t* connection, uint32_t window, uint32_t selection,
                                 uint32_t reopenAtom)
    : connection_(connection), window_(window), selection_(selection), reopenAtom_(reopenAtom) {}

X11InstanceLock::~X11InstanceLock() {
  // Let go in so many words and wait for the server to have done it: a program started right after
  // this one quits finds the display free, however long the server takes to see the connection go.
  xcb_set_selection_owner(connection_, XCB_WINDOW_NONE, selection_, XCB_CURRENT_TIME);
  xcb_destroy_window(connection_, window_);
  std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  xcb_disconnect(connection_);
}

std::unique_ptr<X11InstanceLock> X11InstanceLock::acquire(const std::string& displayName, Outcome& outcome) {
  std::optional<Session> session = open(displayName);
  if (!session) {
    outcome = Outcome::noDisplay;
    return nullptr;
  }
  xcb_connection_t* c = session->connection;
  const uint32_t window = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, session->screen->root, -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
  const char title[] = "Quorvel instance";
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, sizeof title - 1,
                      title);
  // Looking and taking under one grab: no other client can take the selection in between.
  xcb_grab_server(c);
  const bool free = selectionOwner(c, session->selection) == XCB_WINDOW_NONE;
  if (free) xcb_set_selection_owner(c, window, session->selection, XCB_CURRENT_TIME);
  xcb_ungrab_server(c);
  const bool ours = free && selectionOwner(c, session->selection) == window;
  if (!ours) {
    xcb_destroy_window(c, window);
    xcb_disconnect(c);
    outcome = Outcome::heldElsewhere;
    return nullptr;
  }
  outcome = Outcome::acquired;
  return std::unique_ptr<X11InstanceLock>(new X11InstanceLock(c, window, session->selection, session->reopen));
}

bool X11InstanceLock::askHolderToReopen(const std::string& displayName) {
  std::optional<Session> session = open(displayName);
  if (!session) return false;
  xcb_connection_t* c = session->connection;
  const uint32_t owner = selectionOwner(c, session->selection);
  if (owner == XCB_WINDOW_NONE) {
    xcb_disconnect(c);
    return false;
  }
  xcb_client_message_event_t event;
  std::memset(&event, 0, sizeof event);
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = owner;
  event.type = session->reopen;
  // With no event mask the message goes to the client that made the window.
  xcb_generic_error_t* error =
      xcb_request_check(c, xcb_send_event_checked(c, 0, owner, XCB_EVENT_MASK_NO_EVENT,
                                                   reinterpret_cast<const char*>(&event)));
  const bool sent = error == nullptr;
  std::free(error);
  xcb_disconnect(c);
  return sent;
}

int X11InstanceLock::fd() const { return xcb_get_file_descriptor(connection_); }

int X11InstanceLock::takeReopenRequests() {
  int requests = 0;
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
      auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
      if (message->type == reopenAtom_ && message->window == window_) ++requests;
    }
    std::free(event);
  }
  return requests;
}

}  // namespace quorvel
