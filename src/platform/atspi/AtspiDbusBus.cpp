#include "platform/atspi/AtspiDbusBus.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorvel {

namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kComponent = "org.a11y.atspi.Component";
constexpr const char* kAction = "org.a11y.atspi.Action";
constexpr const char* kSelection = "org.a11y.atspi.Selection";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr const char* kRootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* kNullPath = "/org/a11y/atspi/null";
constexpr const char* kLauncher = "org.a11y.Bus";
constexpr const char* kLauncherPath = "/org/a11y/bus";
constexpr const char* kStatus = "org.a11y.Status";
constexpr gint32 kMaxActions = 16;  // more than any element offers; a bogus count is not followed

// The error of a failed call, in the program's terms.
AXError errorOf(const GError* error) {
  if (!error) return AXError::failure;
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
      g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_DISCONNECTED)) {
    return AXError::cannotComplete;
  }
  if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT)) {
    return AXError::invalidElement;
  }
  if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED)) {
    return AXError::attributeUnsupported;
  }
  // A reply of the wrong shape, or an error of the application's own.
  return AXError::failure;
}

int timeoutMs(AtspiBus::Timeout timeout) {
  const auto ms = timeout.count();
  return ms <= 0 ? 1 : ms > 600000 ? 600000 : static_cast<int>(ms);
}

// Takes a floating parameter tuple that will not be sent.
void drop(GVariant* parameters) {
  if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
}

AtspiNode nodeOf(GVariant* so) {
  const gchar* bus = nullptr;
  const gchar* path = nullptr;
  g_variant_get(so, "(&s&o)", &bus, &path);
  if (!bus || !path || std::strcmp(path, kNullPath) == 0) return {};
  return AtspiNode{bus, path};
}

std::vector<AtspiNode> nodesOf(GVariant* list) {
  std::vector<AtspiNode> out;
  out.reserve(g_variant_n_children(list));
  GVariantIter iter;
  g_variant_iter_init(&iter, list);
  while (GVariant* child = g_variant_iter_next_value(&iter)) {
    AtspiNode node = nodeOf(child);
    if (!node.empty()) out.push_back(std::move(node));
    g_variant_unref(child);
  }
  return out;
}

GDBusConnection* connect(const std::string& address, GError** error) {
  return g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, error);
}

// Holds a reply and frees it.
struct Held {
  GVariant* v = nullptr;
  ~Held() {
    if (v) g_variant_unref(v);
  }
};

}  // namespace

AtspiDbusBus::AtspiDbusBus(std::string sessionAddress) : sessionAddress_(std::move(sessionAddress)) {}

AtspiDbusBus::~AtspiDbusBus() {
  if (a11y_) g_object_unref(a11y_);
  if (session_) g_object_unref(session_);
}

GDBusConnection* AtspiDbusBus::session(AXError& error) {
  {
    std::lock_guard lock(mutex_);
    if (session_ && !g_dbus_connection_is_closed(session_)) return G_DBUS_CONNECTION(g_object_ref(session_));
  }
  std::string address = sessionAddress_;
  if (address.empty()) {
    // The session bus named in the environment, else the user's bus socket; never one started
    // for the occasion (which GLib's own lookup may do through the X server).
    if (const char* named = std::getenv("DBUS_SESSION_BUS_ADDRESS"); named && *named) {
      address = named;
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
      const std::string socket = std::string(runtime) + "/bus";
      if (g_file_test(socket.c_str(), G_FILE_TEST_EXISTS)) {
        gchar* escaped = g_dbus_address_escape_value(socket.c_str());
        address = std::string("unix:path=") + escaped;
        g_free(escaped);
      }
    }
    if (address.empty()) {
      error = AXError::apiDisabled;
      return nullptr;
    }
  }
  GError* failed = nullptr;
  GDBusConnection* made = connect(address, &failed);
  if (!made) {
    g_clear_error(&failed);
    error = AXError::apiDisabled;
    return nullptr;
  }
  g_dbus_connection_set_exit_on_close(made, FALSE);
  std::lock_guard lock(mutex_);
  if (session_) g_object_unref(session_);
  session_ = made;
  return G_DBUS_CONNECTION(g_object_ref(session_));
}

