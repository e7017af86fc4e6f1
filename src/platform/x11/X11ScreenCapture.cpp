#include "platform/x11/X11ScreenCapture.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/Logger.h"
#include "base/ThreadName.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11DisplayReader.h"
#include "platform/x11/X11Rect.h"

namespace quorvel {

namespace {

constexpr const char* kWindowGone = "The window is not on screen or is gone";

// One shared-memory segment attached to the server, grown on demand; used by one thread at a time.
class ShmSegment {
 public:
  explicit ShmSegment(X11Connection& connection) : connection_(connection) {}
  ~ShmSegment() { release(); }
  ShmSegment(const ShmSegment&) = delete;
  ShmSegment& operator=(const ShmSegment&) = delete;

  // A segment of at least `size` bytes attached to the server; false when none can be made.
  bool reserve(size_t size) {
    if (address_ && size_ >= size) return true;
    release();
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
      shmctl(id, IPC_RMID, nullptr);
      return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(connection_.xcb());
    const bool attached = connection_.check(xcb_shm_attach_checked(connection_.xcb(), segment, id, 0));
    // Marked for removal now: it goes once both sides have detached.
    shmctl(id, IPC_RMID, nullptr);
    if (!attached) {
      shmdt(address);
      return false;
    }
    address_ = static_cast<uint8_t*>(address);
    size_ = size;
    segment_ = segment;
    return true;
  }
  uint8_t* address() const { return address_; }
  xcb_shm_seg_t segment() const { return segment_; }

 private:
  void release() {
    if (!address_) return;
    xcb_shm_detach(connection_.xcb(), segment_);
    connection_.flush();
    shmdt(address_);
    address_ = nullptr;
    size_ = 0;
  }
  X11Connection& connection_;
  uint8_t* address_ = nullptr;
  size_t size_ = 0;
  xcb_shm_seg_t segment_ = 0;
};

// Copies `source` (rows of 32-bit pixels) scaled to `width` × `height` (nearest sample), making it
// opaque when `opaque`. One pass over the output, in 32-bit words; the output is not zero-filled
// first.
PixelBuffer scaled(const uint8_t* source, int sourceWidth, int sourceHeight, size_t sourceStride, int width,
                   int height, bool opaque) {
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::shared_ptr<uint32_t[]> pixels(new uint32_t[count]);
  std::vector<int> columns(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x)
    columns[x] = std::min(sourceWidth - 1, static_cast<int>((x + 0.5) * sourceWidth / width));
  const uint32_t alpha = opaque ? 0xFF000000u : 0;
  const bool same = width == sourceWidth;
  for (int y = 0; y < height; ++y) {
    const int sy = std::min(sourceHeight - 1, static_cast<int>((y + 0.5) * sourceHeight / height));
    const uint8_t* in = source + static_cast<size_t>(sy) * sourceStride;
    uint32_t* out = pixels.get() + static_cast<size_t>(y) * width;
    if (same) {
      // Rows of the server's image are 4-byte aligned; memcpy keeps the read free of alignment rules.
      std::memcpy(out, in, static_cast<size_t>(width) * 4);
      for (int x = 0; x < width; ++x) out[x] |= alpha;
    } else {
      for (int x = 0; x < width; ++x) {
        uint32_t word;
        std::memcpy(&word, in + static_cast<size_t>(columns[x]) * 4, 4);
        out[x] = word | alpha;
      }
    }
  }
  PixelBuffer buffer;
  buffer.width = width;
  buffer.height = height;
  buffer.bytesPerRow = static_cast<size_t>(width) * 4;
  buffer.bytes = std::shared_ptr<const uint8_t>(pixels, reinterpret_cast<const uint8_t*>(pixels.get()));
  return buffer;
}

}  // namespace

struct StreamCore;

struct X11ScreenCapture::Shared {
  std::unique_ptr<X11Connection> connection;
  // The damage objects and the windows' structure events live on a connection of their own, so
  // that the event thread wakes for events only, not for the replies of the reads.
  std::unique_ptr<X11Connection> watcher;
  std::unique_ptr<X11DisplayReader> monitors;  // the worker's alone
  bool composite = false;
  bool shm = false;
  uint32_t frameExtentsAtom = 0, clientShadowAtom = 0, wmStateAtom = 0;
  bool damage = false;
  uint8_t damageEvent = 0;
  std::atomic<uint64_t> streamFrames{0};

