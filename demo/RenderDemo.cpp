// quorvel-render-demo: opens an X11 window and animates sample cards in the arrangements named on
// the command line (all seven by default), so that a person can look at every arrangement. The
// selection steps every 0.6 s and the arrangement changes every 3 s.
//
//   quorvel-render-demo [--cards N] [--seconds S] [--validate] [--check] [arrangement...]
//
// With --validate the GPU runs under the Khronos validation layer (with its synchronization checks)
// and the program fails when the layer writes anything. It also fails when no frame was drawn.
// With --check, once the time is up the scene is left to come to rest and the window's own pixels
// are read back from the X server: the program fails unless the cards show where the scene places
// them, each in its own picture's colour, with the window see-through around them.
#include <dlfcn.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/DefaultsStore.h"
#include "base/SystemClock.h"
#include "base/ThreadRuntime.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "gpu/x11/VulkanWindowSurface.h"
#include "gpu/x11/X11ArgbWindow.h"
#include "pictures/GpuContext.h"
#include "pictures/TextureRasterizer.h"
#include "scene/CardPicking.h"
#include "scene/LayoutFactory.h"
#include "scene/render/FrameClock.h"
#include "scene/render/SceneRenderer.h"
#include "settings/AppSettings.h"

#if defined(__SANITIZE_ADDRESS__)
// The validation layer and the CPU driver keep a few allocations to the end of the process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libVkLayer_khronos_validation.so\nleak:libvulkan_lvp.so\nleak:libLLVM\n";
}
#endif

namespace quorvel {
namespace {

struct Options {
  int cards = 12;
  double seconds = 0;  // 0: until the window is closed
  bool validate = false;
  bool check = false;
  std::vector<AppSettings::SwitcherStyle> styles;
};

std::optional<AppSettings::SwitcherStyle> styleNamed(const std::string& name) {
  static const std::pair<const char*, AppSettings::SwitcherStyle> names[] = {
      {"coverArc", AppSettings::SwitcherStyle::coverArc}, {"tangentRing", AppSettings::SwitcherStyle::tangentRing},
      {"flatRing", AppSettings::SwitcherStyle::flatRing}, {"flip3d", AppSettings::SwitcherStyle::flip3d},
      {"cylinder", AppSettings::SwitcherStyle::cylinder}, {"expo", AppSettings::SwitcherStyle::expo},
      {"row", AppSettings::SwitcherStyle::row}};
  for (const auto& [text, style] : names)
    if (name == text) return style;
  return std::nullopt;
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--validate") {
      options.validate = true;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--cards" && i + 1 < argc) {
      options.cards = std::clamp(std::atoi(argv[++i]), 1, 400);
    } else if (arg == "--seconds" && i + 1 < argc) {
      options.seconds = std::max(0.0, std::atof(argv[++i]));
    } else if (auto style = styleNamed(arg)) {
      options.styles.push_back(*style);
    } else {
      std::fprintf(stderr,
                   "usage: quorvel-render-demo [--cards N] [--seconds S] [--validate] [--check] [coverArc tangentRing "
                   "flatRing flip3d cylinder expo row]\n");
      return false;
    }
  }
  if (options.styles.empty())
    for (const char* name : {"coverArc", "tangentRing", "flatRing", "flip3d", "cylinder", "expo", "row"})
      options.styles.push_back(*styleNamed(name));
  return true;
}

// The body colour (red, green, blue) of sample picture `index`.
std::array<uint8_t, 3> sampleColour(int index) {
  const float hue = static_cast<float>(index) * 0.618034f;
  auto channel = [&](float shift) {
    return static_cast<uint8_t>(120 + 100 * std::sin(6.2831853f * (hue + shift)));
  };
  return {channel(0), channel(1.0f / 3), channel(2.0f / 3)};
}

