// The registry: its start, the triggers of a refresh, visits and the card list of a summon (the
// refresh loop itself is in WindowRegistryRefresh.cpp).
#include "windows/WindowRegistry.h"

#include <algorithm>
#include <coroutine>
#include <utility>

#include "ax/AXFunnel.h"
#include "base/ThreadCheck.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "settings/AppSettings.h"
#include "windows/ActivatorHooks.h"
#include "windows/FocusObserver.h"
#include "windows/SettingsGate.h"
#include "windows/WindowList.h"

namespace quorvel {

// ---- Creation, start and teardown ----

WindowRegistry::WindowRegistry(RegistryServices services) : services_(services) {
  summonSettingsObserver_ = services_.settings.store().addObserver(
      [stale = summonSettingsStale_] { stale->store(true, std::memory_order_release); });
}

std::shared_ptr<WindowRegistry> WindowRegistry::create(RegistryServices services) {
  return std::shared_ptr<WindowRegistry>(new WindowRegistry(services));
}

WindowRegistry::~WindowRegistry() {
  loopTask_.cancel();
  if (refreshTask_) refreshTask_->cancel();
}

void WindowRegistry::start() {
  QUORVEL_REQUIRE_EXECUTOR(services_.runtime.main(), "WindowRegistry::start");
  const bool already = state_.lock.withLock([&] { return std::exchange(isStarted_, true); });
  if (already) return;
  std::weak_ptr<WindowRegistry> weak = weak_from_this();

  Workspace& workspace = services_.platform.workspace;
  std::vector<Subscription> tokens;
  tokens.push_back(workspace.addObserver(Workspace::Event::didActivateApplication,
                                         [weak](Workspace::Event, const RunningApplication& app) {
                                           if (auto self = weak.lock()) self->onAppActivated(app.pid, app.noticedAt);
                                         }));
  // A window opened or closed by an application that keeps running changes the cards as much as a
  // launch or a quit does.
  for (Workspace::Event event : {Workspace::Event::didLaunchApplication, Workspace::Event::didTerminateApplication,
                                 Workspace::Event::didChangeWindows}) {
    tokens.push_back(workspace.addObserver(event, [weak](Workspace::Event, const RunningApplication&) {
      if (auto self = weak.lock()) self->onAppLaunchedOrTerminated();
    }));
  }
  Subscription defaultsToken = services_.settings.store().addObserver([weak] {
    if (auto self = weak.lock()) self->onDefaultsChanged();
  });

  spawn(services_.runtime.main(), installActivatorHooks(weak));
  services_.focusObserver.setSink([weak](uint32_t windowID, int32_t pid, Instant noticedAt) {
    if (auto self = weak.lock()) self->focusSink(windowID, pid, noticedAt);
  });
  TaskHandle<void> loop = spawn(services_.runtime.pool(), refreshLoop(weak));

  const int64_t gate = SettingsGate::readGateSettings(services_.settings);
  state_.lock.withLock([&] {
    workspaceObservers_ = std::move(tokens);
    defaultsObserver_ = std::move(defaultsToken);
    state_.lastGateSettings = gate;
    loopTask_ = loop;
  });
}

Task<void> WindowRegistry::installActivatorHooks(std::weak_ptr<WindowRegistry> weak) {
  auto self = weak.lock();
  if (!self) co_return;
  ActivatorHooks& hooks = self->services_.activatorHooks;
  hooks.setDidRaiseWindow([weak](uint32_t windowID, int32_t pid) {
    if (auto registry = weak.lock()) registry->recordRaise(windowID, pid);
  });
  hooks.setDidPressTab([weak](uint32_t tabID, uint32_t hostWindowID) {
    if (auto registry = weak.lock()) registry->recordTabPress(tabID, hostWindowID);
  });
}

void WindowRegistry::setTabCardSink(TabCardSink sink) {
  state_.lock.withLock([&] { state_.tabCardSink = std::move(sink); });
}

void WindowRegistry::setLeaveCaptureSink(LeaveCaptureSink sink) {
  state_.lock.withLock([&] { state_.leaveCaptures.setSink(std::move(sink)); });
}

// ---- Triggers ----

void WindowRegistry::stampAndRequestRefresh() {
  const Instant now = services_.runtime.clock().now();
  state_.lock.withLock([&] { state_.lastWorkspaceNotification = now; });
  spawn(services_.runtime.pool(), awaitRefresh(weak_from_this()));
}

Task<void> WindowRegistry::awaitRefresh(std::weak_ptr<WindowRegistry> weak) {
  TaskHandle<void> task;
  {
    auto self = weak.lock();
    if (!self) co_return;
    task = self->state_.lock.withLock([&] { return self->requestRefresh(); });
  }
  co_await task;
}

void WindowRegistry::onAppActivated(std::optional<int32_t> pid, std::optional<Instant> noticedAt) {
  QUORVEL_REQUIRE_EXECUTOR(services_.runtime.main(), "WindowRegistry::onAppActivated");
  if (pid) creditActivatedApp(*pid, noticedAt);
  stampAndRequestRefresh();
}

void WindowRegistry::onAppLaunchedOrTerminated() {
  QUORVEL_REQUIRE_EXECUTOR(services_.runtime.main(), "WindowRegistry::onAppLaunchedOrTerminated");
  state_.lock.withLock([&] { state_.mustRunNextPass = true; });
  stampAndRequestRefresh();
}

void WindowRegistry::onDefaultsChanged() {
  const int64_t gate = SettingsGate::readGateSettings(services_.settings);
  const bool changed = state_.lock.withLock([&] {
    if (gate == state_.lastGateSettings) return false;
    state_.lastGateSettings = gate;
    state_.mustRunNextPass = true;
    return true;
  });
  if (changed) stampAndRequestRefresh();
}

std::optional<uint32_t> WindowRegistry::recentRaise(int32_t pid, Instant now) const {
  const auto& raise = state_.lastRaise;
  if (raise && raise->pid == pid && now - raise->at < kRaiseCreditWindow) return raise->id;
  return std::nullopt;
}

void WindowRegistry::creditActivatedApp(int32_t pid, std::optional<Instant> noticedAt) {
  if (pid == services_.platform.workspace.ownPid()) return;
  // Notifications and focus changes reach the registry on different threads: one that was on its
  // way while a newer visit was credited would turn the order around.
  const bool outdated = noticedAt && state_.lock.withLock([&] {
    const std::optional<Instant> last = state_.recency.lastVisitAt();
    return last && *noticedAt < *last;
  });
  if (outdated) return;
  // So would one that waited while the focus moved on to another application's window (its own
  // report credits that one).
  if (const std::optional<WindowFocus> focus = services_.platform.windowServer.focus(); focus && focus->window) {
    const std::optional<int32_t> focusedPid = state_.lock.withLock([&]() -> std::optional<int32_t> {
      for (const WindowCard& card : *state_.cards) {
        if (card.id == *focus->window) return card.pid;
      }
      return std::nullopt;
    });
    if (focusedPid && *focusedPid != pid) return;
  }
  const Instant now = services_.runtime.clock().now();
  const std::optional<uint32_t> raised = state_.lock.withLock([&] { return recentRaise(pid, now); });
  if (raised) {
    noteVisit(*raised);
    return;
  }
  const auto ids = state_.lock.withLock([&] {
    std::unordered_set<uint32_t> out;
    for (const WindowCard& card : *state_.cards) {
      if (card.pid == pid) out.insert(card.id);
    }
    return out;
  });
  if (const auto front = frontWindowOfApp(pid, ids)) noteVisit(*front);
}

std::optional<uint32_t> WindowRegistry::frontWindowOfApp(int32_t pid, const std::unordered_set<uint32_t>& ids) {
  WindowServer& server = services_.platform.windowServer;
  const auto entries = server.onScreenWindows();
  if (!entries) return std::nullopt;
  const std::optional<uint32_t> known = server.frontWindowOfApplication(pid);
  std::optional<uint32_t> first;
  std::optional<uint32_t> firstOfIds;
  bool knownOnScreen = false;
  for (const WindowListEntry& entry : *entries) {
    if (entry.ownerPid != pid || entry.layer != 0 || !entry.number) continue;
    if (entry.number == known) knownOnScreen = true;
    if (!firstOfIds && ids.contains(*entry.number)) firstOfIds = *entry.number;
    if (!first) first = *entry.number;
  }
  // The front window the platform knows comes before the stacking among windows equally preferred.
  if (knownOnScreen && (ids.contains(*known) || !firstOfIds)) return known;
  return firstOfIds ? firstOfIds : first;
}

void WindowRegistry::focusSink(uint32_t windowID, int32_t /*pid*/, std::optional<Instant> noticedAt) {
  QUORVEL_REQUIRE_EXECUTOR(services_.axFunnel.queue(), "WindowRegistry::focusSink");
  // A report that waited while the focus moved on names a window that no longer has it (another
  // window has it, or none does, as while a window manager hands it from one window to the next):
  // the newer focus is credited by its own report.
  const std::optional<WindowFocus> focus = services_.platform.windowServer.focus();
  if (focus && focus->window != windowID) return;
  const bool credit = state_.lock.withLock([&] {
    if (state_.recency.head() == windowID) return false;
    // A focus change that waited on the Accessibility queue while a newer visit was credited (an
    // activation, a summon) would turn the order around.
    const std::optional<Instant> last = state_.recency.lastVisitAt();
    if (noticedAt && last && *noticedAt < *last) return false;
    return std::any_of(state_.cards->begin(), state_.cards->end(), [&](const WindowCard& card) {
      return card.id == windowID && card.state == WindowState::onCurrentSpace;
    });
  });
  if (credit) noteVisit(windowID);
}

void WindowRegistry::recordRaise(uint32_t windowID, int32_t pid) {
  QUORVEL_REQUIRE_EXECUTOR(services_.runtime.main(), "WindowRegistry::recordRaise");
  const Instant now = services_.runtime.clock().now();
  state_.lock.withLock([&] {
    state_.lastRaise = RaisedWindow{windowID, pid, now};
    const auto showing = state_.showingTabByHost.find(windowID);
    if (showing != state_.showingTabByHost.end() &&
        state_.pendingTabTouches.size() < RegistryState::kTabTouchLimit) {
      state_.pendingTabTouches.insert(state_.pendingTabTouches.begin(), showing->second);
    }
  });
  noteVisit(windowID);
}

void WindowRegistry::recordTabPress(uint32_t tabID, uint32_t hostWindowID) {
  QUORVEL_REQUIRE_EXECUTOR(services_.runtime.main(), "WindowRegistry::recordTabPress");
  state_.lock.withLock([&] {
    auto& touches = state_.pendingTabTouches;
    if (touches.size() >= RegistryState::kTabTouchLimit) touches.erase(touches.begin());
    touches.push_back(tabID);
    if (WindowCard::isTabID(tabID) && tabID != hostWindowID) state_.showingTabByHost[hostWindowID] = tabID;
  });
}

// ---- Visits ----

void WindowRegistry::noteVisit(uint32_t windowID) {
  QUORVEL_REQUIRE_ANY_EXECUTOR("WindowRegistry::noteVisit", &services_.runtime.main(), &services_.axFunnel.queue(),
                               &services_.runtime.pool());
  const Instant now = services_.runtime.clock().now();
  const bool refreshPictureOnLeave = services_.settings.boolValue(AppSettings::Key::refreshPictureOnLeave);
  state_.lock.withLock([&] { recordVisit(windowID, now, refreshPictureOnLeave); });
  logger_.debug("Visit of window 0x%x", windowID);
}

void WindowRegistry::noteVisitUnlessOvertaken(uint32_t windowID, std::optional<uint32_t> headSeen) {
  const Instant now = services_.runtime.clock().now();
  const bool refreshPictureOnLeave = services_.settings.boolValue(AppSettings::Key::refreshPictureOnLeave);
  const bool noted = state_.lock.withLock([&] {
    if (state_.recency.head() != headSeen) return false;
    recordVisit(windowID, now, refreshPictureOnLeave);
    return true;
  });
  if (noted) logger_.debug("Visit of window 0x%x", windowID);
}

void WindowRegistry::recordVisit(uint32_t windowID, Instant now, bool refreshPictureOnLeave) {
  const std::optional<uint32_t> previousHead = state_.recency.head();
  state_.recency.visit(windowID, now);
  if (refreshPictureOnLeave && previousHead && *previousHead != windowID) {
    state_.leaveCaptures.noteLeft(*previousHead, now);
  }
}

void WindowRegistry::noteCurrentWindow(const std::vector<WindowCard>& cards, std::span<const int64_t> z,
                                       const std::optional<WindowFocus>& focus, std::optional<uint32_t> head) {
  if (const auto current = CardOrdering::currentWindowByPosition(cards, z, head, focus))
    noteVisitUnlessOvertaken(*current, head);
}

// ---- The card list of a summon ----

const CardOrdering::SummonSettings& WindowRegistry::summonSettings() {
  // Marked fresh before reading: a change made while reading marks it stale again.
  if (!summonSettingsStale_->exchange(false, std::memory_order_acq_rel)) return summonSettings_;
  const AppSettings& settings = services_.settings;
  CardOrdering::SummonSettings how;
  how.order = settings.windowOrder();
  how.groupByApp = settings.boolValue(AppSettings::Key::groupByApp);
  const AppSettings::StackOrder stackOrder = settings.stackOrder();
  how.nativeRuns = settings.boolValue(AppSettings::Key::bunchAppWindows) && stackOrder == AppSettings::StackOrder::native;
  how.packedDisplays = CardOrdering::packCategoryDisplays(settings.otherSpacesDisplay(), settings.minimizedDisplay(),
                                                          settings.hiddenAppsDisplay(), settings.windowlessAppsDisplay());
  how.tabsByRecency = settings.boolValue(AppSettings::Key::bunchTabs) && stackOrder == AppSettings::StackOrder::recent;
  summonSettings_ = how;
  return summonSettings_;
}

WindowRegistry::SummonList WindowRegistry::cardsForSummon() {
  QUORVEL_REQUIRE_EXECUTOR(services_.runtime.main(), "WindowRegistry::cardsForSummon");
  // The committed pass, taken by pointer: nothing is copied under the lock.
  std::shared_ptr<const std::vector<WindowCard>> committed;
  std::shared_ptr<const CardOrdering::TabTable> tabCards;
  std::shared_ptr<const CardOrdering::TabRecency> tabRecency;
  std::shared_ptr<const CardOrdering::TextRanks> textRanks;
  state_.lock.withLock([&] {
    committed = state_.cards;
    tabCards = state_.tabCards;
    tabRecency = state_.tabRecency;
    const bool ranksThese = !state_.textRanksOf.owner_before(committed) && !committed.owner_before(state_.textRanksOf);
    if (ranksThese) textRanks = state_.textRanks;
  });
  const std::vector<WindowCard>& snapshot = *committed;
  const size_t n = snapshot.size();
  const CardOrdering::SummonSettings& how = summonSettings();

  // Each card's stacking position (kNoRank off screen) and recency rank, in one block.
  std::vector<int64_t> keys(2 * n, CardOrdering::kNoRank);
  const std::span<int64_t> zOfCard(keys.data(), n);
  const std::span<int64_t> rankOfCard(keys.data() + n, n);
  // The recency head before the platform is read: a visit credited meanwhile is newer than what
  // was read.
  const std::optional<uint32_t> head = state_.lock.withLock([&] { return state_.recency.head(); });
  const IdTable stacking = WindowList(services_.platform.windowServer).stackingPositions();
  for (size_t i = 0; i < n; ++i) zOfCard[i] = stacking.valueOr(snapshot[i].id, CardOrdering::kNoRank);
  const std::span<const int64_t> z = stacking.empty() ? std::span<const int64_t>() : zOfCard;
  const std::optional<WindowFocus> focus = services_.platform.windowServer.focus();
  noteCurrentWindow(snapshot, z, focus, head);

  // The visit order as an id table: id to its place in the recency list.
  IdTable visits = state_.lock.withLock([&] {
    const auto& entries = state_.recency.entries();
    IdTable table(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) table.insert(entries[i].id, static_cast<int64_t>(i));
    return table;
  });
  for (size_t i = 0; i < n; ++i) rankOfCard[i] = visits.empty() ? 0 : visits.valueOr(snapshot[i].id, CardOrdering::kNoRank);

  // A list committed without its text ranks (none yet, or set from outside a pass) gets them now,
  // once: they are kept for the summons that follow while the list stands.
  if (!textRanks) {
    textRanks = std::make_shared<const CardOrdering::TextRanks>(CardOrdering::textRanks(snapshot));
    state_.lock.withLock([&] {
      if (state_.cards != committed) return;
      state_.textRanks = textRanks;
      state_.textRanksOf = committed;
    });
  }

  // Ordered, grouped and moved on indices; the final list points into the committed pass.
  std::vector<const WindowCard*> ordered =
      CardOrdering::summonOrder(snapshot, *textRanks, rankOfCard, z, *tabCards, *tabRecency, how);

  // The initial selection: the front-most window of the current desktop, else the most recent
  // visit; the previous one is the visit before it, else the next window on screen.
  // The two front-most current-desktop windows (the earlier card on equal positions).
  auto frontMost = [&](std::optional<uint32_t> except) -> std::optional<uint32_t> {
    std::optional<uint32_t> best;
    int64_t bestZ = CardOrdering::kNoRank;
    for (size_t i = 0; i < n; ++i) {
      if (snapshot[i].state != WindowState::onCurrentSpace || zOfCard[i] == CardOrdering::kNoRank) continue;
      if (snapshot[i].id == except) continue;
      if (zOfCard[i] < bestZ) {
        best = snapshot[i].id;
        bestZ = zOfCard[i];
      }
    }
    return best;
  };
  // Where the platform knows the focus apart from the stacking, the focused window is in front.
  std::optional<uint32_t> front;
  if (focus && focus->window) {
    for (size_t i = 0; i < n && !front; ++i) {
      const bool onScreen = snapshot[i].state == WindowState::onCurrentSpace && zOfCard[i] != CardOrdering::kNoRank;
      if (onScreen && snapshot[i].id == *focus->window) front = focus->window;
    }
  }
  if (!front) front = frontMost(std::nullopt);
  const std::optional<uint32_t> next = front ? frontMost(front) : std::nullopt;

  // One walk over the list: where the front windows are, and the two most recent visits in it.
  struct Found {
    std::optional<uint32_t> id;
    int64_t rank = CardOrdering::kNoRank;
    int position = -1;
  };
  Found recent[2];
  int frontPosition = -1, nextPosition = -1;
  for (size_t p = 0; p < ordered.size(); ++p) {
    const uint32_t id = ordered[p]->id;
    const int position = static_cast<int>(p);
    if (id == front && frontPosition < 0) frontPosition = position;
    if (id == next && nextPosition < 0) nextPosition = position;
    const std::optional<int64_t> rank = visits.find(id);
    if (!rank || *rank == recent[0].rank || *rank == recent[1].rank) continue;
    if (*rank < recent[0].rank) {
      recent[1] = recent[0];
      recent[0] = Found{id, *rank, position};
    } else if (*rank < recent[1].rank) {
      recent[1] = Found{id, *rank, position};
    }
  }
  auto positionOf = [&](std::optional<uint32_t> id) -> std::optional<int> {
    if (!id) return std::nullopt;
    for (const auto& [known, position] : {std::pair{front, frontPosition}, std::pair{next, nextPosition},
                                          std::pair{recent[0].id, recent[0].position},
                                          std::pair{recent[1].id, recent[1].position}}) {
      if (known == id && position >= 0) return position;
    }
    return std::nullopt;
  };
  const std::optional<uint32_t> first = front ? front : recent[0].id;
  const std::optional<uint32_t> second = recent[1].id ? recent[1].id : (next ? next : first);

  SummonList list;
  list.cards = SummonCards(std::move(committed), std::move(tabCards), std::move(ordered));
  list.currentIndex = positionOf(first).value_or(0);
  list.previousIndex = positionOf(second).value_or(list.currentIndex);
  return list;
}

}  // namespace quorvel
