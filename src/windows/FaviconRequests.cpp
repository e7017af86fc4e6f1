#include "windows/FaviconRequests.h"

#include "tabs/BrowserDataFolders.h"

namespace quorvel {

std::vector<FaviconResolver::Request> FaviconRequests::requests(const std::vector<WindowCard>& cards) {
  std::vector<FaviconResolver::Request> result;
  for (const WindowCard& card : cards) {
    if (!card.tab || card.isPrivate || card.title.empty() || !card.bundleID || card.bundleID->empty()) continue;
    const std::optional<FaviconBrowser> family = BrowserDataFolders::family(*card.bundleID);
    if (!family) continue;
    result.push_back(FaviconResolver::Request{card.id, card.title, *family, *card.bundleID});
  }
  return result;
}

}  // namespace quorvel
