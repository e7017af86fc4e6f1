#include "onboarding/OnboardingScreens.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include "app/QuickFlipKey.h"
#include "onboarding/Brand.h"
#include "settings/KeyNames.h"
#include "settings_ui/AdviceView.h"
#include "settings_ui/ShortcutRecorderRow.h"
#include "settings_ui/StyleNames.h"
#include "settings_ui/StylePreview.h"

namespace quorvel {

namespace {

using Step = OnboardingFlow::Step;
using Glyph = BrandGlyphView::Glyph;

QString q(const std::string& text) { return QString::fromStdString(text); }

QWidget* column(int spacing) {
  auto* widget = new QWidget;
  auto* layout = new QVBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return widget;
}

void add(QWidget* columnWidget, QWidget* child) { columnWidget->layout()->addWidget(child); }

// A card on the tile surface: a name and its standing.
BrandTile* standingCard(const QString& name, bool ready, const QString& missing, const char* objectName) {
  auto* card = new BrandTile(false);
  card->setObjectName(objectName);
  auto* row = new QHBoxLayout(card);
  row->setContentsMargins(16, 12, 16, 12);
  row->setSpacing(12);
  row->addWidget(Brand::label(name, Brand::headingFont(), Brand::ink(), false));
  row->addStretch(1);
  auto* pill = new BrandStatusPill(ready, missing);
  pill->setObjectName("pill");
  row->addWidget(pill);
  return card;
}

QLabel* note(const QString& text, const QColor& color, const char* objectName) {
  QLabel* label = Brand::label(text, Brand::captionFont(), color);
  label->setObjectName(objectName);
  return label;
}

// The arrangement tiles of the look page: four to a row, the chosen one highlighted.
class StyleTile final : public BrandTile {
 public:
  StyleTile(const AppSettings& settings, AppSettings::SwitcherStyle style, bool chosen, std::function<void()> press)
      : BrandTile(chosen), press_(std::move(press)) {
    setObjectName(QString("tile-%1").arg(QString::fromUtf8(SettingEnums::rawValue(style).data(),
                                                            int(SettingEnums::rawValue(style).size()))));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(StyleNames::displayName(style));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    auto* preview = new StylePreview(settings, style);
    preview->setPreserveProportions(true);
    preview->setColors(Brand::ground(), Brand::ink());
    preview->setFixedHeight(74);
    layout->addWidget(preview);
    QLabel* name = Brand::label(StyleNames::displayName(style),
                                Brand::systemFont(11.5, chosen ? QFont::DemiBold : QFont::Normal),
                                chosen ? Brand::ink() : Brand::inkSoft(), false);
    name->setAlignment(Qt::AlignHCenter);
    layout->addWidget(name);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent*) override {
    if (press_) press_();
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Space && press_) {
      press_();
      return;
    }
    BrandTile::keyPressEvent(event);
  }

 private:
  std::function<void()> press_;
};

}  // namespace

BrandScreen::Texts OnboardingScreens::texts(Step step, bool showsMenuBarIcon, bool trayAvailable) {
  switch (step) {
    case Step::welcome:
      return {"Welcome", "This is Quorvel",
              "Press one shortcut and every window you have open comes forward, so you can see what you want "
              "instead of hunting for it."};
    case Step::permissionsIntro:
      return {"Before you start", "Two things to check",
              "The switcher needs its shortcut and your windows' pictures, and your desktop decides about both. This "
              "is the one part of the tour that may ask something of you."};
    case Step::windowPictures:
      return {"Check 1 of 2", "Let it see your windows",
              "This is what lets the switcher show you a picture of each of your windows. What it sees never leaves "
              "your computer."};
    case Step::shortcut: return shortcutTexts(false, std::nullopt);
    case Step::permissionsDone:
      return {"Before you start", "That is both of them",
              "One thing worth knowing: a window manager can take a shortcut back, for example after a change of its "
              "settings. Quorvel then tells you, and nothing you set up is lost."};
    case Step::style:
      return {"Your look", "Pick your look",
              "Seven arrangements. You can change your mind whenever you like, in Settings."};
    case Step::search:
      return {"Search", "Find anything on your desktop",
              "Search across your scattered apps and your individual browser tabs, in Chromium, Firefox and the rest."};
    case Step::settings:
      if (showsMenuBarIcon && trayAvailable) {
        return {"Settings", "It waits in your tray",
                "Click its icon in the tray for Settings, and for the tour again whenever you want it."};
      }
      if (showsMenuBarIcon) {
        return {"Settings", "It waits in the background",
                "Your desktop shows no tray for its icon, so start Quorvel again from your applications menu to "
                "reach Settings."};
      }
      return {"Settings", "It waits in the background",
              "You have turned the tray icon off, so start Quorvel again from your applications menu to reach "
              "Settings."};
    case Step::keys:
      return {"The keys", "Try it yourself",
              "These are the keys while the switcher is open. Nothing to remember: they are all in Settings too."};
    case Step::close:
      return {"All set", "That is it. Try it out.",
              "You can see this tour again whenever you like, from Settings, About."};
  }
  return {};
}

