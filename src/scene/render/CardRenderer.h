#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <vector>

#include "base/Clock.h"
#include "base/Executor.h"
#include "base/SpinLock.h"
#include "gpu/GpuDevice.h"
#include "pictures/CardLabel.h"
#include "pictures/CardPicture.h"
#include "platform/DesktopStill.h"
#include "pictures/GpuContext.h"
#include "platform/RasterBitmap.h"
#include "platform/RasterRegions.h"
#include "platform/RasterSheet.h"
#include "scene/CardChromeRow.h"
#include "scene/CardPose.h"
#include "scene/MorphBuffer.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"
#include "scene/render/CardOcclusion.h"
#include "scene/render/DisplayLink.h"
#include "scene/render/DrawRecording.h"
#include "scene/render/FocusSink.h"
#include "scene/render/FramePacing.h"
#include "windows/CardAction.h"
#include "windows/CardStatus.h"

namespace quorvel {

class GpuRenderEncoder;
struct CardUniforms;

// Draws the card scene of one overlay screen. Once per display-link update, on the render thread,
// it steps the shared scene under its lock, hands focus changes and the dismiss completion to the
// main queue, and encodes one render pass into the next drawable of the surface: cleared to the
// overlay's backdrop, then the floor reflections, then card by card the shadow, the picture, the
// selection ring and the chrome (icon, site icon, label plate, status glyph, count badge, title
// plate, close and minimize discs), and last the overlay's text chrome where it is painted. At
// most two frames are encoded ahead of the GPU while three uniform buffers rotate; a resting scene
// costs no drawable and no command buffer.
//
// Threads: tick, frame and the draw run on the render thread only (a tick on the main thread does
// nothing). The main thread may call setLivePreview, setAccentColor, setBackdrop, setOverlayChrome,
// clearOverlayChrome, waitForFramesInFlight, clearLastTimestamp and, before the render thread's link
// is unpaused, reseedPacing. Texture providers are called on the render thread.
class CardRenderer {
 public:
  // The texture providers, called on the render thread; each answers none for a texture not drawn
  // yet.
  struct Providers {
    std::function<std::optional<CardPicture>(uint32_t windowID)> picture;
    std::function<std::shared_ptr<GpuTexture>(int32_t pid)> icon;
    std::function<std::shared_ptr<GpuTexture>(uint32_t windowID)> favicon;
    std::function<std::shared_ptr<GpuTexture>(const CardStatus&)> status;
    // `request`: a miss queues the plate's drawing.
    std::function<std::shared_ptr<GpuTexture>(const CardLabel&, bool request)> label;
    // The Bool asks for a missing plate to be queued.
    std::function<std::shared_ptr<GpuTexture>(const CardTitle&, bool queueWhenMissing)> title;
    std::function<std::shared_ptr<GpuTexture>(CardAction, bool hovered)> action;
    // Negative numbers are the out-of-reach badge.
    std::function<std::shared_ptr<GpuTexture>(int)> count;
  };
  // Where the renderer posts to and what it reads the time and the scene wake from.
  struct Services {
    Executor& mainQueue;
    const Clock& clock;
    SceneWake& wake;
  };

  static constexpr size_t kRecordsPerCard = 14;
  static constexpr size_t kInitialCapacity = 336;
  static constexpr int kUniformBuffers = 3;
  static constexpr float kFallbackAccent[4] = {0.31f, 0.45f, 1.0f, 1.0f};
  // The opacity of the black plate under the label, title and count text (the overlay's every
  // summon sets this one).
  static constexpr float kPlateOpacity = 0.8533392676479687f;

  // None when the shader library, either shader function, the pipeline, a sampler, the quad or the
  // fallback texture cannot be made (the caller logs it and that screen draws nothing).
  static std::unique_ptr<CardRenderer> make(std::shared_ptr<GpuContext> context, std::shared_ptr<SceneState> state,
                                            std::shared_ptr<FocusSink> focusSink, Providers providers,
                                            Services services);
  ~CardRenderer();
  CardRenderer(const CardRenderer&) = delete;
  CardRenderer& operator=(const CardRenderer&) = delete;

