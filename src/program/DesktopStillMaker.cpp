#include "program/DesktopStillMaker.h"

#include <QPainter>

#include <xcb/xcb.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Executor.h"
#include "platform/ScreenCapture.h"
#include "platform/ShareableContent.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/X11ShareableContent.h"
#include "platform/x11/X11Workspace.h"

namespace quorvel {

namespace {

QImage imageOf(const PixelBuffer& buffer) {
  QImage image(buffer.width, buffer.height, QImage::Format_RGB32);
  for (int y = 0; y < buffer.height; ++y) std::copy_n(buffer.row(y), static_cast<size_t>(buffer.width) * 4, image.scanLine(y));
  return image;
}

DesktopStill stillOf(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  DesktopStill still{rgb.width(), rgb.height(), {}};
  still.pixels.resize(static_cast<size_t>(rgb.width()) * static_cast<size_t>(rgb.height()));
  for (int y = 0; y < rgb.height(); ++y) {
    std::copy_n(reinterpret_cast<const uint32_t*>(rgb.constScanLine(y)), rgb.width(),
                still.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(rgb.width()));
  }
  // The pictures were copied in with the alpha bytes their windows left (a frame of depth 32 may
  // leave anything there), which an image without alpha keeps as they were: the still is opaque.
  for (uint32_t& pixel : still.pixels) pixel |= 0xff000000u;
  return still;
}

// The pictures of one still as they come in, drawn once the last has.
struct Gathering {
  Rect screen;
  std::vector<ShareableWindow> windows;  // back to front
  std::vector<std::optional<PixelBuffer>> pictures;
  size_t missing = 0;
  std::mutex lock;
};

}  // namespace

QImage DesktopStillMaker::background(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(0x2b, 0x2d, 0x31));
  X11Connection& x = platform_.connection();
  for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
    const auto property = x.property(x.root(), x.atom(name), XCB_ATOM_PIXMAP, 1);
    if (!property || property->values32().empty()) continue;
    const uint32_t pixmap = property->values32().front();
    auto geometry = x.reply(xcb_get_geometry_reply, xcb_get_geometry(x.xcb(), pixmap));
    if (!geometry || geometry->depth < 24) continue;
    auto reply = x.reply(xcb_get_image_reply, xcb_get_image(x.xcb(), XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, 0, 0,
                                                            geometry->width, geometry->height, ~0u));
    const size_t bytes = static_cast<size_t>(geometry->width) * geometry->height * 4;
    if (!reply || static_cast<size_t>(xcb_get_image_data_length(reply.get())) < bytes) continue;
    const QImage wallpaper(xcb_get_image_data(reply.get()), geometry->width, geometry->height,
                           static_cast<qsizetype>(geometry->width) * 4, QImage::Format_RGB32);
    QPainter(&image).drawImage(QRect(0, 0, width, height), wallpaper);
    break;
  }
  return image;
}

void DesktopStillMaker::make(std::optional<uint32_t> displayID, int width,
                             std::function<void(std::optional<DesktopStill>)> done) {
  width = std::max(width, 1);
  X11ScreenCapture* capture = platform_.screenCapture();
  const int32_t own = platform_.workspace().ownPid();
  const xcb_screen_t* screen = platform_.connection().screen();
  const Rect whole{0, 0, static_cast<double>(screen->width_in_pixels), static_cast<double>(screen->height_in_pixels)};
  // What runs off the main thread reaches the main executor, never the maker.
  auto finish = [self = std::weak_ptr<DesktopStillMaker*>(self_), main = &main_, done, whole,
                 width](std::shared_ptr<Gathering> g) {
    main->post([self, done, g, whole, width] {
      const std::shared_ptr<DesktopStillMaker*> maker = self.lock();
      if (!maker) return;
      DesktopStillMaker& still = **maker;
      const Rect s = g->screen;
      const double scale = width / std::max(s.width, 1.0);
      const int height = std::max(static_cast<int>(s.height * scale), 1);
      // The wallpaper covers the root window; the still shows the first display of it.
      QImage image = still.background(std::max(static_cast<int>(whole.width * scale), 1),
                                std::max(static_cast<int>(whole.height * scale), 1))
                         .copy(static_cast<int>(s.x * scale), static_cast<int>(s.y * scale), width, height);
      QPainter painter(&image);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      for (size_t i = 0; i < g->windows.size(); ++i) {
        if (!g->pictures[i] || !g->pictures[i]->hasPixels()) continue;
        const Rect& f = g->windows[i].frame;
        painter.drawImage(QRectF((f.x - s.x) * scale, (f.y - s.y) * scale, f.width * scale, f.height * scale),
                          imageOf(*g->pictures[i]));
      }
      painter.end();
      done(stillOf(image));
    });
  };
  platform_.shareableContent().getShareableContent(
      false, true, [capture, own, whole, finish, displayID, width](ShareableContentResult content) {
        auto g = std::make_shared<Gathering>();
        g->screen = content.displays.empty() ? whole : content.displays.front().frame;
        for (const ShareableDisplay& d : content.displays)
          if (displayID && d.displayID == *displayID) g->screen = d.frame;
        if (!content.error) {
          for (auto it = content.windows.rbegin(); it != content.windows.rend(); ++it) {
            if (!it->isOnScreen || (it->owningApplication && it->owningApplication->processID == own)) continue;
            g->windows.push_back(*it);
          }
        }
        g->pictures.resize(g->windows.size());
        g->missing = g->windows.size();
        if (!capture || g->missing == 0) {
          finish(g);
          return;
        }
        const double scale = width / std::max(g->screen.width, 1.0);
        for (size_t i = 0; i < g->windows.size(); ++i) {
          const Rect& f = g->windows[i].frame;
          const CaptureConfiguration size{std::max(static_cast<int>(f.width * scale), 1),
                                          std::max(static_cast<int>(f.height * scale), 1)};
          capture->captureWindow(g->windows[i].windowID, size, [g, i, finish](CaptureResult result) {
            bool last = false;
            {
              std::lock_guard guard(g->lock);
              g->pictures[i] = std::move(result.picture);
              last = --g->missing == 0;
            }
            if (last) finish(g);
          });
        }
      });
}

}  // namespace quorvel
