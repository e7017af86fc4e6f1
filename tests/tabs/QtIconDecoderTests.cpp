#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>

#include <zlib.h>

#include <array>
#include <chrono>
#include <atomic>
#include <cstring>
#include <optional>

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));
#endif

#include "SiteIconFakes.h"
#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "tabs/FaviconStore.h"
#include "tabs/IconFileCheck.h"
#include "tabs/IconTextureMaker.h"
#include "tabs/qt/QtIconDecoder.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using Failure = IconDecoder::Failure;
constexpr int kSide = IconTextureMaker::kSide;

Bytes encoded(const QImage& image, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format)) << format;
  return Bytes(data.begin(), data.end());
}

QImage solid(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(colour);
  return image;
}

// The pixel at (x, y) of a rendered bitmap as blue, green, red, alpha.
std::array<uint8_t, 4> pixel(const std::optional<RasterBitmap>& bitmap, int x, int y) {
  const RasterBitmap::Pixel p = bitmap->pixel(x, y);
  return {p.blue, p.green, p.red, p.alpha};
}

uint32_t crc32(const uint8_t* bytes, size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A PNG whose header claims another size (with a valid header checksum), its pixels unchanged.
Bytes withClaimedSize(Bytes png, uint32_t width, uint32_t height) {
  auto put = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) png[at + size_t(i)] = uint8_t(value >> (24 - 8 * i));
  };
  put(16, width);
  put(20, height);
  put(29, crc32(png.data() + 12, 17));  // over "IHDR" and its 13 data bytes
  return png;
}

class QtIconDecoderTest : public ::testing::Test {
 protected:
  QtIconDecoder decoder;
};

TEST_F(QtIconDecoderTest, ASmallPngFillsTheSquareAsPremultipliedBgra) {
  const auto result = decoder.render(encoded(solid(16, 16, QColor(255, 0, 0, 128)), "PNG"));
  ASSERT_TRUE(result.ok());
  ASSERT_EQ(result.bitmap->width(), kSide);
  ASSERT_EQ(result.bitmap->height(), kSide);
  for (auto [x, y] : {std::pair{0, 0}, {64, 64}, {127, 127}}) {
    const auto bgra = pixel(result.bitmap, x, y);
    EXPECT_EQ(bgra[0], 0);
    EXPECT_EQ(bgra[1], 0);
    EXPECT_NEAR(bgra[2], 128, 1);  // red premultiplied by one half
    EXPECT_EQ(bgra[3], 128);
  }
}

TEST_F(QtIconDecoderTest, AWideImageIsFittedAndCentredVertically) {
  const auto result = decoder.render(encoded(solid(256, 64, Qt::blue), "PNG"));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(pixel(result.bitmap, 64, 47)[3], 0);  // transparent above the 128 by 32 band
  EXPECT_EQ(pixel(result.bitmap, 0, 48), (std::array<uint8_t, 4>{255, 0, 0, 255}));
  EXPECT_EQ(pixel(result.bitmap, 127, 79), (std::array<uint8_t, 4>{255, 0, 0, 255}));
  EXPECT_EQ(pixel(result.bitmap, 64, 80)[3], 0);  // and below it
}

TEST_F(QtIconDecoderTest, IcoFilesAreRead) {
  const auto result = decoder.render(encoded(solid(32, 32, Qt::green), "ICO"));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(pixel(result.bitmap, 64, 64), (std::array<uint8_t, 4>{0, 255, 0, 255}));
}

// One ICO file holding the images of several single-image ICO files, in their order.
Bytes icoOf(const std::vector<Bytes>& files) {
  Bytes out = {0, 0, 1, 0, uint8_t(files.size()), 0};
  uint32_t offset = uint32_t(6 + 16 * files.size());
  for (const Bytes& file : files) {
    Bytes entry(file.begin() + 6, file.begin() + 22);
    for (int i = 0; i < 4; ++i) entry[12 + size_t(i)] = uint8_t(offset >> (8 * i));
    out.insert(out.end(), entry.begin(), entry.end());
    offset += uint32_t(file.size() - 22);
  }
  for (const Bytes& file : files) out.insert(out.end(), file.begin() + 22, file.end());
  return out;
}

TEST_F(QtIconDecoderTest, FromAnIcoWithSeveralImagesTheLargestIsTaken) {
  const Bytes ico = icoOf({encoded(solid(16, 16, Qt::red), "ICO"), encoded(solid(48, 48, Qt::green), "ICO"),
                           encoded(solid(32, 32, Qt::blue), "ICO")});
  const auto result = decoder.render(ico);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(pixel(result.bitmap, 64, 64), (std::array<uint8_t, 4>{0, 255, 0, 255}));
}