  // The display-link callback: decides whether to draw, takes the surface's next drawable and
  // draws one frame.
  void tick(const DisplayLinkUpdate& update, GpuSurface& surface);
  // One frame into `drawable` (see the class comment), drawn where it differs from what the drawable
  // holds (see setRedrawsOnlyChanges).
  void frame(const std::shared_ptr<GpuDrawable>& drawable, double dt);
  // Presents a drawable without drawing.
  void recycle(const std::shared_ptr<GpuDrawable>& drawable);
  // Makes three uniform buffers of `count` records; keeps the old ones when one cannot be made.
  bool ensureUniformCapacity(size_t count);

  // Start path of the render thread (before the link is unpaused).
  void clearLastTimestamp() { lastTimestamp_.reset(); }
  void reseedPacing(double refreshRate, bool restGateOff, bool isotropic);
  // The same from the main thread: the next tick, on the render thread, first clears the last
  // timestamp and re-seeds the pacing with `refreshRate` (so the two threads never share them).
  void requestRestart(double refreshRate);
  // Stop path: lets the frames in flight finish (at most 0.05 s each for two).
  void waitForFramesInFlight();
  // Stop path: lets go of the last frames' draws and the textures they name (a frame being drawn
  // lets go of them once done); the next frame is drawn whole.
  void forgetFrames();

  void setLivePreview(bool on);
  bool livePreview() const;
  // The selection ring's colour (red, green, blue, 1); a change bumps the scene wake so a resting
  // scene redraws with it.
  void setAccentColor(Float4 color);
  Float4 accentColor() const;

  // ---- The overlay's own layers around the cards ----
  // Both are drawn by every frame the scene draws (from a present to the stop), with cards or
  // without (the empty state), and a change bumps the scene wake so a resting scene redraws.
  //
  // The backdrop under the cards: the premultiplied colour (red, green, blue, alpha) each frame is
  // cleared to, i.e. the solid backdrop, the plain backdrop and the dim veil composed (see
  // OverlayChromePainter::backdropColor). Transparent (the default) leaves the desktop showing.
  void setBackdrop(Float4 premultiplied);
  Float4 backdrop() const;
  // A picture over that colour and under the cards (the still of the desktop, blurred): stretched
  // over the whole drawable, its colours times `brightness` (1 less the dim veil), at `opacity`.
  // The picture is uploaded into a texture of its own at once (none, or a still that is not whole,
  // draws no picture); false when the texture cannot be made or filled, with no picture drawn.
  bool setBackdropPicture(const DesktopStill* picture);
  void setBackdropPictureLook(float opacity, float brightness);
  // The texture drawn (none while there is no picture or its opacity is 0), for tests.
  std::shared_ptr<GpuTexture> backdropPicture() const;
  // The text chrome over the cards (capsules, tip, empty state, badge): a premultiplied bitmap as
  // OverlayChromePainter paints it, one bitmap pixel a drawable pixel, with the pixel rectangles it
  // painted (`painted`, rows from the top). Only those rectangles are copied into the renderer's
  // chrome texture, packed one under the other (so the texture is as small as the chrome, not the
  // size of the screen), and drawn over the drawable where they are in the bitmap, top row at the
  // top, by the next frame and every one after; nothing is drawn elsewhere. No rectangles: no
  // chrome is drawn. A bitmap of another size than the drawable is stretched to it. Call it after
  // every change of the chrome and while its fades run. The upload waits for the GPU (on a CPU
  // renderer, for the frames queued before it). False, with the previous chrome kept, when the
  // texture cannot be made or filled.
  //
  // Two textures take the bitmaps in turn: the frames draw the one last filled while the next
  // bitmap goes into the other, and a bitmap never goes into a texture a frame being encoded still
  // draws (it waits until that frame is committed; frames committed before it are ordered before
  // the copy on the GPU). One caller at a time.
  bool setOverlayChrome(const RasterBitmap& bitmap, const RasterRegions& painted);
  // The whole bitmap as one rectangle.
  bool setOverlayChrome(const RasterBitmap& bitmap);
  // The same chrome as a sheet (OverlayChromePainter::paintSheet): only its painted rectangles, each
  // in its place of the sheet's pixels (`pieces`); `painted` has the size of the whole bitmap.
  bool setOverlayChrome(const RasterSheet& sheet);
  bool setOverlayChromeSheet(const RasterBitmap& pieces, const RasterRegions& painted);
  // Draws no chrome from the next frame on (the texture is kept for the next bitmap of its size).
  void clearOverlayChrome();
  // The chrome texture the frames draw; none while cleared or with no rectangles.
  std::shared_ptr<GpuTexture> overlayChrome() const;
  // The rectangles they draw, in the bitmap's pixels.
  std::vector<GpuRegion> overlayChromeRegions() const;
  // Where each of those rectangles is in the texture.
  std::vector<GpuRegion> overlayChromeSources() const;