  // The stills worker. Once stopping, it takes no job more and later posts are dropped.
  mutable std::mutex jobMutex;
  std::condition_variable jobReady;
  std::deque<std::function<void()>> jobs;
  bool stopping = false;
  std::thread worker;
  std::unique_ptr<ShmSegment> workerSegment;
  // The segment of stills read on the caller's thread.
  std::mutex callerMutex;
  std::unique_ptr<ShmSegment> callerSegment;

  // Which windows have drawn into themselves since they were last mapped. Every window made a child
  // of the root after the capture opened is watched from its creation, before it can be mapped: a
  // damage object on it reports its first drawing, and its own map and unmap events start the
  // question afresh. A window met otherwise (one that was there before) is watched from then on and
  // taken to have drawn meanwhile. Guarded by drawnMutex; the event thread keeps it.
  struct DrawWatch {
    xcb_damage_damage_t damage = 0;
    bool drawn = false;
  };
  std::mutex drawnMutex;
  std::unordered_map<uint32_t, DrawWatch> drawWatches;
  std::unordered_map<uint32_t, uint32_t> windowOfDamage;

  // The event thread and the running streams.
  std::thread events;
  std::mutex streamMutex;
  std::condition_variable streamExited;
  std::vector<std::shared_ptr<StreamCore>> streams;

  void post(std::function<void()> job) {
    {
      std::lock_guard guard(jobMutex);
      if (stopping) return;  // dropped here, with its completion
      jobs.push_back(std::move(job));
    }
    jobReady.notify_one();
  }

  // The child of the root that holds `window` (the window manager's frame, or the window itself).
  std::optional<uint32_t> topLevel(uint32_t window) {
    uint32_t current = window;
    for (int depth = 0; depth < 64; ++depth) {
      auto tree = connection->reply(xcb_query_tree_reply, xcb_query_tree(connection->xcb(), current));
      if (!tree) return std::nullopt;
      if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE) return current;
      current = tree->parent;
    }
    return std::nullopt;
  }

  // Reads a rectangle of a drawable as 32-bit pixels scaled to `width` × `height`.
  std::optional<PixelBuffer> read(uint32_t drawable, int x, int y, int w, int h, bool opaque, int width, int height,
                                  ShmSegment* segment) {
    if (w < 1 || h < 1 || w > 32767 || h > 32767) return std::nullopt;
    const size_t stride = static_cast<size_t>(w) * 4;
    if (shm && segment && segment->reserve(stride * h)) {
      auto reply = connection->reply(
          xcb_shm_get_image_reply,
          xcb_shm_get_image(connection->xcb(), drawable, static_cast<int16_t>(x), static_cast<int16_t>(y),
                            static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                            segment->segment(), 0));
      if (!reply || reply->depth < 24) return std::nullopt;
      return scaled(segment->address(), w, h, stride, width, height, opaque || reply->depth != 32);
    }
    auto reply = connection->reply(
        xcb_get_image_reply, xcb_get_image(connection->xcb(), XCB_IMAGE_FORMAT_Z_PIXMAP, drawable,
                                           static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(w),
                                           static_cast<uint16_t>(h), ~0u));
    if (!reply || reply->depth < 24) return std::nullopt;
    const int length = xcb_get_image_data_length(reply.get());
    if (length < static_cast<int>(stride * h)) return std::nullopt;
    return scaled(xcb_get_image_data(reply.get()), w, h, stride, width, height, opaque || reply->depth != 32);
  }

  // One still of a top-level window through a pixmap named for it; `source` receives the pixmap's
  // size in pixels when asked for.
  CaptureResult readWindow(uint32_t window, CaptureConfiguration configuration, ShmSegment* segment,
                           std::pair<int, int>* source = nullptr) {
    CaptureResult result;
    if (!composite) {
      result.error = "The X server has no Composite extension";
      return result;
    }
    const std::optional<uint32_t> top = topLevel(window);
    if (!top) {
      result.error = kWindowGone;
      return result;
    }
    const xcb_pixmap_t pixmap = xcb_generate_id(connection->xcb());
    if (!connection->check(xcb_composite_name_window_pixmap_checked(connection->xcb(), *top, pixmap))) {
      result.error = kWindowGone;
      return result;
    }
    auto geometry = connection->reply(xcb_get_geometry_reply, xcb_get_geometry(connection->xcb(), pixmap));
    if (geometry) {
      const X11Rect part = visiblePart(window, *top, geometry->width, geometry->height);
      if (source) *source = {part.width, part.height};
      result.picture = read(pixmap, part.x, part.y, part.width, part.height, geometry->depth != 32,
                            std::max(configuration.width, 1), std::max(configuration.height, 1), segment);
    }
    xcb_free_pixmap(connection->xcb(), pixmap);
    connection->flush();
    // Asked after the read, so that a window unmapped before it is caught: a frame whose client is
    // gone from the screen holds no picture of it (a minimize unmaps the client, and the frame may
    // follow only later), and a window its manager keeps mapped while minimized shows nothing
    // current.
    if (result.picture && !shown(window)) result.picture.reset();
    if (!result.picture) result.error = kWindowGone;
    return result;
  }