// A picture of a made-up window: a title bar, a body of one hue and a few lines of "text", all in
// shades of sampleColour(index).
std::shared_ptr<GpuTexture> samplePicture(const TextureRasterizer& rasterizer, int index) {
  const uint32_t w = 320, h = 200;
  const auto [r, g, b] = sampleColour(index);
  std::vector<uint8_t> bytes(w * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &bytes[(y * w + x) * 4];
      const bool titleBar = y < 18;
      const bool line = y > 30 && (y / 12) % 2 == 0 && x > 16 && x < w - 16 - (y * 7 % 90);
      const uint8_t shade = titleBar ? 60 : line ? 235 : 255;
      p[0] = static_cast<uint8_t>(b * shade / 255);
      p[1] = static_cast<uint8_t>(g * shade / 255);
      p[2] = static_cast<uint8_t>(r * shade / 255);
      p[3] = 255;
    }
  auto texture = rasterizer.context->device->makeTexture(
      {w, h, GpuTextureDescriptor::fullMipCount(w, h), false, "Quorvel demo picture " + std::to_string(index)});
  if (!texture || !texture->replaceLevel(0, bytes.data(), w * 4)) return nullptr;
  rasterizer.generateMipmaps(texture, "Quorvel demo picture mipmaps");
  return texture;
}

// A round badge of one colour (icons and action discs).
std::shared_ptr<GpuTexture> disc(const TextureRasterizer& rasterizer, uint8_t r, uint8_t g, uint8_t b,
                                 const std::string& label) {
  const uint32_t side = 64;
  std::vector<uint8_t> bytes(side * side * 4);
  for (uint32_t y = 0; y < side; ++y)
    for (uint32_t x = 0; x < side; ++x) {
      const float dx = x + 0.5f - side / 2.0f, dy = y + 0.5f - side / 2.0f;
      const float a = std::clamp(side / 2.0f - std::sqrt(dx * dx + dy * dy), 0.0f, 1.0f);
      uint8_t* p = &bytes[(y * side + x) * 4];
      p[0] = static_cast<uint8_t>(b * a);
      p[1] = static_cast<uint8_t>(g * a);
      p[2] = static_cast<uint8_t>(r * a);
      p[3] = static_cast<uint8_t>(255 * a);
    }
  auto texture = rasterizer.context->device->makeTexture({side, side, 7, false, label});
  if (!texture || !texture->replaceLevel(0, bytes.data(), side * 4)) return nullptr;
  rasterizer.generateMipmaps(texture, label + " mipmaps");
  return texture;
}

// Reads the window's pixels back from the X server and checks them against the scene: on a grid,
// every point well inside a card (the card the scene's own picking finds there, also 6 pixels to
// each side) shows a shade of that card's picture colour, and points off the cards are see-through
// where no shadow or reflection lies. Marks on the cards (icons, discs), cards seen through fading
// ones, shadows and reflections are allowed for by shares: 80 % of the points on the cards, and a
// quarter of those off them.
// `report`: the counts, or why the pixels could not be read.
bool checkWindow(X11ArgbWindow& window, SceneRenderer& renderer, std::string& report) {
  xcb_connection_t* c = window.connection();
  const Size size = window.size();
  const int w = static_cast<int>(size.width), h = static_cast<int>(size.height);
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // every frame put is in
  auto* image = xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window.window(), 0, 0,
                                                     static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u),
                                    nullptr);
  if (!image || xcb_get_image_data_length(image) < w * h * 4) {
    std::free(image);
    report = "window check: the window's pixels cannot be read\n";
    return false;
  }
  const uint8_t* pixels = xcb_get_image_data(image);
  const SceneProbe probe = renderer.state()->withLock([](SceneState::Storage& s) { return SceneState::probe(s); });
  auto cardAt = [&](int x, int y) {
    return CardPicking::cardAtPoint(probe, Float2{static_cast<float>(x), static_cast<float>(h - y)},
                                    static_cast<float>(w), static_cast<float>(h), probe.focus, probe.reformBlend);
  };
  int onCards = 0, matching = 0, offCards = 0, clear = 0;
  for (int y = 8; y < h - 8; y += 8) {
    for (int x = 8; x < w - 8; x += 8) {
      const uint8_t* p = pixels + (static_cast<size_t>(y) * w + x) * 4;  // blue, green, red, alpha
      const auto card = cardAt(x, y);
      if (!card) {
        ++offCards;
        if (p[3] == 0) ++clear;
        continue;
      }
      if (cardAt(x - 6, y) != card || cardAt(x + 6, y) != card || cardAt(x, y - 6) != card || cardAt(x, y + 6) != card)
        continue;  // an edge
      ++onCards;
      // A shade of the picture's colour: the pixel is t × colour for one t (premultiplied pixels
      // of a dimmed, faded or shaded card stay on that line).
      const auto colour = sampleColour(static_cast<int>((*probe.cards)[static_cast<size_t>(*card)].id) - 1);
      const double cr = colour[0], cg = colour[1], cb = colour[2];
      const double pr = p[2], pg = p[1], pb = p[0];
      const double t = (pr * cr + pg * cg + pb * cb) / (cr * cr + cg * cg + cb * cb);
      const double off = std::sqrt(std::pow(pr - t * cr, 2) + std::pow(pg - t * cg, 2) + std::pow(pb - t * cb, 2));
      if (p[3] > 0 && t > 0.1 && off < 12) ++matching;
    }
  }
  std::free(image);
  char counts[160];
  std::snprintf(counts, sizeof counts,
                "window check: %d of %d points on the cards show their picture, %d of %d off them are see-through\n",
                matching, onCards, clear, offCards);
  report = counts;
  return onCards >= 50 && matching >= onCards * 8 / 10 && offCards > 0 && clear >= offCards / 4;
}

