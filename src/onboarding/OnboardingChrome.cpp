#include "onboarding/OnboardingChrome.h"

#include <algorithm>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include "onboarding/Brand.h"

namespace quorvel {

using Brand::withOpacity;

BrandDots::BrandDots(int count, int current, QWidget* parent)
    : QWidget(parent), count_(std::max(0, count)), current_(current) {
  setAccessibleName(QString("Step %1 of %2").arg(current + 1).arg(count_));
  setFixedSize(sizeHint());
}

QSize BrandDots::sizeHint() const {
  if (count_ == 0) return {0, 6};
  return {(count_ - 1) * 6 + 18 + (count_ - 1) * 6, 6};
}

void BrandDots::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  double x = 0;
  for (int i = 0; i < count_; ++i) {
    const double width = i == current_ ? 18 : 6;
    painter.setBrush(i == current_ ? Brand::accent() : i < current_ ? withOpacity(Brand::inkSoft(), 0.55) : Brand::line());
    painter.drawRoundedRect(QRectF(x, 0, width, 6), 3, 3);
    x += width + 6;
  }
}

BrandFooter::BrandFooter(int stepCount, int step, const std::vector<OnboardingFlow::Action>& actions,
                         std::function<void(OnboardingFlow::Action::Command)> perform, QWidget* parent)
    : QWidget(parent) {
  setObjectName("footer");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* rule = new QWidget;
  rule->setFixedHeight(1);
  rule->setAutoFillBackground(true);
  QPalette palette = rule->palette();
  palette.setColor(QPalette::Window, Brand::line());
  rule->setPalette(palette);
  column->addWidget(rule);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(24, 16, 24, 16);
  row->setSpacing(10);
  if (stepCount >= 1) row->addWidget(new BrandDots(stepCount, step), 0, Qt::AlignVCenter);
  row->addSpacing(16);
  row->addStretch(1);
  for (const auto& action : actions) {
    using Look = OnboardingFlow::Action::Look;
    const auto look = action.look == Look::primary ? BrandButton::Look::primary
                      : action.look == Look::glow  ? BrandButton::Look::glow
                                                   : BrandButton::Look::ghost;
    auto* button = new BrandButton(QString::fromStdString(action.title), look);
    button->setEnabled(action.enabled);
    button->setDefault(action.isDefault && action.enabled);
    button->setAutoDefault(false);
    const auto command = action.command;
    QObject::connect(button, &QPushButton::clicked, this, [perform, command] {
      if (perform) perform(command);
    });
    row->addWidget(button, 0, Qt::AlignVCenter);
    buttons_.push_back(button);
    // Return presses the default button wherever the keyboard is in the window.
    if (action.isDefault && action.enabled) {
      for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, button, [button] {
          if (button->isEnabled() && button->isVisible()) button->click();
        });
      }
    }
  }
  column->addLayout(row);
}

void BrandFooter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), withOpacity(Brand::groundRaised(), 0.55));
}

BrandKeycap::BrandKeycap(const QString& label, QWidget* parent) : QWidget(parent), label_(label) {
  setFont(Brand::systemFont(12, QFont::DemiBold));
  setFixedSize(sizeHint());
  setAccessibleName(label);
}

QSize BrandKeycap::sizeHint() const {
  return {std::max(30, QFontMetrics(font()).horizontalAdvance(label_) + 16), 27};
}

