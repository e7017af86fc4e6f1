#pragma once

#include <atomic>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "base/VirtualClock.h"
#include "tabs/IconDecoder.h"
#include "tabs/IconTextureMaker.h"

// Stand-ins for the GPU side of the site-icon store: textures that remember what they were made
// from, a maker that can be told to fail, and a decoder that reads a one-line text format.
namespace quorvel::siteicons {

struct FakeTexture final : IconTexture {
  RasterBitmap::Pixel firstPixel;
  std::string label;
  int serial = 0;
};

inline const FakeTexture& fake(const IconTextureRef& texture) { return static_cast<const FakeTexture&>(*texture); }

class FakeTextureMaker final : public IconTextureMaker {
 public:
  IconTextureRef makeMipmappedTexture(const RasterBitmap& bitmap, std::string_view label) override {
    ++calls;
    if (failing) return nullptr;
    auto texture = std::make_shared<FakeTexture>();
    texture->firstPixel = bitmap.pixel(0, 0);
    texture->label = label;
    texture->serial = ++made;
    return texture;
  }
  bool failing = false;
  int calls = 0;
  int made = 0;
};

// A crop texture, as the picture cache hands them in.
inline IconTextureRef cropTexture(int serial) {
  auto texture = std::make_shared<FakeTexture>();
  texture->serial = -serial;
  return texture;
}

// Bytes "icon:<text>" decode to a bitmap whose first pixel's blue is the text's length; anything
// else fails.
class FakeDecoder final : public IconDecoder {
 public:
  Result render(std::span<const uint8_t> bytes) const override {
    decoded.push_back(std::string(bytes.begin(), bytes.end()));
    if (onDecode) onDecode();
    const std::string text(bytes.begin(), bytes.end());
    if (!text.starts_with("icon:")) return {{}, Failure::undecodable};
    Result result;
    result.bitmap = RasterBitmap::make(IconTextureMaker::kSide, IconTextureMaker::kSide);
    result.bitmap->data()[0] = static_cast<uint8_t>(text.size() - 5);
    return result;
  }
  mutable std::vector<std::string> decoded;
  std::function<void()> onDecode;  // runs within each decode
};

// A main queue whose jobs the test runs one at a time.
class SteppedQueue final : public Executor {
 public:
  void post(Job job) override { jobs_.push_back(std::move(job)); }
  TimerId postAfter(Duration, Job job) override {
    post(std::move(job));
    return 0;
  }
  bool cancel(TimerId) override { return false; }
  bool isCurrent() const override { return running_; }
  Clock& clock() const override { return clock_; }
  VirtualClock& virtualClock() { return clock_; }
  const std::string& label() const override { return label_; }
  // Runs the oldest job; false when there is none.
  bool runOne() {
    if (jobs_.empty()) return false;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    running_ = true;
    runJob(this, job);
    running_ = false;
    return true;
  }
  size_t runAll() {
    size_t count = 0;
    while (runOne()) ++count;
    return count;
  }

 private:
  std::deque<Job> jobs_;
  bool running_ = false;
  mutable VirtualClock clock_;
  std::string label_ = "main";
};

inline std::vector<uint8_t> iconBytes(const std::string& text) {
  const std::string bytes = "icon:" + text;
  return {bytes.begin(), bytes.end()};
}

}  // namespace quorvel::siteicons
