#include "settings_ui/AboutPane.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/BuildProvenance.h"
#include "settings/AppInfo.h"
#include "settings/AppSettings.h"
#include "settings_ui/SettingsForm.h"

namespace quorvel {

QString AboutPane::versionLine(const std::optional<std::string>& shortVersion, const std::optional<std::string>& build) {
  return QString::fromStdString("Version " + shortVersion.value_or("?") + " (" + build.value_or("?") + ")");
}

QString AboutPane::versionLine() {
  const std::string version = AppInfo::versionString();
#ifdef QUORVEL_BUILD_NUMBER
  const std::optional<std::string> build = std::string(QUORVEL_BUILD_NUMBER);
#else
  const std::optional<std::string> build;
#endif
  return versionLine(version == "unknown" ? std::nullopt : std::optional<std::string>(version), build);
}

AboutPane::PictureMoments AboutPane::pictureMoments(const AppSettings& settings) {
  return {settings.boolValue(AppSettings::Key::refreshPictureOnLeave),
          settings.backdropStyle() != AppSettings::BackdropStyle::solidColor};
}

QStringList AboutPane::privacyParagraphs(bool offersFeedback, PictureMoments moments) {
  QString pictures =
      "Quorvel runs entirely on your computer. It reads the list of your open windows and takes their pictures "
      "only to draw the switcher: once as it starts, ";
  pictures += moments.onLeave ? "while the switcher is open, and each time you leave a window, so that its card "
                                "shows the window as you left it."
                              : "and while the switcher is open.";
  pictures += moments.desktopBackdrop
                  ? " It takes a picture of your desktop too, for the backdrop each time the switcher opens and for "
                    "the preview in the Backdrop settings."
                  : " It takes a picture of your desktop only for the preview in the Backdrop settings.";
  pictures += " Nothing it sees ever leaves your computer: no accounts, no analytics, no tracking.";
  QStringList paragraphs{pictures};
  if (offersFeedback) paragraphs << "Pressing Send in the feedback window sends what that window shows you and nothing else.";
  paragraphs << "It never asks the internet for new versions: your package manager brings them."
             << "It needs no special permission: the X server lets it see your windows' pictures and bring the one "
                "you pick to the front, and the desktop's accessibility support, which it turns on for your session, "
                "tells it about your browsers' tabs.";
  return paragraphs;
}

AboutPane::AboutPane(std::function<void()> sendFeedback, std::function<void()> showTour, PictureMoments moments,
                     QWidget* parent)
    : QWidget(parent) {
  const bool offersFeedback = static_cast<bool>(sendFeedback);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);

  QFormLayout* identity = form->section({});
  auto* row = new QWidget;
  auto* line = new QHBoxLayout(row);
  line->setContentsMargins(0, 0, 0, 0);
  line->setSpacing(14);
  const QIcon icon = QApplication::windowIcon();
  if (!icon.isNull()) {
    auto* picture = new QLabel;
    picture->setPixmap(icon.pixmap(64, 64));
    line->addWidget(picture);
  }
  auto* texts = new QVBoxLayout;
  texts->setSpacing(3);
  auto* name = new QLabel("Quorvel");
  QFont big = name->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setWeight(QFont::DemiBold);
  name->setFont(big);
  texts->addWidget(name);
  QLabel* version = SettingsForm::explainer(versionLine());
  version->setObjectName("version");
  texts->addWidget(version);
  if (const std::optional<std::string> provenance = BuildProvenance::description()) {
    auto* origin = new QLabel(QString::fromStdString(*provenance));
    origin->setObjectName("provenance");
    QFont small = origin->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    origin->setFont(small);
    origin->setStyleSheet("QLabel { color: #d9822b; }");
    texts->addWidget(origin);
  }
  line->addLayout(texts);
  line->addStretch(1);
  identity->addRow(row);

  if (showTour) {
    QFormLayout* start = form->section("Getting started");
    auto* tour = new QPushButton("Show the welcome tour");
    tour->setObjectName("showTour");
    QObject::connect(tour, &QPushButton::clicked, this, [open = std::move(showTour)] { open(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(tour);
    buttons->addStretch(1);
    start->addRow(buttons);
    form->footnote(
        "The pages you saw the first time: what the app does, the two things it needs from your desktop, and a "
        "shortcut to try.");
  }

  if (sendFeedback) {
    QFormLayout* feedback = form->section("Feedback");
    auto* send = new QPushButton(QString::fromUtf8("Send Feedback\u2026"));
    send->setObjectName("sendFeedback");
    QObject::connect(send, &QPushButton::clicked, this, [open = std::move(sendFeedback)] { open(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(send);
    buttons->addStretch(1);
    feedback->addRow(buttons);
    form->footnote(
        "A bug, a rough edge, an idea: tell us in a small form right here, no mail app needed. Leave your email in it "
        "and you get an answer within 2 days.");
  }

  QFormLayout* privacy = form->section("Privacy");
  for (const QString& paragraph : privacyParagraphs(offersFeedback, moments)) privacy->addRow(SettingsForm::explainer(paragraph));
  form->finish();
}

}  // namespace quorvel
