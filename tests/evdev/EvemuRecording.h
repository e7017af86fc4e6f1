#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/evdev/EvdevFrameAssembler.h"

namespace quorvel {

// A touchpad's event stream recorded in evemu's text format: the device's axis ranges ("A:" lines)
// and its events ("E: time type code value", type and code in hexadecimal).
struct EvemuRecording {
  struct Event {
    double time = 0;
    uint16_t type = 0;
    uint16_t code = 0;
    int32_t value = 0;
  };
  std::map<uint16_t, EvdevFrameAssembler::AxisRange> axes;
  std::vector<Event> events;

  static EvemuRecording load(const std::string& name) {
    EvemuRecording r;
    std::ifstream in(std::string(QUORVEL_EVDEV_RECORDINGS) + "/" + name);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string tag;
      fields >> tag;
      if (tag == "A:") {
        std::string code;
        EvdevFrameAssembler::AxisRange range;
        fields >> code >> range.minimum >> range.maximum;
        r.axes[static_cast<uint16_t>(std::stoul(code, nullptr, 16))] = range;
      } else if (tag == "E:") {
        std::string type, code;
        Event e;
        fields >> e.time >> type >> code >> e.value;
        e.type = static_cast<uint16_t>(std::stoul(type, nullptr, 16));
        e.code = static_cast<uint16_t>(std::stoul(code, nullptr, 16));
        r.events.push_back(e);
      }
    }
    return r;
  }

  EvdevFrameAssembler assembler() const {
    return EvdevFrameAssembler(axes.at(0x2f).maximum + 1, axes.at(0x35), axes.at(0x36));
  }
};

}  // namespace quorvel
