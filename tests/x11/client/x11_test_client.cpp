// A small X client for the X11 integration tests: one top-level window whose title, class, size,
// position, type, struts, desktop and states come from the command line. It prints its window id
// (hexadecimal, one line) once it has asked for the window to be mapped, and exits when the window manager asks it to
// close the window or the connection ends.
//
//   x11_test_client --title T --class instance,Class [--geometry WxH+X+Y] [--type dock|dialog|...]
//                   [--strut-top N] [--desktop N] [--state NAME,NAME] [--no-pid] [--legacy-title]
//                   [--windows N] [--close-one] [--color RRGGBB] [--undrawn] [--xdnd-target]
//
// --legacy-title sets only WM_NAME, as a STRING holding the title's bytes unchanged; otherwise the
// title goes to _NET_WM_NAME (UTF8_STRING). --state names _NET_WM_STATE_* suffixes (SKIP_TASKBAR).
// --windows N opens N such windows in one process (titled T, "T 2", "T 3", ...), mapped in that
// order; the first one's id is printed, and the client exits when any of them is asked to close,
// or with --close-one destroys only that window and exits when the last one is closed.
// --color fills the windows with one colour (hexadecimal red, green, blue; white by default).
// --undrawn gives the windows no background, so that nothing is ever drawn into them.
// --xdnd-target makes the windows drop targets (XDND version 5) that accept every drag and write
// "xdnd drop on 0x<window> from 0x<source>" to standard error for each drop they receive.

#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string title = "x11 test client";
  std::string instance = "x11_test_client";
  std::string className = "X11TestClient";
  int width = 320, height = 200, x = -1, y = -1;
  std::string type;
  int strutTop = 0;
  long desktop = -1;
  std::vector<std::string> states;
  bool withPid = true;
  bool legacyTitle = false;
  int windows = 1;
  bool closeOne = false;
  long color = -1;
  bool undrawn = false;
  bool xdndTarget = false;
};

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--no-pid") {
      o.withPid = false;
    } else if (arg == "--legacy-title") {
      o.legacyTitle = true;
    } else if (arg == "--close-one") {
      o.closeOne = true;
    } else if (arg == "--xdnd-target") {
      o.xdndTarget = true;
    } else if (arg == "--undrawn") {
      o.undrawn = true;
    } else if (!hasValue) {
      return false;
    } else if (arg == "--title") {
      o.title = argv[++i];
    } else if (arg == "--class") {
      auto parts = split(argv[++i], ',');
      if (parts.size() != 2) return false;
      o.instance = parts[0];
      o.className = parts[1];
    } else if (arg == "--geometry") {
      if (std::sscanf(argv[++i], "%dx%d+%d+%d", &o.width, &o.height, &o.x, &o.y) < 2) return false;
    } else if (arg == "--type") {
      o.type = argv[++i];
    } else if (arg == "--strut-top") {
      o.strutTop = std::atoi(argv[++i]);
    } else if (arg == "--desktop") {
      o.desktop = std::atol(argv[++i]);
    } else if (arg == "--state") {
      o.states = split(argv[++i], ',');
    } else if (arg == "--color") {
      o.color = std::strtol(argv[++i], nullptr, 16);
    } else if (arg == "--windows") {
      o.windows = std::atoi(argv[++i]);
      if (o.windows < 1) return false;
    } else {
      return false;
    }
  }
  return true;
}

xcb_atom_t intern(xcb_connection_t* c, const std::string& name) {
  xcb_intern_atom_reply_t* r =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr);
  const xcb_atom_t atom = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(r);
  return atom;
}

void setCardinals(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                  const std::vector<uint32_t>& values) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 32, static_cast<uint32_t>(values.size()),
                      values.data());
}

