#include "tabs/qt/QtIconDecoder.h"

#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

#include "tabs/IconFileCheck.h"
#include "tabs/IconTextureMaker.h"

namespace quorvel {

static_assert(std::endian::native == std::endian::little, "premultiplied ARGB words must read as BGRA bytes");

namespace {

constexpr int kMaxImagesInFile = 64;  // frames of an ICO file considered

bool withinLimit(const QSize& size) {
  return size.width() <= IconDecoder::kMaxSide && size.height() <= IconDecoder::kMaxSide;
}

// The icon's bytes for the image reader, which reads them a piece at a time as it decodes: once
// the deadline has passed, every read fails, so the decoder stops at its next read.
class DeadlineBuffer final : public QIODevice {
 public:
  DeadlineBuffer(std::span<const uint8_t> bytes, std::chrono::steady_clock::time_point deadline)
      : bytes_(bytes), deadline_(deadline) {}
  bool isSequential() const override { return false; }
  qint64 size() const override { return static_cast<qint64>(bytes_.size()); }
  bool expired() const { return expired_; }

 protected:
  qint64 readData(char* data, qint64 most) override {
    if (expired_ || std::chrono::steady_clock::now() >= deadline_) {
      expired_ = true;
      return -1;
    }
    const qint64 at = pos();
    const qint64 count = std::clamp<qint64>(static_cast<qint64>(bytes_.size()) - at, 0, most);
    if (count > 0) std::memcpy(data, bytes_.data() + at, static_cast<size_t>(count));
    return count;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  std::span<const uint8_t> bytes_;
  std::chrono::steady_clock::time_point deadline_;
  bool expired_ = false;
};

}  // namespace

IconDecoder::Result QtIconDecoder::render(std::span<const uint8_t> bytes) const {
  const IconFileCheck::Verdict verdict = IconFileCheck::check(bytes);
  if (verdict.failure) return {{}, *verdict.failure};
  const char* format = IconFileCheck::readerName(verdict.format);
  const std::span<const uint8_t> read = verdict.rewritten ? std::span<const uint8_t>(*verdict.rewritten) : bytes;

  DeadlineBuffer buffer(read, std::chrono::steady_clock::now() + budget_);
  if (!buffer.open(QIODevice::ReadOnly)) return {{}, Failure::undecodable};
  QImageReader reader(&buffer, format);
  reader.setDecideFormatFromContent(false);
  reader.setAllocationLimit(kAllocationLimitMiB);

  // Pick the largest image the limits allow (files with one image have just that one); sizes come
  // from the headers, before any pixel is decoded.
  int best = -1;
  QSize bestSize;
  bool sawTooLarge = false;
  const int count = std::clamp(reader.imageCount(), 1, kMaxImagesInFile);
  for (int i = 0; i < count; ++i) {
    if (i > 0 && !reader.jumpToImage(i)) break;
    const QSize size = reader.size();
    if (size.isValid() && !withinLimit(size)) {
      sawTooLarge = true;
      continue;
    }
    if (best < 0 || (size.isValid() && (!bestSize.isValid() ||
                                        qint64(size.width()) * size.height() >
                                            qint64(bestSize.width()) * bestSize.height()))) {
      best = i;
      bestSize = size;
    }
  }
  if (buffer.expired()) return {{}, Failure::tooSlow};
  if (best < 0) return {{}, sawTooLarge ? Failure::tooLarge : Failure::undecodable};
  if (count > 1 && !reader.jumpToImage(best)) return {{}, Failure::undecodable};

  const int side = IconTextureMaker::kSide;
  // A vector image is drawn straight at the size it takes in the square.
  if (bestSize.isValid() && !bestSize.isEmpty() && reader.supportsOption(QImageIOHandler::ScaledSize) &&
      std::string_view(format) == "svg") {
    reader.setScaledSize(bestSize.scaled(side, side, Qt::KeepAspectRatio));
  }
  QImage image = reader.read();
  // A decode cut off by its deadline may still hand back a picture, with what it had not read yet
  // made up: it is not an icon.
  if (buffer.expired()) return {{}, Failure::tooSlow};
  if (image.isNull()) return {{}, Failure::undecodable};
  if (image.width() <= 0 || image.height() <= 0) return {{}, Failure::emptyImage};
  // Some formats only learn their size while decoding.
  if (!withinLimit(image.size())) return {{}, Failure::tooLarge};

  // Fit inside the square keeping the aspect ratio (small icons are scaled up), centred.
  const double scale = std::min(double(side) / image.width(), double(side) / image.height());
  const int width = std::clamp(int(std::lround(image.width() * scale)), 1, side);
  const int height = std::clamp(int(std::lround(image.height() * scale)), 1, side);
  const QImage fitted = image.size() == QSize(width, height)
                            ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                            : image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                  .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
  if (canvas.isNull() || fitted.isNull()) return {{}, Failure::undecodable};
  canvas.fill(Qt::transparent);
  {
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint((side - width) / 2, (side - height) / 2), fitted);
  }

  // Premultiplied ARGB words in memory order are blue, green, red, alpha on this byte order.
  Result result;
  result.bitmap = RasterBitmap::make(side, side);
  if (!result.bitmap) return {{}, Failure::undecodable};
  for (int row = 0; row < side; ++row) {
    std::memcpy(result.bitmap->data() + size_t(row) * result.bitmap->bytesPerRow(), canvas.constScanLine(row),
                result.bitmap->bytesPerRow());
  }
  return result;
}

}  // namespace quorvel