BrandScreen::Texts OnboardingScreens::shortcutTexts(bool recovery, const std::optional<std::string>& shortcutText,
                                                    bool lost, const AdviceText& advice) {
  if (!recovery) {
    return {"Check 2 of 2", "Let it answer your shortcut",
            "This is what lets it hear your shortcut and bring the window you pick to the front."};
  }
  const QString keys = shortcutText ? q(*shortcutText) : QString("Your shortcut");
  // The holder the advice below names.
  const QString held = keys + " is held by " + QString::fromStdString(advice.heldBy()) +
                       ", so pressing it does not reach Quorvel. ";
  if (!lost) {
    // It never worked in this run: nothing was taken back.
    return {"Shortcut needed", "It cannot hear your shortcut",
            held + "Free it there, or choose another shortcut."};
  }
  return {"Shortcut needed", "It cannot hear your shortcut any more",
          held + "Nothing is broken and nothing you set up is lost."};
}

BrandScreen::Texts OnboardingScreens::doneTexts(const Readiness& readiness) {
  if (readiness.pictures && readiness.shortcutWorks) return texts(Step::permissionsDone);
  const QString noPictures = "The X server does not offer your windows' pictures, so the switcher shows each window "
                             "as a card with its icon.";
  if (readiness.shortcutWorks) return {"Before you start", "One of them is missing", noPictures + " Your shortcut works."};
  QString message;
  QString title;
  if (!readiness.shortcutText) {
    title = "You have no shortcut yet";
    message = "Without one, no key opens the switcher. Go back to choose one.";
  } else {
    title = "Your shortcut does not work yet";
    // The holder the shortcut page's advice named.
    message = q(*readiness.shortcutText) + " is still held by " + q(readiness.heldBy) +
              ", so pressing it does not reach Quorvel. Go back to free it or to choose another. Quorvel takes it "
              "as soon as it is free, and reminds you after the tour if it is not.";
  }
  if (!readiness.pictures) message += " " + noPictures;
  return {"Before you start", title, message};
}

std::vector<OnboardingScreens::KeyRowText> OnboardingScreens::keyRows(const std::vector<std::string>& shortcutCaps,
                                                                      const KeyRowFacts& facts) {
  std::vector<KeyRowText> rows = {
      {shortcutCaps, facts.summonHeldBy ? "Held by " + *facts.summonHeldBy + ", so it does not summon the switcher yet"
                                        : "Summon the switcher"},
      {{"Esc"}, "Leave without switching"},
      {{"Tab"}, "Move forward"},
      {{"Shift", "Tab"}, "Move backward"},
      {{"\u2190", "\u2192"}, "Hop over a stack of tabs"},
  };
  if (facts.touchpad) rows.push_back({{"Touchpad"}, "Slide sideways to move along, up and down to go into a stack of tabs"});
  if (facts.quickFlip && shortcutCaps.size() >= 2) {
    std::vector<std::string> flip(shortcutCaps.begin(), shortcutCaps.end() - 1);
    flip.push_back("`");
    rows.push_back({flip, facts.quickFlipHeldBy
                              ? "Held by " + *facts.quickFlipHeldBy + ", so it cannot jump back to your last app"
                              : "Jump straight back to your last app, without summoning"});
  }
  if (facts.touchpad && facts.swipeToSummon) {
    const SwipeWords words = swipeWords(facts.gesture, facts.direction);
    rows.push_back({{words.cap}, words.meaning});
  }
  return rows;
}

std::optional<AdviceText> OnboardingScreens::quickFlipTaken(const std::optional<HotkeyBinding>& shortcut,
                                                            bool quickFlip, const OnboardingServices& services) {
  if (!quickFlip) return std::nullopt;
  std::optional<QuickFlipKey::Held> held = QuickFlipKey::heldElsewhere({shortcut}, services.shortcutTaken);
  if (!held) return std::nullopt;
  // Inside the switcher the key is the switcher's: it steps backward there all the same.
  held->advice.say("Inside the switcher it still steps backward.");
  return std::move(held->advice);
}