TEST_F(QtIconDecoderTest, SvgIsDrawnAtTheSizeItTakesInTheSquare) {
  const std::string svg =
      "\xEF\xBB\xBF  <svg xmlns='http://www.w3.org/2000/svg' width='32' height='16' viewBox='0 0 32 16'>"
      "<rect width='16' height='16' fill='#ff0000'/><rect x='16' width='16' height='16' fill='#0000ff'/></svg>";
  const auto result = decoder.render(Bytes(svg.begin(), svg.end()));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(pixel(result.bitmap, 10, 63), (std::array<uint8_t, 4>{0, 0, 255, 255}));  // red half
  EXPECT_EQ(pixel(result.bitmap, 117, 63), (std::array<uint8_t, 4>{255, 0, 0, 255}));  // blue half
  EXPECT_EQ(pixel(result.bitmap, 64, 10)[3], 0);
}

TEST_F(QtIconDecoderTest, BrokenBytesFailClearly) {
  const Bytes png = encoded(solid(64, 64, Qt::red), "PNG");
  EXPECT_EQ(decoder.render({}).failure, Failure::empty);
  EXPECT_EQ(decoder.render(Bytes{'G', 'I', 'F'}).failure, Failure::unsupported);
  const std::string tiff = "II*\0";
  EXPECT_EQ(decoder.render(Bytes(tiff.begin(), tiff.end())).failure, Failure::unsupported);

  Bytes corrupt = png;
  for (size_t i = 33; i < corrupt.size(); ++i) corrupt[i] = uint8_t(i * 37);
  EXPECT_FALSE(decoder.render(corrupt).ok());
  EXPECT_FALSE(decoder.render(Bytes(png.begin(), png.begin() + 40)).ok());
  EXPECT_FALSE(decoder.render(Bytes(png.begin(), png.begin() + 8)).ok());
  const std::string badSvg = "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'><rect";
  EXPECT_FALSE(decoder.render(Bytes(badSvg.begin(), badSvg.end())).ok());
  const std::string notSvg = "<html><body>404</body></html>";
  EXPECT_FALSE(decoder.render(Bytes(notSvg.begin(), notSvg.end())).ok());
}

TEST_F(QtIconDecoderTest, ImagesLargerThanTheLimitAreRefusedBeforeTheirPixels) {
  const Bytes tiny = encoded(solid(2, 2, Qt::red), "PNG");
  EXPECT_EQ(decoder.render(withClaimedSize(tiny, 100000, 100000)).failure, Failure::tooLarge);
  EXPECT_EQ(decoder.render(withClaimedSize(tiny, 4097, 1)).failure, Failure::tooLarge);
  EXPECT_EQ(decoder.render(withClaimedSize(tiny, 1, 4097)).failure, Failure::tooLarge);
  EXPECT_TRUE(decoder.render(encoded(solid(4096, 1, Qt::red), "PNG")).ok());
  const std::string hugeSvg = "<svg xmlns='http://www.w3.org/2000/svg' width='50000' height='50000'/>";
  EXPECT_EQ(decoder.render(Bytes(hugeSvg.begin(), hugeSvg.end())).failure, Failure::tooLarge);
}

// The largest single allocation made while one of these lives (0 without a sanitizer's hooks).
class LargestAllocation {
 public:
#if defined(__SANITIZE_ADDRESS__)
  LargestAllocation() {
    largest_ = 0;
    __sanitizer_install_malloc_and_free_hooks(&onMalloc, &onFree);
  }
  ~LargestAllocation() { __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr); }
#endif
  size_t size() const { return largest_.load(); }

 private:
  static void onMalloc(const volatile void*, size_t size) {
    size_t seen = largest_.load();
    while (size > seen && !largest_.compare_exchange_weak(seen, size)) {
    }
  }
  static void onFree(const volatile void*) {}
  static inline std::atomic<size_t> largest_{0};
};

// A PNG chunk: length, type, data and a valid checksum.
Bytes pngChunk(const std::string& type, const Bytes& data, std::optional<uint32_t> claimedLength = std::nullopt) {
  const uint32_t length = claimedLength.value_or(uint32_t(data.size()));
  Bytes out;
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(length >> (24 - 8 * i)));
  Bytes body(type.begin(), type.end());
  body.insert(body.end(), data.begin(), data.end());
  const uint32_t crc = crc32(body.data(), body.size());
  out.insert(out.end(), body.begin(), body.end());
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(crc >> (24 - 8 * i)));
  return out;
}

