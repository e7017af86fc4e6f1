#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class X11Connection;

// The desktop's own switch for animations, where the desktop publishes one: the XSETTINGS value
// "Gtk/EnableAnimations" that the settings daemons of GTK desktops (GNOME, Xfce, Cinnamon, MATE)
// publish on the X display, else the GSettings key "enable-animations" of
// "org.gnome.desktop.interface" on a GNOME-family desktop or wherever the user has set it. A plain
// window manager publishes neither: the switch is then unknown, and nothing is promised about it.
//
// Threads: any; each question reads the sources afresh (a property read on the display, and the
// settings backend's own cache).
class X11DesktopSettings {
 public:
  // A source's answer: the switch, or none when the source does not publish it.
  using Source = std::function<std::optional<bool>()>;

  // The two sources of the running desktop: the XSETTINGS manager of `connection`'s screen, and
  // GSettings (none when its schema is not installed).
  explicit X11DesktopSettings(X11Connection& connection);
  // Given sources (tests).
  X11DesktopSettings(Source xsettings, Source gsettings);
  ~X11DesktopSettings();
  X11DesktopSettings(const X11DesktopSettings&) = delete;
  X11DesktopSettings& operator=(const X11DesktopSettings&) = delete;

  // Whether the desktop wants animations: XSETTINGS first, then GSettings; none when neither says.
  std::optional<bool> animationsEnabled() const;
  // The desktop asks for reduced motion: its animation switch is published and off.
  bool reduceMotion() const { return animationsEnabled() == false; }

  // The integer setting `name` in an XSETTINGS property's bytes; none when the bytes hold no such
  // setting or are not a well-formed XSETTINGS property.
  static std::optional<int32_t> xsettingsInteger(const std::vector<uint8_t>& bytes, std::string_view name);
  // "Gtk/EnableAnimations" as published on `connection`'s screen now; none without an XSETTINGS
  // manager or without that setting.
  static std::optional<bool> readXSettings(X11Connection& connection);
  // "enable-animations" of "org.gnome.desktop.interface", when the schema is installed and either
  // the user set the key or `desktops` (XDG_CURRENT_DESKTOP's form: names joined by ':') names a
  // GNOME-family desktop; none otherwise.
  static std::optional<bool> readGSettings(std::string_view desktops);

 private:
  Source xsettings_;
  Source gsettings_;
};

}  // namespace quorvel
