#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/atspi/AtspiBus.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;
typedef struct _GVariantType GVariantType;

namespace quorvel {

// The accessibility bus through D-Bus (GLib's GDBus, whose connections are thread-safe and whose
// synchronous calls wait on the connection's own thread, not on a main loop of ours).
//
// The session bus is the one named by `sessionAddress`, else by DBUS_SESSION_BUS_ADDRESS, else
// the socket "bus" in XDG_RUNTIME_DIR (none is ever started for the occasion). The
// accessibility bus is the one named by AT_SPI_BUS_ADDRESS, else the one the session's
// accessibility bus launcher (org.a11y.Bus) gives out, started on demand by the session bus.
// Both connections are made on first use (each waits at most kSetupTimeout) and made again when
// they close; after a failure to connect, the next attempt waits kRetryAfter, and calls answer
// cannotComplete (apiDisabled when the session has no bus at all) until then.
class AtspiDbusBus final : public AtspiBus {
 public:
  static constexpr std::chrono::milliseconds kSetupTimeout{2000};
  static constexpr std::chrono::seconds kRetryAfter{5};

  explicit AtspiDbusBus(std::string sessionAddress = {});
  ~AtspiDbusBus() override;
  AtspiDbusBus(const AtspiDbusBus&) = delete;
  AtspiDbusBus& operator=(const AtspiDbusBus&) = delete;

  AtspiAnswer<std::vector<AtspiNode>> applications(Timeout timeout) override;
  AtspiAnswer<int32_t> processOf(const std::string& bus, Timeout timeout) override;
  AtspiAnswer<AtspiObject> object(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<std::vector<AtspiNode>> children(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<AtspiNode> parent(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<int32_t> indexInParent(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<uint32_t> role(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<uint64_t> states(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<std::map<std::string, std::string>> attributes(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<Rect> extents(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<std::vector<std::string>> actions(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<bool> doAction(const AtspiNode& node, int32_t index, Timeout timeout) override;
  AtspiAnswer<bool> selectChild(const AtspiNode& container, int32_t index, Timeout timeout) override;
  AtspiAnswer<bool> isEnabled(Timeout timeout) override;
  AXError setEnabled(bool enabled, Timeout timeout) override;

 private:
  // One call's reply (owned; freed by the holder), or its error.
  struct Reply {
    AXError error = AXError::success;
    GVariant* value = nullptr;
  };

  // A new reference to the session or the accessibility bus connection, connecting when needed;
  // null with the reason in `error`.
  GDBusConnection* session(AXError& error);
  GDBusConnection* accessibility(AXError& error);
  Reply call(GDBusConnection* connection, const std::string& destination, const std::string& path,
             const char* interface, const char* method, GVariant* parameters, const char* replyType,
             Timeout timeout);
  Reply callAccessible(const AtspiNode& node, const char* interface, const char* method, GVariant* parameters,
                       const char* replyType, Timeout timeout);

  std::string sessionAddress_;
  std::mutex mutex_;
  GDBusConnection* session_ = nullptr;   // under mutex_
  GDBusConnection* a11y_ = nullptr;      // under mutex_
  std::optional<std::chrono::steady_clock::time_point> failedAt_;  // under mutex_
};

}  // namespace quorvel