OnboardingScreens::SwipeWords OnboardingScreens::swipeWords(AppSettings::SummonGesture gesture,
                                                            AppSettings::SummonSwipeDirection direction) {
  const bool four = gesture == AppSettings::SummonGesture::fourFingers;
  const std::string fingers = four ? "four" : "three";
  const std::string Fingers = four ? "Four" : "Three";
  if (direction == AppSettings::SummonSwipeDirection::sideways) {
    return {"Swipe sideways", Fingers + " fingers on the touchpad, and sideways again to put it away",
            "Swipe sideways with " + fingers + " fingers to summon",
            "Swipe sideways again to put it away. Change it any time in Settings, Shortcuts."};
  }
  return {"Swipe up", Fingers + " fingers on the touchpad, and down to put it away",
          "Swipe up with " + fingers + " fingers to summon",
          "Swipe down to put it away. Change it any time in Settings, Shortcuts."};
}

QString OnboardingScreens::tabsNote(bool readable) {
  if (readable) return "Browsers started before Quorvel show their tabs once you restart them.";
  return "Tabs are read over the desktop's accessibility bus, which is switched off. Switch it on with this "
         "command in a terminal, then restart your browsers to see their tabs:";
}

QString OnboardingScreens::tabsCommand() { return "gsettings set org.gnome.desktop.interface toolkit-accessibility true"; }

QWidget* OnboardingScreens::shortcutContent(const ShortcutPage& values, OnboardingServices& services) {
  QWidget* content = column(12);
  const bool ready = values.standing == ReadinessStanding::allowed;
  const QString name = values.shortcutText ? QString("Shortcut %1").arg(q(*values.shortcutText)) : QString("Shortcut");
  add(content, standingCard(name, ready && values.shortcutText.has_value(), values.shortcutText ? "Taken" : "None set",
                            "shortcutCard"));
  AdviceView* advice = nullptr;
  if (!ready) {
    advice = new AdviceView(services.main);
    advice->setObjectName("shortcutNote");
    advice->setFont(Brand::captionFont());
    advice->setProseRole(QPalette::PlaceholderText);
    advice->setAdvice(values.advice);
    add(content, advice);
  }
  auto* chooser = new QWidget;
  auto* row = new QHBoxLayout(chooser);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  row->addWidget(Brand::label("Choose another shortcut:", Brand::calloutFont(), Brand::inkSoft(), false), 0,
                 Qt::AlignTop);
  auto* recorder = new ShortcutRecorderRow({HotkeyBinding::Role::summon, false, "Record a shortcut", "Type your new shortcut"},
                                           services.keyNames, services.virtualKeyCode, services.suspendShortcuts,
                                           services.main);
  recorder->setObjectName("recorder");
  recorder->setBinding(values.binding);
  recorder->setConflicts({services.settings.hotkeyBinding(HotkeySlot::second)});
  recorder->onRecord = values.choose;
  // A combination another program holds is refused as it is pressed; the page's note says the rest.
  if (services.shortcutTaken) recorder->setTakenCheck(services.shortcutTaken, false);
  // The recorder's sentence stands in the note's place while it shows: the page has room for one.
  if (advice) {
    recorder->onMessageChange = [advice = QPointer<AdviceView>(advice), recorder] {
      if (advice) advice->setHidden(recorder->model().message().has_value());
    };
  }
  row->addWidget(recorder, 1);
  add(content, chooser);
  return content;
}

