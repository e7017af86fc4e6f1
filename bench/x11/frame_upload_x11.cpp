// The last step of an overlay frame on a CPU-drawing GPU: a 1920 × 1080 frame put into a 32-bit
// window of a real X session (Xvfb and openbox, started by the benchmark itself), until the server
// has applied it. The frame itself is a clear, so the figure is the upload's own cost with the
// GPU's copy-out, if any.
//
//   BM_FrameUpload/1/1/1 through shared memory (MIT-SHM), as on a local display, the frame drawn
//                        in the shared segment itself (label "shm drawn there"; where the device
//                        cannot draw into host memory it is the GPU copy below)
//   BM_FrameUpload/1/1/0 through shared memory, the GPU copying the frame straight into the shared
//                        segment (label "shm direct"; where the device cannot import host memory
//                        it is the host copy below)
//   BM_FrameUpload/1/0/0 through shared memory, the frame copied into the segment on the host
//                        (label "shm host copy"), as on a device without host-memory import
//   BM_FrameUpload/0/0/0 through the X protocol (PutImage in strips), as on a remote display
//
// Skips when Xvfb or a Vulkan device is missing.

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "BenchSession.h"
#include "X11Session.h"
#include "base/LogHub.h"
#include "gpu/x11/VulkanWindowSurface.h"
#include "gpu/x11/X11ArgbWindow.h"

namespace quorvel {
namespace {

void BM_FrameUpload(benchmark::State& st) {
  const bool shared = st.range(0) != 0;
  const bool import = st.range(1) != 0;
  const bool drawThere = st.range(2) != 0;
  std::string failure;
  auto session = startBenchSession(st, {.width = 1920, .height = 1080, .desktops = 1});
  if (!session) return;
  VulkanDeviceOptions options;
  options.hostMemoryImport = import;
  auto device = VulkanDevice::make(options, &failure);
  if (!device) {
    st.SkipWithError(("Vulkan is unavailable: " + failure).c_str());
    return;
  }
  auto window = X11ArgbWindow::open(session->display(), {"Quorvel upload bench", {0, 0, 1920, 1080}, true}, &failure);
  if (!window) {
    st.SkipWithError(failure.c_str());
    return;
  }
  window->show();
  auto surface = VulkanWindowSurface::make(device, window->connection(), window->window(), "Quorvel bench", &failure,
                                           VulkanWindowSurface::Presentation::imageUpload, shared, drawThere);
  if (!surface) {
    st.SkipWithError(failure.c_str());
    return;
  }
  surface->setDrawableSize(1920, 1080);
  auto queue = device->makeCommandQueue("Quorvel bench");
  xcb_connection_t* c = window->connection();
  int frame = 0;
  for (auto _ : st) {
    auto drawable = surface->nextDrawable();
    if (!drawable) {
      st.SkipWithError("no drawable");
      break;
    }
    auto commandBuffer = queue->makeCommandBuffer();
    GpuRenderPass pass;
    pass.colorTexture = drawable->texture();
    pass.clearColor = {0, 0, (frame++ % 2) ? 0.25 : 0.75, 1};
    if (auto encoder = commandBuffer->makeRenderEncoder(pass)) encoder->endEncoding();
    commandBuffer->present(drawable);
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    // The server has applied the frame once it answers a request sent after it.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  }
  if (surface->usesSharedMemory() != shared) st.SkipWithError("the server did not take the path asked for");
  st.SetLabel(!shared                               ? "plain"
              : surface->drawsInSharedMemory()        ? "shm drawn there"
              : surface->writesSharedMemoryDirectly() ? "shm direct"
                                                      : "shm host copy");
  queue.reset();
  surface.reset();
  device->waitIdle();
}
BENCHMARK(BM_FrameUpload)->Args({1, 1, 1})->Args({1, 1, 0})->Args({1, 0, 0})->Args({0, 0, 0})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
