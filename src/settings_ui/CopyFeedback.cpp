#include "settings_ui/CopyFeedback.h"

namespace quorvel {

CopyFeedback::CopyFeedback(Executor& main, std::function<void(const std::string&)> changed)
    : main_(main), changed_(std::move(changed)) {}

CopyFeedback::~CopyFeedback() {
  alive_.reset();
  if (back_) main_.cancel(*back_);
}

void CopyFeedback::copied() {
  if (back_) main_.cancel(*back_);
  back_ = main_.postAfter(shownFor, [alive = std::weak_ptr<bool>(alive_), this] {
    if (!alive.lock()) return;
    back_.reset();
    show(copyWord);
  });
  show(copiedWord);
}

void CopyFeedback::show(std::string word) {
  if (word == word_) return;
  word_ = std::move(word);
  if (changed_) changed_(word_);
}

}  // namespace quorvel
