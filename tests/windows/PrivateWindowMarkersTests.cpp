#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "windows/PrivateWindowMarkers.h"

namespace quorvel {
namespace {

using Family = PrivateWindowMarkers::Family;
using Markers = PrivateWindowMarkers;

std::optional<std::string> id(const char* text) { return std::string(text); }

TEST(PrivateWindowMarkers, FamilyByLongestLowerCasedPrefix) {
  EXPECT_EQ(Markers::family(id("com.google.Chrome.canary")), Family::chrome);
  EXPECT_EQ(Markers::family(id("org.chromium.Chromium")), Family::chrome);
  EXPECT_EQ(Markers::family(id("com.operasoftware.OperaGX")), Family::opera);
  EXPECT_EQ(Markers::family(id("com.apple.SafariTechnologyPreview")), Family::safari);
  EXPECT_EQ(Markers::family(id("org.mozilla.firefox")), Family::firefox);
  EXPECT_EQ(Markers::family(id("com.microsoft.edgemac.Dev")), Family::edge);
  EXPECT_EQ(Markers::family(id("com.brave.Browser.beta")), Family::brave);
  EXPECT_EQ(Markers::family(id("com.vivaldi.Vivaldi")), Family::vivaldi);
  EXPECT_EQ(Markers::family(id("com.apple.mail")), std::nullopt);
  EXPECT_EQ(Markers::family(id("")), std::nullopt);
  EXPECT_EQ(Markers::family(std::nullopt), std::nullopt);
  // A prefix must match from the start.
  EXPECT_EQ(Markers::family(id("x.com.google.chrome")), std::nullopt);
}

TEST(PrivateWindowMarkers, WindowTitlesNeedTheFamilysMarkerInItsPlace) {
  EXPECT_TRUE(Markers::isPrivate(id("com.google.Chrome"), "New Tab - Incognito"));
  EXPECT_FALSE(Markers::isPrivate(id("com.google.Chrome"), "Incognito - New Tab"));
  EXPECT_FALSE(Markers::isPrivate(id("com.google.Chrome"), "New Tab - incognito")) << "case matters";

  EXPECT_TRUE(Markers::isPrivate(id("com.microsoft.edgemac"), "Bing [InPrivate] - Microsoft Edge"));
  EXPECT_FALSE(Markers::isPrivateTabTitle(id("com.microsoft.edgemac"), "Bing [InPrivate] - Microsoft Edge"));
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("com.microsoft.edgemac"), "Bing (InPrivate)"));

  EXPECT_FALSE(Markers::isPrivate(id("com.apple.Safari"), "Apple, Private Browsing"));
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("com.apple.Safari"), "Apple, Private Browsing"));

  EXPECT_TRUE(Markers::isPrivate(id("com.brave.Browser"), "Search - Private"));
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("com.brave.Browser"), "Search (Privé)"));
  EXPECT_FALSE(Markers::isPrivateTabTitle(id("com.operasoftware.Opera"), "Search (Privé)"));
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("com.google.Chrome"), "検索（シークレット モード）"));

  EXPECT_TRUE(Markers::isPrivate(id("org.mozilla.firefox"), "Mozilla Firefox Private Browsing"));
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("org.mozilla.firefox"), "Startseite — Privater Modus"));

  // Not a browser, or no identifier, or no title.
  EXPECT_FALSE(Markers::isPrivate(id("com.apple.TextEdit"), "Notes - Incognito"));
  EXPECT_FALSE(Markers::isPrivate(std::nullopt, "Notes - Incognito"));
  EXPECT_FALSE(Markers::isPrivate(id("com.google.Chrome"), ""));
  EXPECT_FALSE(Markers::isPrivateTabTitle(id("com.google.Chrome"), ""));
}

TEST(PrivateWindowMarkers, DecomposedTitlesMatchComposedMarkers) {
  // "Navigation privée" with "e" + combining acute accent.
  const std::string decomposed = "Accueil \xE2\x80\x94 Navigation prive\xCC\x81" "e";
  EXPECT_TRUE(Markers::isPrivate(id("org.mozilla.firefox"), decomposed));
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("com.google.Chrome"), "Accueil (Navigation prive\xCC\x81" "e)"));
  // "Navegação privada" decomposed twice over (c + cedilla, a + tilde).
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("com.apple.Safari"),
                                         "Página, Navegac\xCC\xA7" "a\xCC\x83" "o privada"));
  // The accent on another letter is not the marker.
  EXPECT_FALSE(Markers::isPrivate(id("org.mozilla.firefox"), "Navigation pri\xCC\x81vee"));
}

TEST(PrivateWindowMarkers, LinuxBuildsHaveTheirBrowsersFamilyAndMarkers) {
  EXPECT_EQ(Markers::family(id("x11.firefox-esr")), Markers::Family::firefox);
  EXPECT_EQ(Markers::family(id("x11.chromium")), Markers::Family::chrome);
  EXPECT_EQ(Markers::family(id("x11.google-chrome")), Markers::Family::chrome);
  EXPECT_EQ(Markers::family(id("x11.microsoft-edge")), Markers::Family::edge);
  EXPECT_EQ(Markers::family(id("x11.brave-browser")), Markers::Family::brave);
  EXPECT_EQ(Markers::family(id("x11.xterm")), std::nullopt);
  // Titles as the Linux builds write them: Firefox marks the window's own title; Chromium marks
  // only the title it publishes on the accessibility bus, the way its tab titles are marked.
  EXPECT_TRUE(Markers::isPrivate(id("x11.firefox-esr"), "Page 3 — Mozilla Firefox Private Browsing"));
  EXPECT_FALSE(Markers::isPrivate(id("x11.firefox-esr"), "Page 3 — Mozilla Firefox"));
  EXPECT_FALSE(Markers::isPrivate(id("x11.chromium"), "Page 2 - Chromium"));
  EXPECT_TRUE(Markers::isPrivateTabTitle(id("x11.chromium"), "Page 2 - Chromium (Incognito)"));
}

}  // namespace
}  // namespace quorvel
