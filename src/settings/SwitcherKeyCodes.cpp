#include "settings/SwitcherKeyCodes.h"

namespace quorvel {

const std::set<int64_t>& SwitcherKeyCodes::backwardKeyCodes() {
  static const std::set<int64_t> codes = {50, 10};
  return codes;
}

const std::map<int64_t, std::string_view>& SwitcherKeyCodes::switcherKeyMeanings() {
  static const std::map<int64_t, std::string_view> meanings = {
      {123, "moves to the window on the left"},
      {124, "moves to the window on the right"},
      {125, "moves down through your windows"},
      {126, "moves up through your windows"},
      {36, "switches to the selected window"},
      {76, "switches to the selected window"},
      {49, "starts searching your windows"},
      {48, "steps to the next window"},
      {51, "deletes a letter while you are searching"},
  };
  return meanings;
}

const std::set<int64_t>& SwitcherKeyCodes::bareKeyCodes() {
  static const std::set<int64_t> codes = {122, 120, 99,  118, 96,  97,  98,  100, 101,
                                          109, 103, 111, 105, 107, 113, 106, 64,  79,
                                          80,  90,  114, 115, 119, 116, 121, 117};
  return codes;
}

}  // namespace quorvel
