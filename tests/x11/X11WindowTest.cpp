#include "platform/x11/X11Window.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(X11WindowTest, BundleIdentifierIsTheLowerCasedClassUnderX11) {
  EXPECT_EQ(X11Window::bundleIdentifierFor("XTerm"), "x11.xterm");
  EXPECT_EQ(X11Window::bundleIdentifierFor("Google-chrome"), "x11.google-chrome");
  EXPECT_EQ(X11Window::bundleIdentifierFor("org.gnome.Nautilus"), "x11.org.gnome.nautilus");
  // Characters that do not belong in an identifier become '-', one per character.
  EXPECT_EQ(X11Window::bundleIdentifierFor("Sublime Text/3"), "x11.sublime-text-3");
  EXPECT_EQ(X11Window::bundleIdentifierFor("\xC3\x84rger"), "x11.-rger");
  EXPECT_EQ(X11Window::bundleIdentifierFor(""), std::nullopt);

  X11Window w;
  w.className = "Firefox";
  EXPECT_EQ(w.applicationName(), "Firefox");
  EXPECT_EQ(w.bundleIdentifier(), "x11.firefox");
}

TEST(X11WindowTest, OnlyNormalWindowsAndDialogsAreOnLayerZero) {
  using T = X11Window::Type;
  EXPECT_EQ(X11Window::layerOf(T::normal), 0);
  EXPECT_EQ(X11Window::layerOf(T::dialog), 0);
  for (T type : {T::utility, T::toolbar, T::splash, T::menu, T::dropdownMenu, T::popupMenu, T::tooltip,
                 T::notification, T::combo, T::dnd, T::dock, T::desktop}) {
    EXPECT_NE(X11Window::layerOf(type), 0) << static_cast<int>(type);
  }
  EXPECT_LT(X11Window::layerOf(T::desktop), 0);
}

}  // namespace
}  // namespace quorvel
