#pragma once

#include <memory>

#include "platform/Accessibility.h"

namespace quorvel {

class SimWorld;

// Accessibility over the simulated applications' element trees.
class SimAccessibility final : public Accessibility {
 public:
  explicit SimAccessibility(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}

  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt(bool prompt) override;
  AXElementRef applicationElement(int32_t pid) override;
  AXAttributeResult copyAttributeValue(const AXElementRef& element, const std::string& attribute) override;
  std::vector<AXAttributeResult> copyMultipleAttributeValues(const AXElementRef& element,
                                                             const std::vector<std::string>& attributes) override;
  AXError copyAttributeNames(const AXElementRef& element, std::vector<std::string>& names) override;
  AXError setAttributeValue(const AXElementRef& element, const std::string& attribute, const AXValue& value) override;
  // A window's "AXPosition", "AXSize", "AXMinimized", "AXMain", "AXFocused" and "AXFullScreen" are
  // settable unless the test said otherwise (SimDesktop::setSettable); other elements' and
  // attributes' are not.
  AXError isAttributeSettable(const AXElementRef& element, const std::string& attribute, bool& settable) override;
  AXError performAction(const AXElementRef& element, const std::string& action) override;
  AXError setMessagingTimeout(const AXElementRef& element, float seconds) override;
  std::optional<int32_t> pid(const AXElementRef& element) override;
  std::optional<uint32_t> windowNumber(const AXElementRef& element) override;
  std::pair<AXError, std::shared_ptr<AXObserver>> createObserver(int32_t pid, AXObserver::Callback callback) override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