  // The part of a top-level's picture (`width` × `height` pixels, its border included) that shows
  // `window` as the user sees it: the window's own rectangle grown by the decorations its manager
  // reports (_NET_FRAME_EXTENTS) and shrunk by the shadow a client draws around itself
  // (_GTK_FRAME_EXTENTS). A frame window larger than that holds an invisible resize border
  // (metacity's), left out here. Without frame extents the manager's frame is all decoration (i3):
  // the whole picture.
  X11Rect visiblePart(uint32_t window, uint32_t top, int width, int height) {
    const X11Rect whole{0, 0, width, height};
    xcb_connection_t* c = connection->xcb();
    auto position = xcb_translate_coordinates(c, window, top, 0, 0);
    auto ownGeometry = xcb_get_geometry(c, window);
    auto topGeometry = xcb_get_geometry(c, top);
    auto frameCookie = connection->requestProperty(window, frameExtentsAtom, XCB_ATOM_CARDINAL, 4);
    auto shadowCookie = connection->requestProperty(window, clientShadowAtom, XCB_ATOM_CARDINAL, 4);
    auto moved = connection->reply(xcb_translate_coordinates_reply, position);
    auto own = connection->reply(xcb_get_geometry_reply, ownGeometry);
    auto outer = connection->reply(xcb_get_geometry_reply, topGeometry);
    auto frame = connection->takeProperty(frameCookie, XCB_ATOM_CARDINAL);
    auto shadow = connection->takeProperty(shadowCookie, XCB_ATOM_CARDINAL);
    if (!moved || !own || !outer) return whole;
    auto sides = [](const std::optional<X11Connection::Property>& p) {
      std::vector<uint32_t> v = p ? p->values32() : std::vector<uint32_t>{};
      std::array<int64_t, 4> out{};  // left, right, top, bottom
      if (v.size() >= 4)
        for (size_t i = 0; i < 4; ++i) out[i] = std::min<uint32_t>(v[i], UINT16_MAX);
      return out;
    };
    const bool framed = window != top;
    if (framed && !(frame && frame->values32().size() >= 4)) return whole;
    const std::array<int64_t, 4> grow = framed ? sides(frame) : std::array<int64_t, 4>{};
    const std::array<int64_t, 4> shrink = sides(shadow);
    // In the picture's pixels: the top-level's border comes first, then its inside, where the
    // window's own border (when it is not the top-level itself) lies at `moved`.
    const int64_t border = own->border_width;
    const int64_t x = int64_t{outer->border_width} + (framed ? int64_t{moved->dst_x} - border : 0);
    const int64_t y = int64_t{outer->border_width} + (framed ? int64_t{moved->dst_y} - border : 0);
    const int64_t w = int64_t{own->width} + 2 * border, h = int64_t{own->height} + 2 * border;
    const int64_t left = x - grow[0] + shrink[0], right = x + w + grow[1] - shrink[1];
    const int64_t upper = y - grow[2] + shrink[2], lower = y + h + grow[3] - shrink[3];
    const X11Rect part = X11Rect{static_cast<int32_t>(std::clamp<int64_t>(left, INT16_MIN, INT16_MAX)),
                                 static_cast<int32_t>(std::clamp<int64_t>(upper, INT16_MIN, INT16_MAX)),
                                 static_cast<int32_t>(std::clamp<int64_t>(right - left, 0, INT16_MAX)),
                                 static_cast<int32_t>(std::clamp<int64_t>(lower - upper, 0, INT16_MAX))}
                             .intersection(whole);
    return part.isEmpty() ? whole : part;
  }