QWidget* OnboardingScreens::page(OnboardingFlow& flow, OnboardingServices& services) {
  const Step step = flow.step();
  auto* footer = new BrandFooter(OnboardingFlow::stepCount, OnboardingFlow::index(step), flow.footer(),
                                 [&flow](OnboardingFlow::Action::Command command) { flow.perform(command); });
  std::optional<BrandScreen::Art> art;
  QWidget* content = nullptr;
  BrandScreen::Texts texts =
      OnboardingScreens::texts(step, flow.showsMenuBarIcon(), QSystemTrayIcon::isSystemTrayAvailable());
  switch (step) {
    case Step::welcome:
      art = BrandScreen::Art{BrandArt::Scene::arrival};
      content = brandPointList({{Glyph::windows, "See everything at once, in a 3D arrangement you pick."},
                                {Glyph::search, "Search across your apps and your individual browser tabs."},
                                {Glyph::swap, "Jump straight back to the window you were just in."}});
      break;
    case Step::permissionsIntro:
      art = BrandScreen::Art{BrandArt::Scene::settingsRows, {false, false}};
      content = brandPointList({{Glyph::windows, "Window pictures, so it can show you your windows."},
                                {Glyph::key, "The shortcut, so it can hear it and bring windows forward."}});
      break;
    case Step::windowPictures: {
      art = BrandScreen::Art{BrandArt::Scene::capture};
      content = column(10);
      const bool pictures = flow.picturesStanding() == ReadinessStanding::allowed;
      add(content, standingCard("Window pictures", pictures, "Not offered", "picturesCard"));
      if (!pictures) {
        add(content, note("The X server does not offer Composite, so the switcher shows your windows without their "
                          "pictures. Turn Composite on in the X server's configuration and start Quorvel again.",
                          Brand::warning(), "picturesNote"));
      }
      const bool tabs = flow.tabsStanding() == ReadinessStanding::allowed;
      add(content, standingCard("Browser tabs", tabs, "Off", "tabsCard"));
      if (tabs) {
        add(content, note(tabsNote(tabs), Brand::inkFaint(), "tabsNote"));
      } else {
        // The command, to be selected or copied, as the advice shows its commands, close under its
        // sentence (the page has no room to spare).
        QWidget* howTo = column(4);
        add(howTo, note(tabsNote(tabs), Brand::inkFaint(), "tabsNote"));
        QWidget* command = AdviceView::commandRow(tabsCommand(), Brand::captionFont(), services.main);
        command->setObjectName("tabsCommand");
        add(howTo, command);
        add(content, howTo);
      }
      break;
    }
    case Step::shortcut: {
      art = BrandScreen::Art{BrandArt::Scene::shortcut};
      for (const auto& cap : flow.keyCaps()) art->keys << q(cap);
      ShortcutPage values;
      values.standing = flow.shortcutStanding();
      values.shortcutText = flow.shortcutText();
      values.advice = flow.freeingAdvice();
      values.binding = flow.shortcut();
      values.choose = [&flow](const HotkeyBinding& binding) { flow.chooseShortcut(binding); };
      content = shortcutContent(values, services);
      break;
    }
    case Step::permissionsDone: {
      Readiness readiness{flow.picturesStanding() == ReadinessStanding::allowed, flow.shortcutWorks(),
                          flow.shortcutText()};
      if (!readiness.shortcutWorks && readiness.shortcutText) readiness.heldBy = flow.freeingAdvice().heldBy();
      texts = doneTexts(readiness);
      // One switch for each check, in the order of the pages: the pictures, then the shortcut.
      art = BrandScreen::Art{BrandArt::Scene::settingsRows, {readiness.pictures, readiness.shortcutWorks}};
      if (readiness.shortcutWorks) break;
      const QString name = readiness.shortcutText ? QString("Shortcut %1").arg(q(*readiness.shortcutText)) : "Shortcut";
      content = standingCard(name, false, readiness.shortcutText ? "Taken" : "None set", "shortcutCard");
      break;
    }
    case Step::style: {
      content = column(14);
      auto* grid = new QWidget;
      auto* tiles = new QGridLayout(grid);
      tiles->setContentsMargins(0, 0, 0, 0);
      tiles->setSpacing(12);
      const auto chosen = flow.style();
      int i = 0;
      for (const auto style : SettingEnums::allCases<AppSettings::SwitcherStyle>()) {
        tiles->addWidget(new StyleTile(services.settings, style, style == chosen,
                                       [&flow, style] { flow.setStyle(style); }),
                         i / 4, i % 4);
        ++i;
      }
      for (int c = 0; c < 4; ++c) tiles->setColumnStretch(c, 1);
      add(content, grid);
      add(content, note(StyleNames::description(chosen), Brand::inkFaint(), "description"));
      break;
    }
    case Step::search:
      art = BrandScreen::Art{BrandArt::Scene::search};
      content = brandPointList(
          {{Glyph::search, "Summon the switcher, press Space, and start typing to jump straight to what you want."},
           {Glyph::windows, "How much it searches, and which windows it leaves out, are yours to set in Settings."}});
      break;
    case Step::settings:
      art = BrandScreen::Art{BrandArt::Scene::menuBar};
      content = brandPointList(
          {{Glyph::key, "Change your shortcut, pick another arrangement, and decide how tabs and search behave."}});
      break;
    case Step::keys: {
      content = column(13);
      if (flow.didSummon()) {
        auto* line = Brand::label(QString::fromUtf8("\u2714  That was it. The switcher is working."),
                                  Brand::captionFont(), Brand::success(), false);
        line->setObjectName("success");
        add(content, line);
      }
      KeyRowFacts facts;
      facts.quickFlip = services.settings.aboveTabStepsBackward();
      // The key above Tab is asked for as the shortcut is: one another program holds is said so.
      const std::optional<AdviceText> flipTaken = quickFlipTaken(flow.shortcut(), facts.quickFlip, services);
      if (flipTaken) facts.quickFlipHeldBy = flipTaken->heldBy();
      // The key source is asked at once: a tour that resumes on this page is built before the keys'
      // owners have been reported. The row names the holder that the advice names.
      if (const std::optional<HotkeyBinding> shortcut = flow.shortcut()) {
        if (services.shortcutTaken) {
          if (const std::optional<AdviceText> taken = services.shortcutTaken(*shortcut)) facts.summonHeldBy = taken->heldBy();
        } else if (!flow.shortcutWorks()) {
          facts.summonHeldBy = flow.freeingAdvice().heldBy();
        }
      }
      facts.touchpad = flow.hasTouchpad();
      facts.swipeToSummon = flow.swipeToSummon();
      facts.gesture = services.settings.summonGesture();
      facts.direction = services.settings.summonSwipeDirection();
      std::vector<BrandKeyRow*> rows;
      int keysWidth = 0;
      for (const auto& row : keyRows(flow.keyCaps(), facts)) {
        QStringList caps;
        for (const auto& cap : row.caps) caps << q(cap);
        rows.push_back(new BrandKeyRow(caps, q(row.meaning)));
        rows.back()->setObjectName("keyRow");
        keysWidth = std::max(keysWidth, rows.back()->keysNeeded());
        add(content, rows.back());
        if (flipTaken && row.caps.size() >= 2 && row.caps.back() == "`") {
          auto* advice = new AdviceView(services.main);
          advice->setObjectName("quickFlipNote");
          advice->setFont(Brand::captionFont());
          advice->setProseRole(QPalette::PlaceholderText);
          advice->setAdvice(*flipTaken);
          add(content, advice);
        }
      }
      // A shortcut of three keys or more widens the keys' column of every row alike.
      for (BrandKeyRow* row : rows) row->setKeysWidth(keysWidth);
      break;
    }
    case Step::close: {
      art = BrandScreen::Art{BrandArt::Scene::done};
      auto* card = new BrandTile(false);
      auto* inside = new QVBoxLayout(card);
      inside->setContentsMargins(16, 14, 16, 14);
      inside->setSpacing(10);
      auto* login = new BrandCheckbox("Open Quorvel when I log in", "So your shortcut works as soon as you log in.");
      login->setObjectName("login");
      login->setChecked(flow.opensAtLogin());
      // clicked() is the user's change alone: the page built again with the item's state asks nothing.
      QObject::connect(login, &QAbstractButton::clicked, login, [&flow](bool on) { flow.setOpensAtLogin(on); });
      inside->addWidget(login);
      if (flow.launchAtLoginMessage()) {
        inside->addWidget(note(q(*flow.launchAtLoginMessage()), Brand::warning(), "loginMessage"));
      }
      // Without a touchpad there is no swipe to offer.
      if (!flow.hasTouchpad()) {
        content = card;
        break;
      }
      const SwipeWords words = swipeWords(services.settings.summonGesture(), services.settings.summonSwipeDirection());
      auto* swipe = new BrandCheckbox(q(words.choice), q(words.choiceDetail));
      swipe->setObjectName("swipe");
      swipe->setChecked(flow.swipeToSummon());
      QObject::connect(swipe, &QAbstractButton::clicked, swipe, [&flow](bool on) { flow.setSwipeToSummon(on); });
      inside->addWidget(swipe);
      if (flow.swipeToSummon() && flow.systemAnswersTheSameSwipe()) {
        inside->addWidget(note("Your desktop may answer the same swipe itself, and then both happen at once. If it "
                               "does, turn its gesture off in its touchpad settings.",
                               Brand::warning(), "swipeConflict"));
      }
      content = card;
      break;
    }
  }
  auto* screen = new BrandScreen(texts, art, content, footer);
  screen->setObjectName(QString::fromUtf8(OnboardingFlow::rawValue(step).data(), int(OnboardingFlow::rawValue(step).size())));
  return screen;
}

}  // namespace quorvel
