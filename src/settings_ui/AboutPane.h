#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

namespace quorvel {

class AppSettings;

// The About pane: which program and which build this is (its version and, for a build that is not
// a release, where it comes from), the feedback form, and what the program does with the user's
// data, and reopens the first-run tour. It keeps no state and writes no setting.
class AboutPane final : public QWidget {
 public:
  // When the program takes pictures besides the start and the open switcher, as the settings say.
  struct PictureMoments {
    bool onLeave;          // a window's picture as the user leaves it ("refreshPictureOnLeave")
    bool desktopBackdrop;  // the desktop's behind the cards (the backdrop is not a flat colour)
  };

  // `sendFeedback` opens the feedback form and `showTour` the first-run tour; without one there is
  // no button for it.
  explicit AboutPane(std::function<void()> sendFeedback, std::function<void()> showTour = {},
                     PictureMoments moments = {true, true}, QWidget* parent = nullptr);

  // "Version 1.4 (27)"; a missing part reads "?".
  static QString versionLine(const std::optional<std::string>& shortVersion, const std::optional<std::string>& build);
  // This build's version line.
  static QString versionLine();
  // The privacy section; the feedback window's paragraph only when the build offers feedback.
  static QStringList privacyParagraphs(bool offersFeedback, PictureMoments moments = {true, true});
  // The moments as the settings say them now.
  static PictureMoments pictureMoments(const AppSettings& settings);
};

}  // namespace quorvel