  // Whether `window` is on the screen now: mapped, inside mapped ancestors, and not minimized.
  bool shown(uint32_t window) {
    xcb_connection_t* c = connection->xcb();
    auto attributesCookie = xcb_get_window_attributes(c, window);
    auto stateCookie = connection->requestProperty(window, wmStateAtom, wmStateAtom, 1);
    auto attributes = connection->reply(xcb_get_window_attributes_reply, attributesCookie);
    auto state = connection->takeProperty(stateCookie, wmStateAtom);
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) return false;
    constexpr uint32_t kIconicState = 3;
    return !(state && state->firstValue32() == kIconicState);
  }

  CaptureResult readDisplay(uint32_t displayID, Rect source, CaptureConfiguration configuration, ShmSegment* segment) {
    CaptureResult result;
    std::optional<Rect> frame;
    for (const X11Monitor& monitor : monitors->monitors())
      if (X11Backend::displayID(*connection, monitor) == displayID) frame = monitor.frame.toRect();
    xcb_screen_t* screen = connection->screen();
    if (!frame || source.width < 1 || source.height < 1) {
      result.error = "The display is not attached";
      return result;
    }
    // The asked rectangle in root coordinates, as whole pixels; parts off the screen read black.
    const int x0 = static_cast<int>(std::floor(frame->x + source.x)), y0 = static_cast<int>(std::floor(frame->y + source.y));
    const int w = static_cast<int>(std::lround(source.width)), h = static_cast<int>(std::lround(source.height));
    const int cx0 = std::max(x0, 0), cy0 = std::max(y0, 0);
    const int cx1 = std::min(x0 + w, static_cast<int>(screen->width_in_pixels));
    const int cy1 = std::min(y0 + h, static_cast<int>(screen->height_in_pixels));
    std::vector<uint8_t> canvas(static_cast<size_t>(w) * h * 4, 0);
    for (size_t i = 3; i < canvas.size(); i += 4) canvas[i] = 0xFF;
    if (cx1 > cx0 && cy1 > cy0) {
      auto part = read(screen->root, cx0, cy0, cx1 - cx0, cy1 - cy0, true, cx1 - cx0, cy1 - cy0, segment);
      if (!part) {
        result.error = "The display could not be read";
        return result;
      }
      for (int y = cy0; y < cy1; ++y)
        std::memcpy(canvas.data() + (static_cast<size_t>(y - y0) * w + (cx0 - x0)) * 4, part->row(y - cy0),
                    static_cast<size_t>(cx1 - cx0) * 4);
    }
    result.picture = scaled(canvas.data(), w, h, static_cast<size_t>(w) * 4, std::max(configuration.width, 1),
                            std::max(configuration.height, 1), true);
    return result;
  }

  void runWorker() {
    ThreadName::applyToCurrentThread("net.tarmeq.quorvel.capture");
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(jobMutex);
        jobReady.wait(lock, [&] { return stopping || !jobs.empty(); });
        if (stopping) return;
        job = std::move(jobs.front());
        jobs.pop_front();
      }
      job();
    }
  }

  void runEvents();

  // Starts watching `window`'s drawing, with `drawn` as what it has done so far (caller holds
  // drawnMutex). The requests are not checked: a window that is already gone sends no events.
  void watchDrawing(uint32_t window, bool drawn) {
    xcb_connection_t* c = watcher->xcb();
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    const xcb_damage_damage_t object = xcb_generate_id(c);
    xcb_damage_create(c, object, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    watcher->flush();
    drawWatches[window] = DrawWatch{object, drawn};
    windowOfDamage[object] = window;
  }

  // Whether `window` has drawn since it was last mapped, as far as the watch knows yet; none when it
  // does not watch the window. Asked before the window's picture is read, so that a window said to
  // have drawn shows that drawing in the picture.
  std::optional<bool> drawnState(uint32_t window) {
    std::lock_guard guard(drawnMutex);
    auto it = drawWatches.find(window);
    return it == drawWatches.end() ? std::nullopt : std::optional<bool>(it->second.drawn);
  }

  // What a window's picture says of its drawing (`before`: drawnState before the read); none
  // without DAMAGE. A window the watch did not know, and that gave a picture, was there before:
  // it is watched from now on and taken to have drawn.
  std::optional<bool> drawnForPicture(uint32_t window, std::optional<bool> before) {
    if (!damage) return std::nullopt;
    if (before) return before;
    std::lock_guard guard(drawnMutex);
    if (drawWatches.count(window)) return false;  // it came meanwhile: nothing is known of it yet
    watchDrawing(window, true);
    return true;
  }

  // The event thread's part of the drawing watch: a new top-level window, a map or unmap (which
  // re-arms the damage object: its first report after it tells of the window's first drawing), a
  // damage report, a destroyed window (its damage object went with it).
  void noteDrawing(const xcb_generic_event_t& event, uint8_t type) {
    if (type == XCB_CREATE_NOTIFY) {
      const auto& create = reinterpret_cast<const xcb_create_notify_event_t&>(event);
      if (create.parent != watcher->root() || create.override_redirect) return;
      std::lock_guard guard(drawnMutex);
      if (!drawWatches.count(create.window)) watchDrawing(create.window, false);
    } else if (type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY) {
      // Each window's own copy of the event, not the root's copy of a child's.
      const uint32_t window = type == XCB_MAP_NOTIFY ? reinterpret_cast<const xcb_map_notify_event_t&>(event).window
                                                     : reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window;
      const uint32_t about = type == XCB_MAP_NOTIFY ? reinterpret_cast<const xcb_map_notify_event_t&>(event).event
                                                    : reinterpret_cast<const xcb_unmap_notify_event_t&>(event).event;
      if (window != about) return;
      std::lock_guard guard(drawnMutex);
      auto it = drawWatches.find(window);
      if (it == drawWatches.end()) return;
      it->second.drawn = false;
      xcb_damage_subtract(watcher->xcb(), it->second.damage, XCB_NONE, XCB_NONE);
      watcher->flush();
    } else if (type == XCB_DESTROY_NOTIFY) {
      const auto& destroy = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (destroy.window != destroy.event) return;
      std::lock_guard guard(drawnMutex);
      auto it = drawWatches.find(destroy.window);
      if (it == drawWatches.end()) return;
      windowOfDamage.erase(it->second.damage);
      drawWatches.erase(it);
    } else if (damage && type == damageEvent) {
      // Reported once per mapping: the damage is left standing until the next map or unmap.
      const auto& notify = reinterpret_cast<const xcb_damage_notify_event_t&>(event);
      std::lock_guard guard(drawnMutex);
      auto owner = windowOfDamage.find(notify.damage);
      if (owner == windowOfDamage.end()) return;
      auto it = drawWatches.find(owner->second);
      if (it != drawWatches.end()) it->second.drawn = true;
    }
  }

  // Whether the drawing watch keeps an eye on `window` (its structure events must stay selected).
  bool watchesDrawing(uint32_t window) {
    std::lock_guard guard(drawnMutex);
    return drawWatches.count(window) > 0;
  }
};