  // For tests and diagnostics.
  size_t uniformCapacity() const { return uniformCapacity_; }
  int frameSlot() const { return frameSlot_; }
  const FramePacing& pacing() const { return pacing_; }
  const std::vector<std::shared_ptr<GpuBuffer>>& uniformBuffers() const { return uniformBuffers_; }
  const std::shared_ptr<GpuTexture>& fallbackTexture() const { return fallbackTexture_; }
  // Whether a card that is opaque inside its rounded edge draws again, over its blended quad, the
  // pixels of that interior through the pipeline without blending (on by default): the same
  // pixels, but a CPU driver then drops whatever was drawn earlier under the tiles they fill; and
  // the selection ring is drawn only around its card's interior, and a picture shown magnified is
  // sampled at its level 0 alone. Off, every card and ring is one blended quad through the card
  // sampler. Render thread (or while no frame is drawn).
  void setDrawsOpaqueInteriors(bool on) { drawsOpaqueInteriors_ = on; }
  // Whether a frame is drawn only where it differs (on by default): each frame's draws are recorded
  // and compared with the frame before; when none differs no drawable is taken at all, and a
  // drawable that keeps its pixels is drawn again only over the rectangle that changed since it
  // was last drawn (the pass clipped to it; the surface told which rectangle is new). The pixels
  // are the same as a whole frame's. Off, every frame is drawn whole. Render thread.
  void setRedrawsOnlyChanges(bool on) { redrawsOnlyChanges_ = on; }
  // The rectangle the last frame drew (none: the whole target).
  std::optional<GpuRegion> lastDrawnArea() const { return lastArea_; }
  // The desktop's still drawn over the clear colour that frames copy in; none while they draw it.
  const std::shared_ptr<GpuTexture>& backdropStill() const { return stillTexture_; }
  // The pixels (a rectangle of the target) that a card of this model-view-projection, size and
  // corner radius covers fully with its own colour, drawn into a target of this size: a rectangle
  // inside the card's edge inset by the corner radius, where the radius spans at least a pixel.
  // None when there is none worth drawing (a card seen edge-on or far, behind the eye, off the
  // target).
  static std::optional<GpuRegion> opaqueInterior(const Float4x4& mvp, Float2 size, float cornerRadius,
                                                 float viewWidth, float viewHeight);
  // Whether a quad of this model-view-projection, spanning `texels` of its texture across and
  // down, shows that texture magnified all over in a target of this size: square to the view (so
  // one scale everywhere), with more than one pixel a texel both ways. Its level of detail is then
  // below 0 everywhere, and sampling level 0 alone gives the same pixels.
  static bool magnifiesTexture(const Float4x4& mvp, Float2 texels, float viewWidth, float viewHeight);
  // The cards the last frame drew (indices, back to front).
  std::vector<int> drawOrder() const { return {order_.begin(), order_.begin() + static_cast<long>(drawn_)}; }