// Creates one window as the options say, with `title`, and asks for it to be mapped.
xcb_window_t createWindow(xcb_connection_t* c, xcb_screen_t* screen, const Options& o, const std::string& title,
                          xcb_atom_t protocols, xcb_atom_t deleteWindow) {
  const xcb_window_t window = xcb_generate_id(c);
  const uint32_t background = o.color >= 0 ? static_cast<uint32_t>(o.color) : screen->white_pixel;
  const uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  const uint32_t values[] = {background, events};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<int16_t>(std::max(o.x, 0)),
                    static_cast<int16_t>(std::max(o.y, 0)), static_cast<uint16_t>(o.width),
                    static_cast<uint16_t>(o.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                    o.undrawn ? XCB_CW_EVENT_MASK : XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                    o.undrawn ? &events : values);

  const xcb_atom_t utf8 = intern(c, "UTF8_STRING");
  if (o.legacyTitle) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
  } else {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, intern(c, "_NET_WM_NAME"), utf8, 8,
                        static_cast<uint32_t>(title.size()), title.data());
  }
  std::string wmClass = o.instance + '\0' + o.className + '\0';
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(wmClass.size()), wmClass.data());

  setCardinals(c, window, protocols, XCB_ATOM_ATOM, {deleteWindow});

  char host[256] = {};
  gethostname(host, sizeof host - 1);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(std::strlen(host)), host);
  if (o.withPid) {
    setCardinals(c, window, intern(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, {static_cast<uint32_t>(getpid())});
  }
  if (o.x >= 0 && o.y >= 0) {
    xcb_size_hints_t hints{};
    xcb_icccm_size_hints_set_position(&hints, 1, o.x, o.y);
    xcb_icccm_size_hints_set_size(&hints, 1, o.width, o.height);
    xcb_icccm_set_wm_normal_hints(c, window, &hints);
  }
  if (!o.type.empty()) {
    std::string name = "_NET_WM_WINDOW_TYPE_";
    for (char ch : o.type) name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
    setCardinals(c, window, intern(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, {intern(c, name)});
  }
  if (o.strutTop > 0) {
    const uint32_t top = static_cast<uint32_t>(o.strutTop);
    const uint32_t startX = static_cast<uint32_t>(std::max(o.x, 0));
    const uint32_t endX = startX + static_cast<uint32_t>(o.width) - 1;
    setCardinals(c, window, intern(c, "_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL,
                 {0, 0, top, 0, 0, 0, 0, 0, startX, endX, 0, 0});
    setCardinals(c, window, intern(c, "_NET_WM_STRUT"), XCB_ATOM_CARDINAL, {0, 0, top, 0});
  }
  if (o.desktop >= 0) {
    setCardinals(c, window, intern(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, {static_cast<uint32_t>(o.desktop)});
  }
  if (!o.states.empty()) {
    std::vector<uint32_t> atoms;
    for (const std::string& s : o.states) atoms.push_back(intern(c, "_NET_WM_STATE_" + s));
    setCardinals(c, window, intern(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, atoms);
  }

  if (o.xdndTarget) setCardinals(c, window, intern(c, "XdndAware"), XCB_ATOM_ATOM, {5});

  xcb_map_window(c, window);
  return window;
}

// Answers the XDND messages of a drag over a window: every position is accepted with a copy, and
// a drop is reported and finished. True when `message` was one of them.
bool answerDrag(xcb_connection_t* c, const xcb_client_message_event_t& message) {
  static const xcb_atom_t position = intern(c, "XdndPosition"), drop = intern(c, "XdndDrop"),
                          enter = intern(c, "XdndEnter"), leave = intern(c, "XdndLeave");
  auto reply = [&](const char* type, uint32_t flags, uint32_t action) {
    xcb_client_message_event_t answer{};
    answer.response_type = XCB_CLIENT_MESSAGE;
    answer.format = 32;
    answer.window = message.data.data32[0];
    answer.type = intern(c, type);
    answer.data.data32[0] = message.window;
    answer.data.data32[1] = flags;
    answer.data.data32[4] = action;
    if (std::strcmp(type, "XdndFinished") == 0) answer.data.data32[2] = action;
    xcb_send_event(c, 0, answer.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&answer));
    xcb_flush(c);
  };
  if (message.type == enter || message.type == leave) return true;
  if (message.type == position) {
    reply("XdndStatus", 1, intern(c, "XdndActionCopy"));
    return true;
  }
  if (message.type == drop) {
    std::fprintf(stderr, "xdnd drop on 0x%x from 0x%x\n", message.window, message.data.data32[0]);
    std::fflush(stderr);
    reply("XdndFinished", 1, intern(c, "XdndActionCopy"));
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::fprintf(stderr, "usage: see the top of x11_test_client.cpp\n");
    return 2;
  }
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(c)) return 1;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
  xcb_screen_t* screen = it.data;

  const xcb_atom_t deleteWindow = intern(c, "WM_DELETE_WINDOW");
  const xcb_atom_t protocols = intern(c, "WM_PROTOCOLS");
  xcb_window_t first = 0;
  for (int n = 1; n <= o.windows; ++n) {
    const std::string title = n == 1 ? o.title : o.title + " " + std::to_string(n);
    const xcb_window_t window = createWindow(c, screen, o, title, protocols, deleteWindow);
    if (n == 1) first = window;
  }

  // A round trip: the server has the window and its properties before anyone hears of it. (A window
  // placed on another desktop is never mapped, so its MapNotify cannot be waited for.)
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  std::printf("0x%x\n", first);
  std::fflush(stdout);

  int remaining = o.windows;
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_CLIENT_MESSAGE) {
      const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
      if (o.xdndTarget && answerDrag(c, *message)) {
        std::free(event);
        continue;
      }
      if (message->type == protocols && message->data.data32[0] == deleteWindow) {
        if (o.closeOne && --remaining > 0) {
          xcb_destroy_window(c, message->window);
          xcb_flush(c);
          std::free(event);
          continue;
        }
        std::free(event);
        xcb_disconnect(c);
        return 0;
      }
    }
    std::free(event);
  }
  xcb_disconnect(c);
  return 0;
}