// One stream: its window, its damage object and its thread, which reads a frame after each change.
struct StreamCore {
  X11ScreenCapture::Shared* shared = nullptr;
  uint32_t window = 0;
  StreamConfiguration configuration;
  StreamHandlers handlers;

  std::mutex mutex;
  std::condition_variable changed;
  uint32_t topLevel = 0;
  xcb_damage_damage_t damage = 0;
  bool dirty = true;  // the first frame is read at once
  bool stopRequested = false;
  bool gone = false;
  bool exited = false;
  std::function<void(std::optional<std::string>)> stopCompletion;

  // How far (as a factor) a frame's width-to-height ratio may stray from the stream's.
  static constexpr double kShapeTolerance = 1.25;
  // Whether a frame of `width` × `height` pixels has about the shape of the stream's size.
  static bool fitsShape(int width, int height, int streamWidth, int streamHeight);
  void run(std::shared_ptr<StreamCore> self);
};

void X11ScreenCapture::Shared::runEvents() {
  ThreadName::applyToCurrentThread("net.tarmeq.quorvel.captureEvents");
  for (;;) {
    {
      std::lock_guard guard(jobMutex);
      if (stopping) return;
    }
    if (!watcher->waitForEventsOrWake()) return;
    watcher->pumpEvents([&](const xcb_generic_event_t& event) {
      const uint8_t type = event.response_type & 0x7f;
      noteDrawing(event, type);
      std::lock_guard guard(streamMutex);
      for (const auto& core : streams) {
        std::lock_guard coreGuard(core->mutex);
        bool touched = false;
        if (damage && type == damageEvent) {
          const auto& notify = reinterpret_cast<const xcb_damage_notify_event_t&>(event);
          if (notify.damage == core->damage) touched = core->dirty = true;
        } else if (type == XCB_UNMAP_NOTIFY) {
          const auto& unmap = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
          if (unmap.window == core->topLevel) touched = core->gone = true;
        } else if (type == XCB_DESTROY_NOTIFY) {
          const auto& destroy = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
          if (destroy.window == core->topLevel) touched = core->gone = true;
        }
        if (touched) core->changed.notify_all();
      }
    });
  }
}

bool StreamCore::fitsShape(int width, int height, int streamWidth, int streamHeight) {
  if (width < 1 || height < 1 || streamWidth < 1 || streamHeight < 1) return true;
  const double ratio = (double(width) / height) / (double(streamWidth) / streamHeight);
  return std::abs(std::log(ratio)) <= std::log(kShapeTolerance);
}