  // One card's chrome row: the metrics, where each mark sits along the row, and the textures of the
  // status glyph and the count badge.
  struct CardChrome {
    CardChromeRow::Row row;
    std::shared_ptr<GpuTexture> glyph;
    std::shared_ptr<GpuTexture> count;
  };
  CardChrome chromeRow(const CardSnapshot& card, bool showIcons, BadgeAnchor iconAnchor, bool showStatusBadges,
                       int pileMembers, float point, float chromeScale, Float2 size,
                       std::optional<float> titleAspect) const;
  // The row layout alone (also the action hit test's): marks for the card, placed left to right
  // from the card's top-left corner, shrunk to fit the card's width.
  static CardChromeRow::Row layoutRow(float cardWidth, float chromeScale, float point, bool icon, bool glyph,
                                      std::optional<float> countAspect, std::optional<float> titleAspect);
  // Where the close (first) and minimize (second) discs of a card sit, in the world.
  static std::pair<Float3, Float3> discCentres(const Float4x4& model, const CardChromeRow::Marks& marks);

 private:
  CardRenderer(std::shared_ptr<GpuContext> context, std::shared_ptr<SceneState> state,
               std::shared_ptr<FocusSink> focusSink, Providers providers, Services services);
  bool build();

  // Steps the scene and posts what it reports to the main queue.
  SceneFrame advance(double dt);
  // Records the frame's draws for a target of this size, and adds what differs from the frame
  // recorded before to the damage of the window and of the kept drawables.
  void record(const SceneFrame& frame, uint32_t width, uint32_t height);
  // Encodes the last recorded frame into `drawable` (see frame()).
  void render(const std::shared_ptr<GpuDrawable>& drawable, const SceneFrame& frame, double dt);
  void forgetRecordings();

  // ---- Draw passes ----
  void draw(GpuRenderEncoder& encoder, const SceneFrame& frame, const std::vector<MorphSample>& samples,
            float viewWidth, float viewHeight);
  void prepareScratch(size_t count);
  void sortDrawOrder(size_t count);
  void drawReflections(GpuRenderEncoder& encoder, CardUniforms* records, const SceneFrame& frame,
                       const std::vector<MorphSample>& samples, const Float4x4& viewProjection, float floorY,
                       size_t drawn, float viewWidth, float viewHeight);
  // Whether the draw `u` of `picture` may sample its level 0 alone (magnified everywhere).
  bool samplesLevelZero(const CardUniforms& u, const GpuTexture& picture, float viewWidth, float viewHeight) const;
  void drawShadow(GpuRenderEncoder& encoder, CardUniforms* records, const Float4x4& viewProjection,
                  const Float4x4& model, Float2 size, float cornerRadius, float spread, float opacity, size_t record,
                  size_t place);
  void drawMark(GpuRenderEncoder& encoder, CardUniforms* records, const Float4x4& viewProjection,
                const std::shared_ptr<GpuTexture>& texture, const Float4x4& cardModel, const CardPose& cardPose,
                Float3 centre, Float2 size, float alpha, size_t record, bool plate = false);
  void bindTexture(GpuRenderEncoder& encoder, const std::shared_ptr<GpuTexture>& texture);
  void drawRecord(GpuRenderEncoder& encoder, size_t record);
  // drawRecord for a quad under `mvp` drawn before the card at `firstPlace` in the draw order: only
  // the parts of it that no opaque interior from that card on covers.
  // `hole`: pixels inside the quad the draw leaves as they are (the selection ring's middle).
  void drawVisible(GpuRenderEncoder& encoder, size_t record, const Float4x4& mvp, size_t firstPlace,
                   std::optional<GpuRegion> hole = std::nullopt);
  // The opaque interior of the card at `place`, without the parts later interiors cover.
  void drawInterior(GpuRenderEncoder& encoder, GpuRegion interior, size_t place, bool levelZero);
  void drawCards(GpuRenderEncoder& encoder, const SceneFrame& frame, const std::vector<MorphSample>& samples,
                 float viewWidth, float viewHeight, const std::shared_ptr<GpuBuffer>& buffer, CardUniforms* records);
  // The overlay chrome a frame draws: the texture and its rectangles. A frame takes it once
  // (takeOverlayChrome, render thread) and lets go of it once committed (releaseOverlayChrome).
  struct ChromeLayer {
    std::shared_ptr<GpuTexture> texture;
    std::vector<GpuRegion> regions;  // where each painted rectangle goes, in the bitmap's pixels
    std::vector<GpuRegion> sources;  // where each one is in the texture
    uint32_t width = 0, height = 0;  // the bitmap's size
    uint64_t generation = 0;  // counts the bitmaps filled in (the same texture takes new ones)
  };
  // The backdrop picture a frame draws (texture, opacity, brightness), taken once a frame.
  struct BackdropPicture {
    std::shared_ptr<GpuTexture> texture;
    float opacity = 0;
    float brightness = 1;
  };
  BackdropPicture takeBackdropPicture() const;
  void drawBackdropPicture(GpuRenderEncoder& encoder, const BackdropPicture& picture,
                           const std::shared_ptr<GpuBuffer>& buffer, CardUniforms* records, size_t record,
                           float viewWidth, float viewHeight);
  // The rectangles of `painted` from `bitmap`: from their own places, or with `sheet` from theirs
  // in a sheet.
  bool setOverlayChrome(const RasterBitmap& bitmap, const RasterRegions& painted, bool sheet);
  ChromeLayer takeOverlayChrome();
  void releaseOverlayChrome();
  void drawOverlayChrome(GpuRenderEncoder& encoder, const ChromeLayer& chrome, const std::shared_ptr<GpuBuffer>& buffer,
                         CardUniforms* records, size_t record);

