#include "settings_ui/TitleWordsEditor.h"

#include <set>

#include "settings/AppSettings.h"

namespace quorvel {

TitleWordsEditor::TitleWordsEditor(AppSettings& settings) : settings_(settings) {
  for (const auto& [id, list] : settings_.hiddenTitlePatterns()) texts_[id] = joined(list);
}

std::string TitleWordsEditor::text(const std::string& identifier) const {
  const auto it = texts_.find(identifier);
  return it == texts_.end() ? std::string() : it->second;
}

std::vector<std::string> TitleWordsEditor::words(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return AppSettings::normalizedTitleWords(pieces);
}

std::string TitleWordsEditor::joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) {
    if (!out.empty()) out += ", ";
    out += w;
  }
  return out;
}

void TitleWordsEditor::setText(const std::string& text, const std::string& identifier) {
  texts_[identifier] = text;
  auto patterns = settings_.hiddenTitlePatterns();
  patterns[identifier] = words(text);
  settings_.setHiddenTitlePatterns(patterns);
}

std::vector<std::string> TitleWordsEditor::sync() {
  const auto stored = settings_.hiddenTitlePatterns();
  std::set<std::string> ids;
  for (const auto& [id, text] : texts_) ids.insert(id);
  for (const auto& [id, list] : stored) ids.insert(id);
  std::vector<std::string> changed;
  for (const std::string& id : ids) {
    const auto it = stored.find(id);
    const std::vector<std::string> want = it == stored.end() ? std::vector<std::string>{} : it->second;
    const std::string current = text(id);
    if (words(current) == want) continue;
    texts_[id] = joined(want);
    changed.push_back(id);
  }
  return changed;
}

}  // namespace quorvel