GDBusConnection* AtspiDbusBus::accessibility(AXError& error) {
  {
    std::lock_guard lock(mutex_);
    if (a11y_ && !g_dbus_connection_is_closed(a11y_)) return G_DBUS_CONNECTION(g_object_ref(a11y_));
    if (failedAt_ && std::chrono::steady_clock::now() - *failedAt_ < kRetryAfter) {
      error = AXError::cannotComplete;
      return nullptr;
    }
  }
  std::string address;
  if (const char* named = std::getenv("AT_SPI_BUS_ADDRESS"); named && *named) {
    address = named;
  } else {
    GDBusConnection* s = session(error);
    if (!s) {
      std::lock_guard lock(mutex_);
      failedAt_ = std::chrono::steady_clock::now();
      return nullptr;
    }
    Reply r = call(s, kLauncher, kLauncherPath, kLauncher, "GetAddress", nullptr, "(s)", kSetupTimeout);
    g_object_unref(s);
    if (!r.value) {
      error = r.error == AXError::attributeUnsupported ? AXError::apiDisabled : AXError::cannotComplete;
      std::lock_guard lock(mutex_);
      failedAt_ = std::chrono::steady_clock::now();
      return nullptr;
    }
    const gchar* text = nullptr;
    g_variant_get(r.value, "(&s)", &text);
    address = text ? text : "";
    g_variant_unref(r.value);
  }
  GError* failed = nullptr;
  GDBusConnection* made = address.empty() ? nullptr : connect(address, &failed);
  g_clear_error(&failed);
  std::lock_guard lock(mutex_);
  if (!made) {
    failedAt_ = std::chrono::steady_clock::now();
    error = AXError::cannotComplete;
    return nullptr;
  }
  g_dbus_connection_set_exit_on_close(made, FALSE);
  failedAt_.reset();
  if (a11y_) g_object_unref(a11y_);
  a11y_ = made;
  return G_DBUS_CONNECTION(g_object_ref(a11y_));
}

AtspiDbusBus::Reply AtspiDbusBus::call(GDBusConnection* connection, const std::string& destination,
                                       const std::string& path, const char* interface, const char* method,
                                       GVariant* parameters, const char* replyType, Timeout timeout) {
  if (!g_dbus_is_name(destination.c_str()) || !g_variant_is_object_path(path.c_str())) {
    drop(parameters);
    return {AXError::invalidElement, nullptr};
  }
  GError* error = nullptr;
  GVariant* value = g_dbus_connection_call_sync(connection, destination.c_str(), path.c_str(), interface, method,
                                                parameters, G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE,
                                                timeoutMs(timeout), nullptr, &error);
  if (!value) {
    Reply r{errorOf(error), nullptr};
    g_clear_error(&error);
    return r;
  }
  return {AXError::success, value};
}

AtspiDbusBus::Reply AtspiDbusBus::callAccessible(const AtspiNode& node, const char* interface, const char* method,
                                                 GVariant* parameters, const char* replyType, Timeout timeout) {
  AXError error = AXError::cannotComplete;
  GDBusConnection* c = accessibility(error);
  if (!c) {
    drop(parameters);
    return {error, nullptr};
  }
  Reply r = call(c, node.bus, node.path, interface, method, parameters, replyType, timeout);
  g_object_unref(c);
  return r;
}

AtspiAnswer<std::vector<AtspiNode>> AtspiDbusBus::applications(Timeout timeout) {
  Reply r = callAccessible(AtspiNode{kRegistry, kRootPath}, kAccessible, "GetChildren", nullptr, "(a(so))", timeout);
  if (!r.value) return {r.error == AXError::invalidElement ? AXError::cannotComplete : r.error, {}};
  Held held{r.value};
  GVariant* list = g_variant_get_child_value(r.value, 0);
  std::vector<AtspiNode> nodes = nodesOf(list);
  g_variant_unref(list);
  return {AXError::success, std::move(nodes)};
}

AtspiAnswer<int32_t> AtspiDbusBus::processOf(const std::string& bus, Timeout timeout) {
  AXError error = AXError::cannotComplete;
  GDBusConnection* c = accessibility(error);
  if (!c) return {error, 0};
  Reply r = call(c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                 "GetConnectionUnixProcessID", g_variant_new("(s)", bus.c_str()), "(u)", timeout);
  g_object_unref(c);
  if (!r.value) return {r.error == AXError::failure ? AXError::invalidElement : r.error, 0};
  Held held{r.value};
  guint32 pid = 0;
  g_variant_get(r.value, "(u)", &pid);
  return {AXError::success, static_cast<int32_t>(pid)};
}