// Files a hostile site or a damaged database hands over: each must be refused, cheaply, rather
// than cost memory and time or come out as a picture the decoder did not fully produce.
TEST_F(QtIconDecoderTest, CraftedFilesAreRefused) {
  const Bytes png = encoded(solid(16, 16, Qt::red), "PNG");
  const Bytes afterHeader(png.begin() + 33, png.end());  // the chunks after IHDR
  const Bytes header(png.begin(), png.begin() + 33);
  const auto withChunk = [&](const Bytes& chunk) {
    Bytes out = header;
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), afterHeader.begin(), afterHeader.end());
    return out;
  };
  // A text chunk that claims 1 GiB in a file of a few hundred bytes; one that really is large.
  const Bytes keyword = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
  Bytes text = keyword;
  text.resize(600, 'x');
  Bytes compressed = keyword;
  compressed.push_back(0);
  compressed.resize(600, 0x78);
  {
    LargestAllocation largest;
    EXPECT_FALSE(decoder.render(withChunk(pngChunk("tEXt", text, 1u << 30))).ok());
    EXPECT_FALSE(decoder.render(withChunk(pngChunk("zTXt", compressed, 1u << 30))).ok());
    EXPECT_LT(largest.size(), size_t{1} << 20) << "a claim alone made the decoder allocate";
  }
  Bytes bigText = keyword;
  bigText.resize(2u << 20, 'x');
  EXPECT_EQ(decoder.render(withChunk(pngChunk("tEXt", bigText))).failure, Failure::tooLarge);
  // The same picture with a small, well-formed text chunk is an icon.
  EXPECT_TRUE(decoder.render(withChunk(pngChunk("tEXt", text))).ok());

  // SVG past the size a site icon has, or with more elements than one.
  std::string bigSvg = "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>";
  while (bigSvg.size() < 3'400'000) bigSvg += "<path d='M0 0 L16 16 L0 16 Z' fill='#123456'/>";
  bigSvg += "</svg>";
  EXPECT_EQ(decoder.render(Bytes(bigSvg.begin(), bigSvg.end())).failure, Failure::tooLarge);
  std::string busySvg = "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>";
  while (busySvg.size() < 30'000) busySvg += "<rect width='1' height='1'/>";
  busySvg += "</svg>";
  EXPECT_EQ(decoder.render(Bytes(busySvg.begin(), busySvg.end())).failure, Failure::tooLarge);

  // Truncated BMPs, and an icon file whose picture is cut short: no garbage comes out as an icon.
  const Bytes bmp = encoded(solid(16, 16, Qt::blue), "BMP");
  for (size_t size = 142; size <= 271 && size < bmp.size(); size += 43) {
    SCOPED_TRACE(size);
    EXPECT_FALSE(decoder.render(Bytes(bmp.begin(), bmp.begin() + ptrdiff_t(size))).ok());
  }
  const Bytes ico = encoded(solid(16, 16, Qt::green), "ICO");
  for (size_t cut : {size_t(30), ico.size() / 2, ico.size() - 40}) {
    SCOPED_TRACE(cut);
    EXPECT_FALSE(decoder.render(Bytes(ico.begin(), ico.begin() + ptrdiff_t(cut))).ok());
  }
  const Bytes jpeg = encoded(solid(16, 16, Qt::green), "JPEG");
  EXPECT_FALSE(decoder.render(Bytes(jpeg.begin(), jpeg.begin() + ptrdiff_t(jpeg.size() * 2 / 3))).ok());
}