void StreamCore::run(std::shared_ptr<StreamCore> self) {
  ThreadName::applyToCurrentThread("net.tarmeq.quorvel.liveHero");
  X11Connection& connection = *shared->connection;
  X11Connection& watcher = *shared->watcher;
  // Released before the stream leaves the capture's list: after that the capture, and the
  // connection the segment is attached through, may be gone.
  std::optional<ShmSegment> segment(std::in_place, connection);
  const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(std::max(configuration.minimumFrameInterval, 0.0)));
  auto nextAllowed = std::chrono::steady_clock::now();
  std::optional<std::string> ended;
  for (;;) {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return stopRequested || gone || dirty; });
      if (stopRequested) break;
      if (gone) {
        ended = kWindowGone;
        break;
      }
      // At most one frame per interval: changes that come meanwhile are read together.
      if (changed.wait_until(lock, nextAllowed, [&] { return stopRequested; })) break;
      dirty = false;
    }
    if (damage) {
      xcb_damage_subtract(watcher.xcb(), damage, XCB_NONE, XCB_NONE);
      watcher.flush();
    }
    nextAllowed = std::chrono::steady_clock::now() + interval;
    std::pair<int, int> source{0, 0};
    CaptureResult frame = shared->readWindow(window, {configuration.width, configuration.height}, &*segment, &source);
    if (!frame.picture) {
      ended = kWindowGone;
      break;
    }
    // A frame whose shape is far from the stream's is of a window in passing (a window manager's
    // minimize animation squeezes the frame to its title bar; a resize is under way): scaled to the
    // stream's size it would be a smear, so it is left out and the picture keeps the last good one.
    if (!fitsShape(source.first, source.second, configuration.width, configuration.height)) continue;
    {
      std::lock_guard guard(mutex);
      if (stopRequested) break;  // no frame after a stop was asked for
    }
    shared->streamFrames.fetch_add(1, std::memory_order_relaxed);
    if (handlers.onFrame) {
      StreamFrame out;
      out.status = StreamFrameStatus::complete;
      out.picture = std::move(frame.picture);
      handlers.onFrame(std::move(out));
    }
  }
  segment.reset();
  if (damage) xcb_damage_destroy(watcher.xcb(), damage);
  if (topLevel) {
    // The drawing watch may still need the window's structure events.
    const uint32_t mask = shared->watchesDrawing(topLevel) ? XCB_EVENT_MASK_STRUCTURE_NOTIFY : XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(watcher.xcb(), topLevel, XCB_CW_EVENT_MASK, &mask);
  }
  watcher.flush();
  std::function<void(std::optional<std::string>)> completion;
  bool stoppedByOwner = false;
  {
    std::lock_guard guard(mutex);
    exited = true;
    stoppedByOwner = stopRequested;
    completion = std::move(stopCompletion);
  }
  if (!stoppedByOwner && ended && handlers.onStop) handlers.onStop(*ended);
  if (completion) completion(std::nullopt);
  // Its captures (the owner's stream among them) go while the capture is known to be alive.
  completion = nullptr;
  // Notified under the lock: once it is released the capture may be gone.
  std::lock_guard guard(shared->streamMutex);
  std::erase(shared->streams, self);
  shared->streamExited.notify_all();
}

namespace {

class X11CaptureStream final : public CaptureStream {
 public:
  X11CaptureStream(std::shared_ptr<X11ScreenCapture::Shared> shared, std::shared_ptr<StreamCore> core)
      : shared_(std::move(shared)), core_(std::move(core)) {}

  ~X11CaptureStream() override {
    // A stream dropped without a stop stops by itself.
    std::lock_guard guard(core_->mutex);
    core_->stopRequested = true;
    core_->changed.notify_all();
  }

