#include "windows/PrivateWindowMarkers.h"

#include <array>
#include <utility>
#include <vector>

#include "base/TextServices.h"

namespace quorvel {

namespace {

using Family = PrivateWindowMarkers::Family;

// The reverse-DNS bundle identifiers, then the X11 identities of the Linux builds ("x11." and
// the window class lower-cased).
constexpr std::array<std::pair<std::string_view, Family>, 15> kPrefixes = {{
    {"org.mozilla.", Family::firefox},
    {"com.google.chrome", Family::chrome},
    {"org.chromium.", Family::chrome},
    {"com.microsoft.edgemac", Family::edge},
    {"com.brave.browser", Family::brave},
    {"com.operasoftware.opera", Family::opera},
    {"com.vivaldi.vivaldi", Family::vivaldi},
    {"com.apple.safari", Family::safari},
    {"x11.firefox", Family::firefox},
    {"x11.google-chrome", Family::chrome},
    {"x11.chromium", Family::chrome},
    {"x11.microsoft-edge", Family::edge},
    {"x11.brave-browser", Family::brave},
    {"x11.opera", Family::opera},
    {"x11.vivaldi", Family::vivaldi},
}};

const std::vector<std::string_view> kFirefoxMarkers = {
    "Private Browsing", "Privater Modus", "Navigation privée", "Navegación privada", "Navigazione anonima",
    "navegação privativa", "Navegação privativa", "Navegação privada", "privénavigatie", "Privénavigatie",
    "tryb prywatny", "Tryb prywatny", "Приватный просмотр", "プライベートブラウジング", "隐私浏览",
};

const std::vector<std::string_view> kChromeTabMarkers = {
    " (Incognito)", " (anonym)", " (Navigation privée)", " (incógnito)", " (In incognito)",
    " (Modo anônimo)", " (Navegação anónima)", " (инкогнито)", "（シークレット モード）", "（无痕）",
};

const std::vector<std::string_view> kBraveTabMarkers = {
    " (Private)", " (Privat)", " (Navigation privée)", " (Privado)", " (Privato)", " (Navegação privada)",
    " (Privé)", " (Prywatny)", " (Приватное)", " (プライベート)", "（无痕）",
};

const std::vector<std::string_view> kSafariTabMarkers = {
    ", Private Browsing", ", Privates Surfen", ", Navigation privée", ", Navegación privada",
    ", Navigazione privata", ", Navegação privada", ", Privé navigeren", ", Частный доступ",
    ", プライベートブラウズ", ", 무단 브라우징", ", 私密瀏覽", ", 无痕浏览",
};

// Markers are compared in composed form, so that a title in decomposed form matches too.
std::vector<std::string> composed(const std::vector<std::string_view>& markers) {
  std::vector<std::string> out;
  out.reserve(markers.size());
  for (std::string_view marker : markers) out.push_back(TextServices::nfc(marker));
  return out;
}

struct MarkerTables {
  std::vector<std::string> firefox = composed(kFirefoxMarkers);
  std::vector<std::string> chromeWindow = composed({" - Incognito"});
  std::vector<std::string> edgeWindow = composed({"[InPrivate]"});
  std::vector<std::string> chromiumPrivateWindow = composed({" - Private"});
  std::vector<std::string> chromeTab = composed(kChromeTabMarkers);
  std::vector<std::string> edgeTab = composed({" (InPrivate)"});
  std::vector<std::string> braveTab = composed(kBraveTabMarkers);
  std::vector<std::string> chromiumPrivateTab = composed({" (Private)"});
  std::vector<std::string> safariTab = composed(kSafariTabMarkers);
};

const MarkerTables& tables() {
  static const MarkerTables instance;
  return instance;
}

bool endsWithAny(const std::string& title, const std::vector<std::string>& markers) {
  for (const std::string& marker : markers) {
    if (title.size() >= marker.size() && title.compare(title.size() - marker.size(), marker.size(), marker) == 0) {
      return true;
    }
  }
  return false;
}

bool containsAny(const std::string& title, const std::vector<std::string>& markers) {
  for (const std::string& marker : markers) {
    if (title.find(marker) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::optional<Family> PrivateWindowMarkers::family(const std::optional<std::string>& bundleID) {
  if (!bundleID || bundleID->empty()) return std::nullopt;
  // Bundle identifiers are ASCII; the lower-casing ignores the user's locale.
  const std::string lowered = TextServices::lowercased(*bundleID, "en");
  std::optional<Family> found;
  size_t longest = 0;
  for (const auto& [prefix, candidate] : kPrefixes) {
    if (lowered.starts_with(prefix) && prefix.size() > longest) {
      longest = prefix.size();
      found = candidate;
    }
  }
  return found;
}

bool PrivateWindowMarkers::isPrivate(const std::optional<std::string>& bundleID, std::string_view title) {
  if (title.empty()) return false;
  const auto found = family(bundleID);
  if (!found) return false;
  const MarkerTables& t = tables();
  const std::string text = TextServices::nfc(title);
  switch (*found) {
    case Family::firefox: return endsWithAny(text, t.firefox);
    case Family::chrome: return endsWithAny(text, t.chromeWindow);
    case Family::edge: return containsAny(text, t.edgeWindow);
    case Family::brave:
    case Family::opera:
    case Family::vivaldi: return endsWithAny(text, t.chromiumPrivateWindow);
    case Family::safari: return false;
  }
  return false;
}

bool PrivateWindowMarkers::isPrivateTabTitle(const std::optional<std::string>& bundleID, std::string_view title) {
  if (title.empty()) return false;
  const auto found = family(bundleID);
  if (!found) return false;
  const MarkerTables& t = tables();
  const std::string text = TextServices::nfc(title);
  switch (*found) {
    case Family::firefox: return endsWithAny(text, t.firefox);
    case Family::chrome: return endsWithAny(text, t.chromeTab);
    case Family::edge: return endsWithAny(text, t.edgeTab);
    case Family::brave: return endsWithAny(text, t.braveTab);
    case Family::opera:
    case Family::vivaldi: return endsWithAny(text, t.chromiumPrivateTab);
    case Family::safari: return endsWithAny(text, t.safariTab);
  }
  return false;
}

}  // namespace quorvel