// Files that pass for icons but would each hold the decode queue for seconds to a minute: a
// progressive JPEG that repeats its last scan, an SVG whose reuses multiply (and one that reuses
// itself), a PNG whose data inflates far past its rows. Each is refused within the decode budget;
// and a decode that outlives its budget gives up.
TEST_F(QtIconDecoderTest, IconsThatWouldDecodeForLongAreRefusedWithinTheirBudget) {
  // A noisy 512 square, written progressively, with 300 more copies of its smallest scan (within
  // the byte budget of an icon file).
  QImage noise(512, 512, QImage::Format_RGB32);
  for (int y = 0; y < noise.height(); ++y)
    for (int x = 0; x < noise.width(); ++x) noise.setPixel(x, y, QRandomGenerator::global()->generate());
  QByteArray written;
  QBuffer buffer(&written);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setProgressiveScanWrite(true);
  ASSERT_TRUE(writer.write(noise));
  const Bytes jpeg(written.begin(), written.end());
  const std::string_view text(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
  // Coded data never holds this pair, so each one starts a scan; the last scan ends at the end marker.
  std::string_view smallest = text;
  for (size_t at = text.find("\xFF\xDA"); at != std::string_view::npos;) {
    const size_t next = text.find("\xFF\xDA", at + 2);
    const std::string_view scan = text.substr(at, (next == std::string_view::npos ? text.size() - 2 : next) - at);
    if (scan.size() < smallest.size()) smallest = scan;
    at = next;
  }
  Bytes scans(jpeg.begin(), jpeg.end() - 2);
  for (int i = 0; i < 300; ++i) scans.insert(scans.end(), smallest.begin(), smallest.end());
  scans.insert(scans.end(), {0xFF, 0xD9});
  ASSERT_LT(scans.size(), IconFileCheck::kMaxBytes);
  EXPECT_TRUE(decoder.render(jpeg).ok());

  // 400 squares, drawn 15 times by each of 15 reuses: 90,000 squares from 433 elements.
  std::string reuses = "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
                       "width='16' height='16'><defs><g id='a'>";
  for (int i = 0; i < 400; ++i) reuses += "<rect width='1' height='1'/>";
  reuses += "</g><g id='b'>";
  for (int i = 0; i < 15; ++i) reuses += "<use xlink:href='#a'/>";
  reuses += "</g></defs>";
  for (int i = 0; i < 15; ++i) reuses += "<use href=\"#b\"/>";
  reuses += "</svg>";
  const std::string itself = "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'><g id='c'>"
                             "<rect width='1' height='1'/><use href='#c'/></g></svg>";

  // A 16 square whose data inflates to its rows and then 64 MiB more.
  const Bytes png = encoded(solid(16, 16, Qt::red), "PNG");
  Bytes deflated(1 << 20);
  z_stream stream{};
  ASSERT_EQ(deflateInit(&stream, 9), Z_OK);
  const Bytes zeros(1 << 20, 0);
  stream.next_out = deflated.data();
  stream.avail_out = uInt(deflated.size());
  for (int i = 0; i < 64; ++i) {
    stream.next_in = const_cast<Bytef*>(zeros.data());
    stream.avail_in = uInt(zeros.size());
    ASSERT_EQ(deflate(&stream, i == 63 ? Z_FINISH : Z_NO_FLUSH), i == 63 ? Z_STREAM_END : Z_OK);
  }
  deflated.resize(stream.total_out);
  deflateEnd(&stream);
  Bytes inflating(png.begin(), png.begin() + 33);  // signature and header
  const Bytes idat = pngChunk("IDAT", deflated), iend = pngChunk("IEND", {});
  inflating.insert(inflating.end(), idat.begin(), idat.end());
  inflating.insert(inflating.end(), iend.begin(), iend.end());

  const struct {
    const char* what;
    Bytes bytes;
    Failure failure;
  } cases[] = {{"repeated scans", scans, Failure::tooLarge},
               {"multiplying reuses", Bytes(reuses.begin(), reuses.end()), Failure::tooLarge},
               {"a reuse of itself", Bytes(itself.begin(), itself.end()), Failure::undecodable},
               {"inflating data", inflating, Failure::tooLarge}};
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(decoder.render(c.bytes).failure, c.failure) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, QtIconDecoder::kDefaultBudget) << c.what;
  }
  EXPECT_EQ(QtIconDecoder(std::chrono::milliseconds(0)).render(jpeg).failure, Failure::tooSlow);
}

TEST_F(QtIconDecoderTest, OnlyIconsThatDecodeReachTheStore) {
  LogHub::shared().setStandardErrorEnabled(false);
  ManualLoop loop;
  siteicons::FakeTextureMaker maker;
  auto store = FaviconStore::create(maker, decoder, [] {}, loop.main(), loop.main());
  const Bytes png = encoded(solid(32, 32, Qt::red), "PNG");
  store->enqueue({{"zero.example", {}},
                  {"truncated.example", Bytes(png.begin(), png.begin() + 40)},
                  {"huge.example", withClaimedSize(png, 8000, 8000)},
                  {"corrupt.example", Bytes(png.size(), 0x89)},
                  {"good.example", png}});
  loop.runUntilIdle();
  EXPECT_EQ(store->siteOrder(), std::vector<std::string>{"good.example"});
  EXPECT_EQ(maker.made, 1);
  LogHub::shared().setStandardErrorEnabled(true);
}

}  // namespace
}  // namespace quorvel
