#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "base/Executor.h"

namespace quorvel {

// The word on a Copy button: "Copy", and "Copied" for a moment after each copy, so that the user
// sees the click took. A copy while it says "Copied" starts the moment again.
//
// Threads: the executor's (the main one); the moment is a delayed job on it, read from its clock.
class CopyFeedback {
 public:
  static constexpr Duration shownFor = std::chrono::milliseconds(1500);
  static constexpr const char* copyWord = "Copy";
  static constexpr const char* copiedWord = "Copied";

  // `changed` runs with the new word whenever it changes.
  CopyFeedback(Executor& main, std::function<void(const std::string&)> changed);
  ~CopyFeedback();
  CopyFeedback(const CopyFeedback&) = delete;
  CopyFeedback& operator=(const CopyFeedback&) = delete;

  // The button was pressed and the text is on the clipboard.
  void copied();
  const std::string& word() const { return word_; }

 private:
  void show(std::string word);

  Executor& main_;
  std::function<void(const std::string&)> changed_;
  std::string word_ = copyWord;
  std::optional<TimerId> back_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quorvel