  void startCapture(std::function<void(std::optional<std::string>)> completion) override {
    std::shared_ptr<X11ScreenCapture::Shared> shared = shared_;
    std::shared_ptr<StreamCore> core = core_;
    shared->post([shared, core, completion = std::move(completion)] {
      X11Connection& connection = *shared->connection;
      X11Connection& watcher = *shared->watcher;
      const std::optional<uint32_t> found = shared->composite ? shared->topLevel(core->window) : std::nullopt;
      const uint32_t window = found.value_or(0);
      std::optional<std::string> error;
      if (!found) error = kWindowGone;
      xcb_damage_damage_t damage = 0;
      if (!error) {
        // Unmapping or destruction ends the stream; DAMAGE says when to read again.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        if (!watcher.check(xcb_change_window_attributes_checked(watcher.xcb(), window, XCB_CW_EVENT_MASK, &mask)))
          error = kWindowGone;
        auto attributes = connection.reply(xcb_get_window_attributes_reply,
                                           xcb_get_window_attributes(connection.xcb(), window));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) error = kWindowGone;
      }
      if (!error && shared->damage) {
        damage = xcb_generate_id(watcher.xcb());
        if (!watcher.check(
                xcb_damage_create_checked(watcher.xcb(), damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY)))
          error = kWindowGone;
      }
      bool stopped = false;
      if (!error) {
        std::lock_guard guard(core->mutex);
        stopped = core->stopRequested;
        core->topLevel = window;
        core->damage = damage;
      }
      if (!error && !stopped) {
        {
          std::lock_guard guard(shared->streamMutex);
          shared->streams.push_back(core);
        }
        std::thread([core] { core->run(core); }).detach();
      } else if (damage) {
        xcb_damage_destroy(watcher.xcb(), damage);
        watcher.flush();
      }
      completion(error ? error : stopped ? std::optional<std::string>("The stream was stopped") : std::nullopt);
    });
  }

  void stopCapture(std::function<void(std::optional<std::string>)> completion) override {
    std::shared_ptr<X11ScreenCapture::Shared> shared = shared_;
    std::shared_ptr<StreamCore> core = core_;
    // Through the worker, so that a start still on its way is done first.
    shared->post([core, completion = std::move(completion)]() mutable {
      std::unique_lock lock(core->mutex);
      core->stopRequested = true;
      const bool running = core->topLevel != 0 && !core->exited;
      if (running) {
        core->stopCompletion = std::move(completion);
        core->changed.notify_all();
        return;
      }
      lock.unlock();
      completion(std::nullopt);
    });
  }

 private:
  std::shared_ptr<X11ScreenCapture::Shared> shared_;
  std::shared_ptr<StreamCore> core_;
};

}  // namespace