  std::shared_ptr<GpuContext> context_;
  std::shared_ptr<GpuCommandQueue> commandQueue_;
  std::shared_ptr<GpuDevice> device_;
  std::shared_ptr<SceneState> state_;
  std::shared_ptr<FocusSink> focusSink_;
  Providers providers_;
  Executor& mainQueue_;
  const Clock& clock_;
  SceneWake& wake_;

  std::shared_ptr<GpuRenderPipeline> pipeline_;
  std::shared_ptr<GpuRenderPipeline> interiorPipeline_;  // blending off: opaque card interiors
  std::shared_ptr<GpuRenderPipeline> plainPipeline_;     // shadows and selection rings
  bool drawsOpaqueInteriors_ = true;
  std::shared_ptr<GpuSampler> sampler_;
  std::shared_ptr<GpuSampler> isotropicSampler_;
  std::shared_ptr<GpuSampler> levelZeroSampler_;  // magnified pictures
  std::shared_ptr<GpuSampler> cardSampler_;       // the one the frame's cards draw with
  std::shared_ptr<GpuBuffer> quadBuffer_;
  std::shared_ptr<GpuTexture> fallbackTexture_;

  mutable SpinLock livePreviewLock_;
  bool livePreview_ = false;
  mutable SpinLock accentLock_;
  Float4 accent_{kFallbackAccent[0], kFallbackAccent[1], kFallbackAccent[2], kFallbackAccent[3]};
  // The overlay's layers: set on the main thread, read once a frame on the render thread.
  mutable SpinLock overlayLock_;
  Float4 backdrop_{0, 0, 0, 0};
  BackdropPicture backdropPicture_;
  // The overlay chrome: set by the uploading thread, taken by each frame on the render thread.
  mutable std::mutex chromeMutex_;
  std::condition_variable chromeReleased_;
  ChromeLayer chromeShown_;                  // under chromeMutex_
  uint64_t chromeGeneration_ = 0;            // under chromeMutex_
  const GpuTexture* chromeInFrame_ = nullptr;  // under chromeMutex_: taken by the frame being encoded
  // The uploading thread's own: the two chrome textures, kept while cleared so that the next bitmap
  // reuses them, and which of them was filled last.
  std::array<std::shared_ptr<GpuTexture>, 2> chromeTextures_;
  size_t chromeFilled_ = 0;