AtspiAnswer<AtspiObject> AtspiDbusBus::object(const AtspiNode& node, Timeout timeout) {
  Reply r = callAccessible(node, kProperties, "GetAll", g_variant_new("(s)", kAccessible), "(a{sv})", timeout);
  if (!r.value) return {r.error, {}};
  Held held{r.value};
  AtspiObject o;
  GVariant* dict = g_variant_get_child_value(r.value, 0);
  const gchar* text = nullptr;
  if (g_variant_lookup(dict, "Name", "&s", &text) && text) o.name = text;
  text = nullptr;
  if (g_variant_lookup(dict, "Description", "&s", &text) && text) o.description = text;
  gint32 count = 0;
  if (g_variant_lookup(dict, "ChildCount", "i", &count)) o.childCount = count;
  g_variant_unref(dict);
  return {AXError::success, std::move(o)};
}

AtspiAnswer<std::vector<AtspiNode>> AtspiDbusBus::children(const AtspiNode& node, Timeout timeout) {
  Reply r = callAccessible(node, kAccessible, "GetChildren", nullptr, "(a(so))", timeout);
  if (!r.value) return {r.error, {}};
  Held held{r.value};
  GVariant* list = g_variant_get_child_value(r.value, 0);
  std::vector<AtspiNode> nodes = nodesOf(list);
  g_variant_unref(list);
  return {AXError::success, std::move(nodes)};
}

AtspiAnswer<AtspiNode> AtspiDbusBus::parent(const AtspiNode& node, Timeout timeout) {
  Reply r = callAccessible(node, kProperties, "Get", g_variant_new("(ss)", kAccessible, "Parent"), "(v)", timeout);
  if (!r.value) return {r.error, {}};
  Held held{r.value};
  GVariant* boxed = nullptr;
  g_variant_get(r.value, "(v)", &boxed);
  AtspiNode found;
  if (boxed && g_variant_is_of_type(boxed, G_VARIANT_TYPE("(so)"))) found = nodeOf(boxed);
  if (boxed) g_variant_unref(boxed);
  return {AXError::success, std::move(found)};
}

AtspiAnswer<int32_t> AtspiDbusBus::indexInParent(const AtspiNode& node, Timeout timeout) {
  Reply r = callAccessible(node, kAccessible, "GetIndexInParent", nullptr, "(i)", timeout);
  if (!r.value) return {r.error, -1};
  Held held{r.value};
  gint32 index = -1;
  g_variant_get(r.value, "(i)", &index);
  return {AXError::success, index};
}

AtspiAnswer<uint32_t> AtspiDbusBus::role(const AtspiNode& node, Timeout timeout) {
  Reply r = callAccessible(node, kAccessible, "GetRole", nullptr, "(u)", timeout);
  if (!r.value) return {r.error, 0};
  Held held{r.value};
  guint32 role = 0;
  g_variant_get(r.value, "(u)", &role);
  return {AXError::success, role};
}

AtspiAnswer<uint64_t> AtspiDbusBus::states(const AtspiNode& node, Timeout timeout) {
  Reply r = callAccessible(node, kAccessible, "GetState", nullptr, "(au)", timeout);
  if (!r.value) return {r.error, 0};
  Held held{r.value};
  GVariant* words = g_variant_get_child_value(r.value, 0);
  uint64_t mask = 0;
  const size_t n = g_variant_n_children(words);
  for (size_t i = 0; i < n && i < 2; ++i) {
    guint32 word = 0;
    g_variant_get_child(words, i, "u", &word);
    mask |= uint64_t{word} << (32 * i);
  }
  g_variant_unref(words);
  return {AXError::success, mask};
}

AtspiAnswer<std::map<std::string, std::string>> AtspiDbusBus::attributes(const AtspiNode& node, Timeout timeout) {
  Reply r = callAccessible(node, kAccessible, "GetAttributes", nullptr, "(a{ss})", timeout);
  if (!r.value) return {r.error, {}};
  Held held{r.value};
  std::map<std::string, std::string> out;
  GVariantIter* iter = nullptr;
  g_variant_get(r.value, "(a{ss})", &iter);
  const gchar* key = nullptr;
  const gchar* value = nullptr;
  while (g_variant_iter_next(iter, "{&s&s}", &key, &value)) out[key] = value;
  g_variant_iter_free(iter);
  return {AXError::success, std::move(out)};
}