void BrandKeycap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF key = QRectF(0.5, 0.5, width() - 1, height() - 2);
  // The shadow under the key, one pixel down.
  painter.setPen(Qt::NoPen);
  painter.setBrush(withOpacity(Qt::black, 0.35));
  painter.drawRoundedRect(key.translated(0, 1), 8, 8);
  painter.setBrush(Brand::surface());
  painter.setPen(QPen(Brand::line(), 1));
  painter.drawRoundedRect(key, 8, 8);
  QLinearGradient highlight(key.topLeft(), key.bottomLeft());
  highlight.setColorAt(0, withOpacity(Brand::ink(), 0.1));
  highlight.setColorAt(1, withOpacity(Brand::ink(), 0));
  painter.setPen(QPen(QBrush(highlight), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(key.adjusted(1, 1, -1, -1), 7, 7);
  painter.setPen(Brand::ink());
  painter.setFont(font());
  painter.drawText(key, Qt::AlignCenter, label_);
}

BrandKeyRow::BrandKeyRow(const QStringList& caps, const QString& meaning, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  keys_ = new QWidget;
  auto* keyRow = new QHBoxLayout(keys_);
  keyRow->setContentsMargins(0, 0, 0, 0);
  keyRow->setSpacing(5);
  for (const QString& cap : caps) keyRow->addWidget(new BrandKeycap(cap));
  keyRow->addStretch(1);
  setKeysWidth(kKeysWidth);
  row->addWidget(keys_, 0, Qt::AlignVCenter);
  QLabel* text = Brand::label(meaning, Brand::calloutFont(), Brand::inkSoft());
  text->setObjectName("meaning");
  row->addWidget(text, 1, Qt::AlignVCenter);
}

int BrandKeyRow::keysNeeded() const { return keys_->layout()->minimumSize().width(); }

int BrandKeyRow::keysWidth() const { return keys_->minimumWidth(); }

void BrandKeyRow::setKeysWidth(int width) { keys_->setFixedWidth(std::max({width, kKeysWidth, keysNeeded()})); }

BrandStatusPill::BrandStatusPill(bool allowed, const QString& missingText, QWidget* parent)
    : QWidget(parent), allowed_(allowed), text_(allowed ? QString("Ready") : missingText) {
  setFont(Brand::captionFont());
  setFixedSize(sizeHint());
  setAccessibleName(text_);
}

QSize BrandStatusPill::sizeHint() const { return {10 + 12 + 6 + QFontMetrics(font()).horizontalAdvance(text_) + 10, 24}; }

void BrandStatusPill::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor color = allowed_ ? Brand::success() : Brand::warning();
  painter.setPen(Qt::NoPen);
  painter.setBrush(withOpacity(color, 0.12));
  painter.drawRoundedRect(QRectF(rect()), 12, 12);
  // The icon: a filled circle with a tick (ready) or clock hands (missing) cut out of it.
  const QRectF icon(10, 6, 12, 12);
  painter.setBrush(color);
  painter.drawEllipse(icon);
  QPen mark(Brand::ground(), 1.5);
  mark.setCapStyle(Qt::RoundCap);
  mark.setJoinStyle(Qt::RoundJoin);
  painter.setPen(mark);
  QPainterPath path;
  if (allowed_) {
    path.moveTo(icon.left() + 3.3, icon.center().y() + 0.2);
    path.lineTo(icon.left() + 5.3, icon.center().y() + 2.2);
    path.lineTo(icon.right() - 3, icon.top() + 4);
  } else {
    path.moveTo(icon.center().x(), icon.top() + 3);
    path.lineTo(icon.center());
    path.lineTo(icon.center().x() + 2.5, icon.center().y() + 1.5);
  }
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(path);
  painter.setPen(color);
  painter.setFont(font());
  painter.drawText(QRectF(28, 0, width() - 28, height()), Qt::AlignVCenter | Qt::AlignLeft, text_);
}

BrandPointRow::BrandPointRow(BrandGlyphView::Glyph glyph, const QString& text, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(14);
  auto* glyphView = new BrandGlyphView(glyph, 22);
  row->addWidget(glyphView, 0, Qt::AlignTop);
  QLabel* label = Brand::label(text, Brand::calloutFont(), Brand::inkSoft());
  label->setContentsMargins(0, 2, 0, 0);
  row->addWidget(label, 1, Qt::AlignTop);
}

BrandTile::BrandTile(bool highlighted, QWidget* parent) : QFrame(parent), highlighted_(highlighted) {}

void BrandTile::setHighlighted(bool on) {
  if (on == highlighted_) return;
  highlighted_ = on;
  update();
}