  // At most two frames encoded ahead of the GPU; released by each drawing command buffer's
  // completion handler, which holds the semaphore itself so a late completion stays safe.
  std::shared_ptr<std::counting_semaphore<2>> inFlight_ = std::make_shared<std::counting_semaphore<2>>(2);
  std::vector<std::shared_ptr<GpuBuffer>> uniformBuffers_;
  size_t uniformCapacity_ = 0;
  int frameSlot_ = 0;
  std::optional<double> lastTimestamp_;
  SpinLock restartLock_;
  std::optional<double> pendingRestart_;
  MorphBuffer morphs_;
  FramePacing pacing_;

  // Per-card scratch of the draw, reused from frame to frame.
  std::vector<CardPose> poses_;
  std::vector<Float4x4> models_;
  std::vector<float> depths_;
  std::vector<int> order_;
  std::vector<float> highlights_, facings_, stackBiases_, chromeWeights_, drawWeights_, chromeFades_;
  std::vector<float> slotSpans_, markSpans_, fromSpans_;
  std::vector<int> pileMembers_;
  std::vector<uint8_t> culled_;
  std::vector<std::optional<CardPicture>> pictures_;  // by card: its picture this frame
  std::vector<std::optional<GpuRegion>> interiors_;  // by place in the draw order: its opaque interior
  CardOcclusion occlusion_;
  size_t drawn_ = 0;  // how many entries of order_ the last frame drew
  // The texture bound for the current draw (to skip rebinding the same one).
  const GpuTexture* boundTexture_ = nullptr;

  // The last two frames' draws: recordings_[shown_] the last recorded, the other the one before.
  DrawRecording recordings_[2];
  int shown_ = 0;
  std::pair<uint32_t, uint32_t> recorded_{0, 0};  // the target size of the last recording
  // The drawables that keep their pixels, each with what changed since it was last drawn.
  struct KeptDrawable {
    const GpuTexture* texture;
    FrameDamage damage;
  };
  static constexpr size_t kMaxKeptDrawables = 4;
  std::vector<KeptDrawable> keptDrawables_;
  FrameDamage sinceShown_ = FrameDamage::all();  // changed since the last frame shown
  std::optional<GpuRegion> lastArea_;
  bool redrawsOnlyChanges_ = true;
  // The desktop's still as a frame starts from it: drawn over the clear colour into a texture of
  // the target's size once it has stayed the same for two frames, and then copied into each frame
  // (a copy, where the CPU driver would shade every pixel of the screen again).
  struct BackdropStill {
    std::shared_ptr<GpuTexture> picture;
    float opacity = 0, brightness = 1;
    Float4 clear;
    uint32_t width = 0, height = 0;
    bool operator==(const BackdropStill&) const = default;
  };
  std::optional<BackdropStill> drawnBackdrop_;        // the one draw() drew first, if any
  std::optional<BackdropStill> recordedBackdrop_[2];  // the one each recording draws first
  std::optional<BackdropStill> lastBackdrop_;         // the last frame drawn's
  std::optional<BackdropStill> stillKey_;             // what stillTexture_ holds
  std::shared_ptr<GpuTexture> stillTexture_;
  // Copies the still into `target` over `area` (making it first when the frame's backdrop stayed
  // the same since the frame before); false when the frame must draw its backdrop itself.
  bool copyBackdropStill(GpuCommandBuffer& commands, const DrawRecording& recording,
                         const std::shared_ptr<GpuDrawable>& drawable, std::optional<GpuRegion> area);
  // Held by the render thread while it records and draws a frame (FrameScope), and by forgetFrames
  // when no frame is being drawn; else forgetFrames leaves the request for that frame's end.
  std::mutex framesMutex_;
  std::atomic<bool> forgetRequested_{false};
  class FrameScope {
   public:
    explicit FrameScope(CardRenderer& renderer);
    ~FrameScope();

   private:
    CardRenderer& renderer_;
    std::lock_guard<std::mutex> held_;
  };
};

}  // namespace quorvel