AtspiAnswer<Rect> AtspiDbusBus::extents(const AtspiNode& node, Timeout timeout) {
  // Coordinate type 0: the screen.
  Reply r = callAccessible(node, kComponent, "GetExtents", g_variant_new("(u)", 0u), "((iiii))", timeout);
  if (!r.value) return {r.error, {}};
  Held held{r.value};
  gint32 x = 0, y = 0, w = 0, h = 0;
  g_variant_get(r.value, "((iiii))", &x, &y, &w, &h);
  return {AXError::success, Rect{double(x), double(y), double(w), double(h)}};
}

AtspiAnswer<std::vector<std::string>> AtspiDbusBus::actions(const AtspiNode& node, Timeout timeout) {
  // The count, then each name: some toolkits fill GetActions' list with placeholders.
  Reply r = callAccessible(node, kProperties, "Get", g_variant_new("(ss)", kAction, "NActions"), "(v)", timeout);
  if (!r.value) return {r.error, {}};
  gint32 count = 0;
  {
    Held held{r.value};
    GVariant* boxed = nullptr;
    g_variant_get(r.value, "(v)", &boxed);
    if (boxed && g_variant_is_of_type(boxed, G_VARIANT_TYPE_INT32)) count = g_variant_get_int32(boxed);
    if (boxed) g_variant_unref(boxed);
  }
  std::vector<std::string> names;
  for (gint32 i = 0; i < count && i < kMaxActions; ++i) {
    Reply name = callAccessible(node, kAction, "GetName", g_variant_new("(i)", i), "(s)", timeout);
    if (!name.value) return {name.error, {}};
    Held held{name.value};
    const gchar* text = nullptr;
    g_variant_get(name.value, "(&s)", &text);
    names.emplace_back(text ? text : "");
  }
  return {AXError::success, std::move(names)};
}

AtspiAnswer<bool> AtspiDbusBus::doAction(const AtspiNode& node, int32_t index, Timeout timeout) {
  Reply r = callAccessible(node, kAction, "DoAction", g_variant_new("(i)", index), "(b)", timeout);
  if (!r.value) return {r.error, false};
  Held held{r.value};
  gboolean done = FALSE;
  g_variant_get(r.value, "(b)", &done);
  return {AXError::success, done != FALSE};
}

AtspiAnswer<bool> AtspiDbusBus::selectChild(const AtspiNode& container, int32_t index, Timeout timeout) {
  Reply r = callAccessible(container, kSelection, "SelectChild", g_variant_new("(i)", index), "(b)", timeout);
  if (!r.value) return {r.error, false};
  Held held{r.value};
  gboolean done = FALSE;
  g_variant_get(r.value, "(b)", &done);
  return {AXError::success, done != FALSE};
}

AtspiAnswer<bool> AtspiDbusBus::isEnabled(Timeout timeout) {
  AXError error = AXError::cannotComplete;
  GDBusConnection* s = session(error);
  if (!s) return {error, false};
  Reply r = call(s, kLauncher, kLauncherPath, kProperties, "Get", g_variant_new("(ss)", kStatus, "IsEnabled"), "(v)",
                 timeout);
  g_object_unref(s);
  if (!r.value) return {r.error, false};
  Held held{r.value};
  GVariant* boxed = nullptr;
  g_variant_get(r.value, "(v)", &boxed);
  const bool on = boxed && g_variant_is_of_type(boxed, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(boxed);
  if (boxed) g_variant_unref(boxed);
  return {AXError::success, on};
}

AXError AtspiDbusBus::setEnabled(bool enabled, Timeout timeout) {
  AXError error = AXError::cannotComplete;
  GDBusConnection* s = session(error);
  if (!s) return error;
  // The launcher is started on demand here: this is the call that brings the bus up.
  GError* failed = nullptr;
  GVariant* value = g_dbus_connection_call_sync(
      s, kLauncher, kLauncherPath, kProperties, "Set",
      g_variant_new("(ssv)", kStatus, "IsEnabled", g_variant_new_boolean(enabled)), nullptr, G_DBUS_CALL_FLAGS_NONE,
      timeoutMs(std::max(timeout, Timeout(kSetupTimeout))), nullptr, &failed);
  g_object_unref(s);
  if (!value) {
    const AXError e = errorOf(failed);
    g_clear_error(&failed);
    return e;
  }
  g_variant_unref(value);
  return AXError::success;
}

}  // namespace quorvel
