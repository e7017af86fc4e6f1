#include "platform/x11/X11IdleReader.h"

#include <xcb/screensaver.h>

#include "platform/x11/X11Connection.h"

namespace quorvel {

X11IdleReader::X11IdleReader(X11Connection& connection) : connection_(connection) {}

std::optional<double> X11IdleReader::idleSeconds() {
  if (!available_) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_.xcb(), &xcb_screensaver_id);
    if (connection_.isBroken()) return std::nullopt;
    available_ = extension && extension->present;
  }
  if (!*available_) return std::nullopt;
  auto info = connection_.reply(xcb_screensaver_query_info_reply,
                                xcb_screensaver_query_info(connection_.xcb(), connection_.root()));
  if (!info) return std::nullopt;
  return info->ms_since_user_input / 1000.0;
}

}  // namespace quorvel
