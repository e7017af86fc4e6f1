#include <gio/gio.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "X11SessionTest.h"
#include "platform/x11/X11DesktopSettings.h"

namespace quorvel {
namespace {

// An XSETTINGS property as a settings daemon writes it: a string, a colour, then the integers.
std::vector<uint8_t> xsettings(bool bigEndian, const std::vector<std::pair<std::string, int32_t>>& integers) {
  std::vector<uint8_t> out{static_cast<uint8_t>(bigEndian ? 1 : 0), 0, 0, 0};
  const auto card = [&](uint32_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      const size_t shift = 8 * (bigEndian ? size - 1 - i : i);
      out.push_back(static_cast<uint8_t>(value >> shift));
    }
  };
  const auto text = [&](const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.resize(out.size() + (4 - s.size() % 4) % 4, 0);
  };
  const auto head = [&](uint8_t type, const std::string& name) {
    out.push_back(type);
    out.push_back(0);
    card(static_cast<uint32_t>(name.size()), 2);
    text(name);
    card(7, 4);  // last change
  };
  card(42, 4);  // serial
  card(static_cast<uint32_t>(2 + integers.size()), 4);
  head(1, "Net/ThemeName");
  card(7, 4);
  text("Adwaita");
  head(2, "Gtk/Colour");
  for (int i = 0; i < 4; ++i) card(0xffff, 2);
  for (const auto& [name, value] : integers) {
    head(0, name);
    card(static_cast<uint32_t>(value), 4);
  }
  return out;
}

TEST(X11DesktopSettings, ReadsTheIntegerFromEitherByteOrderAndRefusesBrokenBytes) {
  for (bool bigEndian : {false, true}) {
    const std::vector<uint8_t> bytes = xsettings(bigEndian, {{"Gtk/CursorBlink", 1}, {"Gtk/EnableAnimations", 0}});
    EXPECT_EQ(X11DesktopSettings::xsettingsInteger(bytes, "Gtk/EnableAnimations"), 0) << bigEndian;
    EXPECT_EQ(X11DesktopSettings::xsettingsInteger(bytes, "Gtk/CursorBlink"), 1) << bigEndian;
    EXPECT_EQ(X11DesktopSettings::xsettingsInteger(bytes, "Net/ThemeName"), std::nullopt) << "not an integer";
    EXPECT_EQ(X11DesktopSettings::xsettingsInteger(bytes, "Gtk/Missing"), std::nullopt);
    // Cut anywhere, the bytes give no answer and no read beyond their end.
    for (size_t length = 0; length < bytes.size(); ++length) {
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
      EXPECT_EQ(X11DesktopSettings::xsettingsInteger(cut, "Gtk/EnableAnimations"), std::nullopt) << length;
    }
  }
  std::vector<uint8_t> count = xsettings(false, {});
  count[8] = 0xff;  // more entries than there are bytes
  EXPECT_EQ(X11DesktopSettings::xsettingsInteger(count, "Gtk/EnableAnimations"), std::nullopt);
}

// XSETTINGS answers first; GSettings only where XSETTINGS says nothing; neither: unknown.
TEST(X11DesktopSettings, TheFirstSourceThatPublishesTheSwitchDecides) {
  using Answer = std::optional<bool>;
  struct Case {
    Answer xsettings, gsettings, enabled;
  };
  for (const Case& c : std::vector<Case>{{std::nullopt, std::nullopt, std::nullopt},
                                         {std::nullopt, false, false},
                                         {true, false, true},
                                         {false, true, false}}) {
    X11DesktopSettings desktop([&] { return c.xsettings; }, [&] { return c.gsettings; });
    EXPECT_EQ(desktop.animationsEnabled(), c.enabled);
    EXPECT_EQ(desktop.reduceMotion(), c.enabled == false);
  }
}

// GSettings is listened to on a GNOME-family desktop, or anywhere once the user set the key.
TEST(X11DesktopSettings, GSettingsCountsOnGnomeOrWhereTheUserSetIt) {
  setenv("GSETTINGS_BACKEND", "memory", 1);
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE) : nullptr;
  if (!schema) {
    EXPECT_EQ(X11DesktopSettings::readGSettings("GNOME"), std::nullopt);
    GTEST_SKIP() << "the desktop's settings schemas (gsettings-desktop-schemas) are not installed";
  }
  GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
  g_settings_reset(settings, "enable-animations");
  EXPECT_EQ(X11DesktopSettings::readGSettings(""), std::nullopt);
  EXPECT_EQ(X11DesktopSettings::readGSettings("i3"), std::nullopt);
  EXPECT_EQ(X11DesktopSettings::readGSettings("ubuntu:GNOME"), true);
  g_settings_set_boolean(settings, "enable-animations", FALSE);
  EXPECT_EQ(X11DesktopSettings::readGSettings(""), false);
  g_settings_reset(settings, "enable-animations");
  g_object_unref(settings);
  g_settings_schema_unref(schema);
}

class X11DesktopSettingsSession : public X11SessionTest {};

// A settings daemon on the display: the owner of the screen's XSETTINGS selection and its property.
TEST_F(X11DesktopSettingsSession, FollowsTheSettingsManagerOfTheDisplay) {
  EXPECT_EQ(X11DesktopSettings::readXSettings(x()), std::nullopt) << "openbox publishes no settings";
  xcb_connection_t* c = x().xcb();
  const xcb_window_t manager = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, manager, x().root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  const uint32_t property = x().atom("_XSETTINGS_SETTINGS");
  for (int32_t enabled : {0, 1}) {
    const std::vector<uint8_t> bytes = xsettings(false, {{"Gtk/EnableAnimations", enabled}});
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, manager, property, property, 8, static_cast<uint32_t>(bytes.size()),
                        bytes.data());
    xcb_set_selection_owner(c, manager, x().atom("_XSETTINGS_S" + std::to_string(x().screenNumber())),
                            XCB_CURRENT_TIME);
    x().flush();
    EXPECT_EQ(X11DesktopSettings::readXSettings(x()), enabled != 0);
  }
  X11DesktopSettings desktop(x());
  EXPECT_EQ(desktop.animationsEnabled(), true);
  xcb_destroy_window(c, manager);  // the daemon ends: its selection goes with its window
  x().flush();
  EXPECT_EQ(X11DesktopSettings::readXSettings(x()), std::nullopt);
}

}  // namespace
}  // namespace quorvel
