#include "settings_ui/StyleNames.h"

namespace quorvel {

using Style = AppSettings::SwitcherStyle;

QString StyleNames::displayName(Style style) {
  switch (style) {
    case Style::coverArc: return "Cover Arc";
    case Style::tangentRing: return "Carousel";
    case Style::flatRing: return "Ring";
    case Style::flip3d: return "Flip 3D";
    case Style::cylinder: return "Panorama";
    case Style::expo: return "Grid";
    case Style::row: return "2D Row";
  }
  return "Cover Arc";
}

QString StyleNames::description(Style style) {
  switch (style) {
    case Style::coverArc: return "A shallow arc facing you, the focused window front and centre.";
    case Style::tangentRing: return "A full circle of cards, each turned along the ring.";
    case Style::flatRing: return "A flat wheel that turns, the chosen window at the front and biggest.";
    case Style::flip3d: return "A diagonal cascade of parallel cards.";
    case Style::cylinder: return "A panorama wrapped around you, looking along the wall.";
    case Style::expo: return "Every window at once, on a grid tilted back in perspective.";
    case Style::row: return "A straight line of windows facing you, front and simple.";
  }
  return {};
}

}  // namespace quorvel