int run(const Options& options) {
  ThreadRuntime runtime;
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  store.set("windowActionsEnabled", true);
  store.set("showActionButtons", true);

  std::string error;
  auto window = X11ArgbWindow::open("", {"Quorvel render demo", {0, 0, 1024, 640}, false}, &error);
  if (!window) {
    std::fprintf(stderr, "quorvel-render-demo: %s\n", error.c_str());
    return 2;
  }
  std::atomic<int> messages{0};
  VulkanDeviceOptions deviceOptions;
  deviceOptions.validation = options.validate;
  deviceOptions.synchronizationValidation = options.validate;
  deviceOptions.onValidationMessage = [&](const std::string& m) {
    ++messages;
    std::fprintf(stderr, "validation: %s\n", m.c_str());
  };
  // Kept loaded to the end, so that the leak checker can name (and pass over) what they keep.
  for (const char* library : {"libVkLayer_khronos_validation.so", "libvulkan_lvp.so"})
    (void)dlopen(library, RTLD_NOW | RTLD_NODELETE);
  auto device = VulkanDevice::make(deviceOptions, &error);
  if (!device) {
    std::fprintf(stderr, "Vulkan is unavailable: %s\n", error.c_str());
    return 2;
  }
  std::printf("GPU: %s\n", device->name().c_str());
  auto context = GpuContext::make(device);
  const TextureRasterizer rasterizer{context};
  auto surface = VulkanWindowSurface::make(device, window->connection(), window->window(), "Quorvel demo", &error);
  if (!context || !surface) {
    std::fprintf(stderr, "quorvel-render-demo: %s\n", error.c_str());
    return 2;
  }
  surface->setBounds(window->size());
  surface->setContentsScale(1);
  window->show();

  std::vector<std::shared_ptr<GpuTexture>> pictures;
  std::vector<WindowCard> cards;
  std::vector<Rect> rects;
  for (int i = 0; i < options.cards; ++i) {
    pictures.push_back(samplePicture(rasterizer, i));
    WindowCard card;
    card.id = static_cast<uint32_t>(i + 1);
    card.orderingID = card.id;
    card.pid = 1000 + i % 5;
    card.title = "Sample window " + std::to_string(i + 1);
    card.appName = "Sample";
    card.frame = {40.0 * (i % 8), 30.0 * (i % 6), 800 + 40.0 * (i % 3), 500};
    card.ax = std::make_shared<const AXHandle>(nullptr);
    cards.push_back(card);
    rects.push_back({card.frame.x / 2, card.frame.y / 2, card.frame.width / 2, card.frame.height / 2});
  }
  const auto icon = disc(rasterizer, 240, 180, 40, "Quorvel demo icon");
  const auto close = disc(rasterizer, 235, 80, 70, "Quorvel demo close");
  const auto minimize = disc(rasterizer, 240, 200, 60, "Quorvel demo minimize");

  CardRenderer::Providers providers;
  providers.picture = [&pictures](uint32_t id) -> std::optional<CardPicture> {
    if (id == 0 || id > pictures.size() || !pictures[id - 1]) return std::nullopt;
    return CardPicture{pictures[id - 1], CaptureExtent{}};
  };
  providers.icon = [icon](int32_t) { return icon; };
  providers.action = [close, minimize](CardAction action, bool) { return action == CardAction::close ? close : minimize; };

  SceneWake& wake = SceneWake::shared();
  const Clock& clock = SystemClock::shared();
  auto renderer = SceneRenderer::makeRenderer(
      context, surface, providers, [](int, FocusChangeSource) {},
      SceneRenderer::Services{runtime.main(), clock, wake, settings,
                              [&clock] { return std::make_shared<FrameClock>(clock); }});
  if (!renderer->core()) return 2;

  size_t styleIndex = 0;
  auto applyStyle = [&](bool animated) {
    renderer->state()->withLock([&](SceneState::Storage& s) {
      wake.wake(s, [&](SceneState::Storage& st) {
        const auto style = options.styles[styleIndex % options.styles.size()];
        const bool clamps = style == AppSettings::SwitcherStyle::row || style == AppSettings::SwitcherStyle::expo;
        SceneState::applyStyle(st, clamps ? OrbitCamera::FocusMode::clamp : OrbitCamera::FocusMode::wrap, animated,
                               LayoutFactory::makeLayout(style, settings), 0.92);
      });
    });
  };
  applyStyle(false);
  renderer->present(cards, rects, true, 0, window->refreshRate());

  const Instant start = clock.now();
  Instant lastStep = start, lastStyle = start;
  bool quit = false;
  std::function<void()> poll = [&] {
    if (auto size = window->pollEvents()) {
      surface->setBounds(*size);
      renderer->syncDrawableSize();
    }
    const Instant now = clock.now();
    if (window->closeRequested() || (options.seconds > 0 && now - start >= fromSeconds(options.seconds))) {
      quit = true;
      runtime.quitMain();
      return;
    }
    if (now - lastStep >= fromSeconds(0.6)) {
      lastStep = now;
      renderer->state()->withLock(
          [&](SceneState::Storage& s) { wake.wake(s, [](SceneState::Storage& st) { SceneState::step(st, 1); }); });
    }
    if (options.styles.size() > 1 && now - lastStyle >= fromSeconds(3)) {
      lastStyle = now;
      ++styleIndex;
      applyStyle(true);
    }
    runtime.main().postAfter(std::chrono::milliseconds(16), poll);
  };
  runtime.main().post(poll);
  while (!quit) runtime.runMain();

  bool checked = true;
  if (options.check) {
    // The scene comes to rest, and its last frame reaches the window: on a busy machine a frame
    // may take seconds to be put. The check passes once the window shows the resting scene, and
    // fails with what the window showed last when that has not happened within a minute.
    std::string report = "window check: the scene did not come to rest\n";
    checked = false;
    for (const Instant end = clock.now() + fromSeconds(60); !checked && clock.now() < end;) {
      window->pollEvents();
      if (renderer->core()->pacing().sceneAtRest()) checked = checkWindow(*window, *renderer, report);
      if (!checked) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::fputs(report.c_str(), checked ? stdout : stderr);
  }

  renderer->stop();
  renderer->shutdown();
  const int frames = renderer->core()->pacing().record().frames;
  device->waitIdle();
  std::printf("frames drawn: %d, frames shown in the window: %llu, validation messages: %d\n", frames,
              static_cast<unsigned long long>(surface->presentedCount()), messages.load());
  renderer.reset();
  surface.reset();
  return messages.load() == 0 && frames > 0 && checked ? 0 : 1;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  quorvel::Options options;
  if (!quorvel::parse(argc, argv, options)) return 2;
  return quorvel::run(options);
}
