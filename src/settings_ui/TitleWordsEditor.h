#pragma once

#include <map>
#include <string>
#include <vector>

namespace quorvel {

class AppSettings;

// The title-word boxes of the hidden applications screen as plain state: one text per application,
// kept exactly as typed while it still means the stored words, and stored on every edit (split at
// commas, normalised by the settings model, which also drops empty lists and applications no
// longer hidden). A change of the stored words made elsewhere rewrites the boxes it concerns; the
// box being typed in is never rewritten by its own write coming back.
//
// Threads: main thread only.
class TitleWordsEditor {
 public:
  explicit TitleWordsEditor(AppSettings& settings);

  // The box's text ("" when it has none).
  std::string text(const std::string& identifier) const;
  // One edit of a box: kept as typed and stored at once.
  void setText(const std::string& text, const std::string& identifier);
  // Rewrites the boxes whose text no longer means the stored words; returns their identifiers.
  std::vector<std::string> sync();
  // The words a box's text means: split at commas, normalised.
  static std::vector<std::string> words(const std::string& text);
  static std::string joined(const std::vector<std::string>& words);

 private:
  AppSettings& settings_;
  std::map<std::string, std::string> texts_;
};

}  // namespace quorvel