std::unique_ptr<X11ScreenCapture> X11ScreenCapture::open(const std::string& displayName, Options options) {
  auto connection = X11Connection::open(displayName);
  auto watcher = X11Connection::open(displayName);
  if (!connection || !watcher) return nullptr;
  auto shared = std::make_shared<Shared>();
  xcb_connection_t* c = connection->xcb();
  const auto* compositeData = xcb_get_extension_data(c, &xcb_composite_id);
  if (compositeData && compositeData->present) {
    auto version = connection->reply(xcb_composite_query_version_reply, xcb_composite_query_version(c, 0, 4));
    if (version && (version->major_version > 0 || version->minor_version >= 2)) {
      shared->composite = connection->check(
          xcb_composite_redirect_subwindows_checked(c, connection->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    }
  }
  const auto* shmData = xcb_get_extension_data(c, &xcb_shm_id);
  if (options.useSharedMemory && shmData && shmData->present) {
    auto version = connection->reply(xcb_shm_query_version_reply, xcb_shm_query_version(c));
    shared->shm = version != nullptr;
  }
  xcb_connection_t* w = watcher->xcb();
  const auto* fixesData = xcb_get_extension_data(w, &xcb_xfixes_id);
  const auto* damageData = xcb_get_extension_data(w, &xcb_damage_id);
  if (fixesData && fixesData->present && damageData && damageData->present) {
    auto fixes = watcher->reply(xcb_xfixes_query_version_reply, xcb_xfixes_query_version(w, 5, 0));
    auto damage = watcher->reply(xcb_damage_query_version_reply, xcb_damage_query_version(w, 1, 1));
    shared->damage = fixes && damage;
    shared->damageEvent = static_cast<uint8_t>(damageData->first_event + XCB_DAMAGE_NOTIFY);
  }
  if (shared->damage) {
    // New top-level windows, for the drawing watch.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(w, watcher->root(), XCB_CW_EVENT_MASK, &mask);
    watcher->flush();
  }
  shared->frameExtentsAtom = connection->atom("_NET_FRAME_EXTENTS");
  shared->clientShadowAtom = connection->atom("_GTK_FRAME_EXTENTS");
  shared->wmStateAtom = connection->atom("WM_STATE");
  shared->connection = std::move(connection);
  shared->watcher = std::move(watcher);
  shared->monitors = std::make_unique<X11DisplayReader>(*shared->connection);
  if (shared->shm) {
    shared->workerSegment = std::make_unique<ShmSegment>(*shared->connection);
    // A server on another machine cannot attach our memory: read plainly then.
    if (!shared->workerSegment->reserve(4096)) shared->shm = false;
  }
  shared->worker = std::thread([raw = shared.get()] { raw->runWorker(); });
  shared->events = std::thread([raw = shared.get()] { raw->runEvents(); });
  return std::unique_ptr<X11ScreenCapture>(new X11ScreenCapture(std::move(shared)));
}

X11ScreenCapture::~X11ScreenCapture() {
  stop();
  shared_->workerSegment.reset();
  shared_->callerSegment.reset();
}

void X11ScreenCapture::stop() {
  // The worker first: it finishes the job under way (a stream's start among them, so that every
  // stream is on the list below); the jobs not begun go unrun, destroyed here.
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard guard(shared_->jobMutex);
    shared_->stopping = true;
    dropped.swap(shared_->jobs);
  }
  shared_->jobReady.notify_all();
  const size_t notBegun = dropped.size();
  dropped.clear();
  if (shared_->worker.joinable()) shared_->worker.join();
  size_t streams = 0;
  {
    std::lock_guard guard(shared_->streamMutex);
    streams = shared_->streams.size();
    for (const auto& core : shared_->streams) {
      std::lock_guard coreGuard(core->mutex);
      core->stopRequested = true;
      core->changed.notify_all();
    }
  }
  {
    std::unique_lock lock(shared_->streamMutex);
    shared_->streamExited.wait(lock, [&] { return shared_->streams.empty(); });
  }
  if (shared_->events.joinable()) {
    shared_->watcher->wake();
    shared_->events.join();
  }
  if (notBegun > 0 || streams > 0) {
    Logger("ScreenCapture")
        .debug("window pictures stopped: %zu reads not begun were dropped, %zu live pictures ended", notBegun, streams);
  }
}

size_t X11ScreenCapture::queuedJobs() const {
  std::lock_guard guard(shared_->jobMutex);
  return shared_->jobs.size();
}

bool X11ScreenCapture::usesSharedMemory() const { return shared_->shm; }
bool X11ScreenCapture::hasComposite() const { return shared_->composite; }
uint64_t X11ScreenCapture::streamCaptures() const { return shared_->streamFrames.load(); }
bool X11ScreenCapture::watchesDrawing(uint32_t window) const { return shared_->watchesDrawing(window); }

CaptureResult X11ScreenCapture::captureWindowNow(uint32_t windowID, CaptureConfiguration configuration) {
  std::lock_guard guard(shared_->callerMutex);
  if (shared_->shm && !shared_->callerSegment)
    shared_->callerSegment = std::make_unique<ShmSegment>(*shared_->connection);
  const std::optional<bool> drawn = shared_->drawnState(windowID);
  CaptureResult result = shared_->readWindow(windowID, configuration, shared_->callerSegment.get());
  if (result.picture) result.drawnSinceMapped = shared_->drawnForPicture(windowID, drawn);
  return result;
}

void X11ScreenCapture::captureWindow(uint32_t windowID, CaptureConfiguration configuration,
                                     std::function<void(CaptureResult)> completion) {
  Shared* shared = shared_.get();
  shared->post([shared, windowID, configuration, completion = std::move(completion)] {
    const std::optional<bool> drawn = shared->drawnState(windowID);
    CaptureResult result = shared->readWindow(windowID, configuration, shared->workerSegment.get());
    if (result.picture) result.drawnSinceMapped = shared->drawnForPicture(windowID, drawn);
    completion(std::move(result));
  });
}

void X11ScreenCapture::captureDisplay(uint32_t displayID, Rect sourceRect, CaptureConfiguration configuration,
                                      std::function<void(CaptureResult)> completion) {
  Shared* shared = shared_.get();
  shared->post([shared, displayID, sourceRect, configuration, completion = std::move(completion)] {
    completion(shared->readDisplay(displayID, sourceRect, configuration, shared->workerSegment.get()));
  });
}

std::shared_ptr<CaptureStream> X11ScreenCapture::makeStream(uint32_t windowID, StreamConfiguration configuration,
                                                            StreamHandlers handlers) {
  if (!shared_->composite) return nullptr;
  auto core = std::make_shared<StreamCore>();
  core->shared = shared_.get();
  core->window = windowID;
  core->configuration = configuration;
  core->handlers = std::move(handlers);
  return std::make_shared<X11CaptureStream>(shared_, std::move(core));
}

}  // namespace quorvel
