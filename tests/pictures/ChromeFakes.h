#pragma once

// Fakes for the chrome texture caches: a raster that measures text by a fixed rule and records
// what is drawn, and an uploader that keeps what it was given.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/TextServices.h"
#include "pictures/ChromeTexture.h"
#include "platform/Raster.h"

namespace quorvel::testing {

// One drawing call a canvas received.
struct DrawOp {
  enum class Kind { roundedRect, ellipse, ellipseStroke, path, text, image, symbol } kind;
  Rect rect;
  double value = 0;  // corner radius, line width or symbol point size
  RasterColor color;
  TextBlock text;
  std::string symbol;
  Point center;
  int bitmapWidth = 0;
};

// Measures a line as 0.5 × font size per user-perceived character, cut to the box's width, and
// 1.2 × font size tall; lines are separated by the block's spacing.
class FakeRaster final : public Raster {
 public:
  std::vector<DrawOp> ops;
  std::map<std::string, RasterBitmap> files;
  int canvases = 0;
  int measures = 0;

  static Size measure(const TextBlock& text, double maxWidth) {
    double width = 0, height = 0;
    for (size_t i = 0; i < text.lines.size(); ++i) {
      const TextLine& line = text.lines[i];
      const double w = static_cast<double>(TextServices::graphemeCount(line.text)) * line.fontSize * 0.5;
      width = std::max(width, std::min(w, maxWidth));
      height += line.fontSize * 1.2 + (i > 0 ? text.lineSpacing : 0);
    }
    return {width, height};
  }

  std::unique_ptr<RasterCanvas> beginDrawing(RasterBitmap& bitmap) override {
    ++canvases;
    return std::make_unique<Canvas>(*this, bitmap);
  }
  Size measureText(const TextBlock& text, double maxWidth) override {
    ++measures;
    return measure(text, maxWidth);
  }
  std::optional<RasterBitmap> decodeImage(const std::string& path, int) override {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }

  std::vector<DrawOp> opsOf(DrawOp::Kind kind) const {
    std::vector<DrawOp> found;
    for (const DrawOp& op : ops) {
      if (op.kind == kind) found.push_back(op);
    }
    return found;
  }

 private:
  // Records every call and marks the bitmap's first pixel, so that a drawn bitmap is not blank.
  class Canvas final : public RasterCanvas {
   public:
    Canvas(FakeRaster& raster, RasterBitmap& bitmap) : raster_(raster), bitmap_(bitmap) {}
    void fillRoundedRect(const Rect& r, double radius, RasterColor c) override { add({DrawOp::Kind::roundedRect, r, radius, c}); }
    void fillEllipse(const Rect& r, RasterColor c) override { add({DrawOp::Kind::ellipse, r, 0, c}); }
    void strokeEllipse(const Rect& r, double w, RasterColor c) override { add({DrawOp::Kind::ellipseStroke, r, w, c}); }
    void strokePath(const VectorPath& path, double w, LineCap, RasterColor c) override {
      DrawOp op{DrawOp::Kind::path, {}, w, c};
      for (const auto& e : path.elements()) {
        if (e.kind != VectorPath::Element::Kind::close) op.text.lines.push_back({std::to_string(e.to.x) + "," + std::to_string(e.to.y)});
      }
      add(op);
    }
    void drawText(const TextBlock& text, const Rect& r) override {
      DrawOp op{DrawOp::Kind::text, r};
      op.text = text;
      add(op);
    }
    void drawImage(const RasterBitmap& image, const Rect& r) override {
      add({DrawOp::Kind::image, r, static_cast<double>(image.width())});
    }
    void drawSymbol(const SymbolGlyph& symbol, double pointSize, SymbolWeight, Point center, RasterColor tint) override {
      DrawOp op{DrawOp::Kind::symbol, {}, pointSize, tint};
      op.symbol = symbol.name;
      op.center = center;
      add(op);
    }

   private:
    void add(DrawOp op) {
      op.bitmapWidth = bitmap_.width();
      raster_.ops.push_back(std::move(op));
      bitmap_.data()[3] = 255;
    }
    FakeRaster& raster_;
    RasterBitmap& bitmap_;
  };
};

class FakeTexture final : public ChromeTexture {
 public:
  FakeTexture(const RasterBitmap& bitmap, std::string label) : bitmap(bitmap), label(std::move(label)) {}
  int width() const override { return bitmap.width(); }
  int height() const override { return bitmap.height(); }
  RasterBitmap bitmap;
  std::string label;
};

// Keeps every upload; refuses while `refuse` is set.
class FakeUploader final : public ChromeUploader {
 public:
  bool refuse = false;
  std::vector<std::shared_ptr<FakeTexture>> uploads;
  int refused = 0;

  ChromeTextureRef upload(const RasterBitmap& bitmap, std::string_view label) override {
    if (refuse) {
      ++refused;
      return nullptr;
    }
    auto texture = std::make_shared<FakeTexture>(bitmap, std::string(label));
    uploads.push_back(texture);
    return texture;
  }
  // Plates as the default does (their colours through upload()), noting each plate's opacity.
  std::vector<double> plateOpacities;
  ChromeTextureRef uploadPlate(const PlateCoverage& plate, std::string_view label) override {
    plateOpacities.push_back(plate.plateOpacity);
    return ChromeUploader::uploadPlate(plate, label);
  }
};

inline const FakeTexture* fake(const ChromeTextureRef& texture) {
  return dynamic_cast<const FakeTexture*>(texture.get());
}

}  // namespace quorvel::testing