void BrandTile::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const double border = highlighted_ ? 1.5 : 1;
  const QRectF box = QRectF(rect()).adjusted(border / 2, border / 2, -border / 2, -border / 2);
  painter.setBrush(highlighted_ ? Brand::surfaceRaised() : Brand::surface());
  painter.setPen(QPen(highlighted_ ? Brand::accent() : Brand::line(), border));
  painter.drawRoundedRect(box, 16, 16);
  if (hasFocus()) {
    painter.setPen(QPen(withOpacity(Brand::ink(), 0.5), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(3, 3, -3, -3), 13, 13);
  }
}

namespace {

// The illustration on its raised panel.
class ArtPanel final : public QWidget {
 public:
  explicit ArtPanel(const BrandScreen::Art& art) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    auto* view = new BrandArt(art.scene, art.switchesOn);
    view->setKeys(art.keys);
    view->setObjectName("art");
    view->setFixedHeight(art.scene == BrandArt::Scene::arrival ? 140 : 120);
    layout->addWidget(view);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Brand::groundRaised());
    painter.setPen(QPen(Brand::line(), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
  }
};

}  // namespace

BrandScreen::BrandScreen(const Texts& texts, std::optional<Art> art, QWidget* content, BrandFooter* footer,
                         QWidget* parent)
    : QWidget(parent), footer_(footer) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* page = new QVBoxLayout;
  page->setContentsMargins(40, 44, 40, 24);
  page->setSpacing(0);
  if (art) {
    page->addWidget(new ArtPanel(*art));
    page->addSpacing(26);
  }
  page->addWidget(Brand::eyebrow(texts.eyebrow));
  page->addSpacing(8);
  QLabel* title = Brand::label(texts.title, Brand::titleFont(), Brand::ink());
  QFont titleFont = title->font();
  titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.6);
  title->setFont(titleFont);
  title->setObjectName("title");
  page->addWidget(title);
  page->addSpacing(8);
  QLabel* message = Brand::label(texts.message, Brand::bodyFont(), Brand::inkSoft());
  message->setObjectName("message");
  message->setMaximumWidth(460);
  // In a row of its own, so that the page's height is asked at the message's narrower width.
  auto* messageRow = new QHBoxLayout;
  messageRow->setContentsMargins(0, 0, 0, 0);
  messageRow->addWidget(message, 1);
  messageRow->addStretch(0);
  page->addLayout(messageRow);
  if (content) {
    page->addSpacing(18);
    page->addWidget(content);
  }
  page->addStretch(1);
  column->addLayout(page, 1);
  if (footer) column->addWidget(footer);
}

void BrandScreen::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Brand::paintGround(painter, rect());
}

QWidget* brandPointList(const std::vector<std::pair<BrandGlyphView::Glyph, QString>>& points) {
  auto* list = new QWidget;
  auto* column = new QVBoxLayout(list);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(14);
  for (const auto& [glyph, text] : points) column->addWidget(new BrandPointRow(glyph, text));
  return list;
}

void showPage(QWidget& window, QWidget*& page, QWidget* next) {
  if (page) {
    delete window.layout()->replaceWidget(page, next);
    page->hide();
    page->deleteLater();
  } else {
    window.layout()->addWidget(next);
  }
  next->show();
  page = next;
  // A page with more to say than the window's usual size (long advice, a wide command) makes the
  // window larger rather than having its lines cut off; any other page has the usual size.
  QLayout* layout = window.layout();
  layout->activate();
  const int width = std::max(kPageWidth, layout->totalMinimumSize().width());
  const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
  window.setFixedSize(width, std::max(kPageHeight, height));
}

void bringForward(QWidget& window, CountedWindow& counted, bool centre) {
  if (QScreen* screen = QGuiApplication::primaryScreen(); centre && screen) {
    window.move(screen->availableGeometry().center() - window.rect().center());
  }
  window.show();
  window.raise();
  window.activateWindow();
  counted.shown(static_cast<uint32_t>(window.winId()));
}

}  // namespace quorvel
