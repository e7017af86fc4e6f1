#include "platform/x11/X11DesktopSettings.h"

#include <gio/gio.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/x11/X11Connection.h"

namespace quorvel {

namespace {

constexpr const char* kAnimations = "Gtk/EnableAnimations";
constexpr const char* kSchema = "org.gnome.desktop.interface";
constexpr const char* kKey = "enable-animations";

// The reader of an XSETTINGS property: byte order, serial and count, then one entry after another,
// each padded to four bytes.
class XSettingsReader {
 public:
  explicit XSettingsReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  bool bigEndian() const { return !bytes_.empty() && bytes_[0] == 1; }
  bool skip(size_t count) {
    if (bytes_.size() - at_ < count) return false;
    at_ += count;
    return true;
  }
  std::optional<uint32_t> card(size_t size) {
    if (bytes_.size() - at_ < size) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) {
      const uint32_t byte = bytes_[at_ + (bigEndian() ? i : size - 1 - i)];
      value = (value << 8) | byte;
    }
    at_ += size;
    return value;
  }
  std::optional<std::string_view> text(size_t length) {
    if (bytes_.size() - at_ < length) return std::nullopt;
    std::string_view value(reinterpret_cast<const char*>(bytes_.data() + at_), length);
    at_ += length;
    if (!skip((4 - length % 4) % 4)) return std::nullopt;
    return value;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

bool gnomeFamily(std::string_view desktops) {
  size_t start = 0;
  while (start <= desktops.size()) {
    const size_t end = std::min(desktops.find(':', start), desktops.size());
    const std::string_view name = desktops.substr(start, end - start);
    for (std::string_view known : {"GNOME", "GNOME-Classic", "GNOME-Flashback", "Unity", "Budgie", "Pantheon"}) {
      if (name == known) return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

X11DesktopSettings::X11DesktopSettings(X11Connection& connection)
    : xsettings_([&connection] { return readXSettings(connection); }),
      gsettings_([] {
        const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
        return readGSettings(desktops ? desktops : "");
      }) {}

X11DesktopSettings::X11DesktopSettings(Source xsettings, Source gsettings)
    : xsettings_(std::move(xsettings)), gsettings_(std::move(gsettings)) {}

X11DesktopSettings::~X11DesktopSettings() = default;

std::optional<bool> X11DesktopSettings::animationsEnabled() const {
  if (xsettings_) {
    if (std::optional<bool> published = xsettings_()) return published;
  }
  if (gsettings_) return gsettings_();
  return std::nullopt;
}

std::optional<int32_t> X11DesktopSettings::xsettingsInteger(const std::vector<uint8_t>& bytes, std::string_view name) {
  XSettingsReader read(bytes);
  if (bytes.empty() || bytes[0] > 1 || !read.skip(4) || !read.card(4)) return std::nullopt;
  const std::optional<uint32_t> count = read.card(4);
  if (!count) return std::nullopt;
  for (uint32_t i = 0; i < *count; ++i) {
    const std::optional<uint32_t> type = read.card(1);
    if (!type || !read.skip(1)) return std::nullopt;
    const std::optional<uint32_t> nameLength = read.card(2);
    if (!nameLength) return std::nullopt;
    const std::optional<std::string_view> entry = read.text(*nameLength);
    if (!entry || !read.card(4)) return std::nullopt;  // the serial of its last change
    switch (*type) {
      case 0: {  // an integer
        const std::optional<uint32_t> value = read.card(4);
        if (!value) return std::nullopt;
        if (*entry == name) return static_cast<int32_t>(*value);
        break;
      }
      case 1: {  // a string
        const std::optional<uint32_t> length = read.card(4);
        if (!length || !read.text(*length)) return std::nullopt;
        break;
      }
      case 2:  // a colour: four 16-bit channels
        if (!read.skip(8)) return std::nullopt;
        break;
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<bool> X11DesktopSettings::readXSettings(X11Connection& connection) {
  const uint32_t selection = connection.atom("_XSETTINGS_S" + std::to_string(connection.screenNumber()));
  const uint32_t settings = connection.atom("_XSETTINGS_SETTINGS");
  if (!selection || !settings) return std::nullopt;
  xcb_connection_t* c = connection.xcb();
  auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
  const xcb_window_t manager = owner ? owner->owner : XCB_NONE;
  std::free(owner);
  if (manager == XCB_NONE) return std::nullopt;
  const std::optional<X11Connection::Property> property = connection.property(manager, settings, settings);
  if (!property || property->format != 8 || property->truncated) return std::nullopt;
  const std::optional<int32_t> value = xsettingsInteger(property->bytes, kAnimations);
  if (!value) return std::nullopt;
  return *value != 0;
}

std::optional<bool> X11DesktopSettings::readGSettings(std::string_view desktops) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // not ours to free
  if (!source) return std::nullopt;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
  if (!schema) return std::nullopt;
  std::optional<bool> result;
  if (g_settings_schema_has_key(schema, kKey)) {
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    GVariant* set = g_settings_get_user_value(settings, kKey);
    if (set || gnomeFamily(desktops)) result = g_settings_get_boolean(settings, kKey) != FALSE;
    if (set) g_variant_unref(set);
    g_object_unref(settings);
  }
  g_settings_schema_unref(schema);
  return result;
}

}  // namespace quorvel
