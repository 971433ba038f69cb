#pragma once
// A fake instrument behind the fake USB driver: answers lidar query frames
// and monitoring characters as the hardware does, in simulated time.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Platform/FakeUsbDriver.h"

namespace OrlaqLidar::Test {

inline std::string Hex2(uint8_t v) {
  const char* d = "0123456789ABCDEF";
  return {d[v >> 4], d[v & 15]};
}

inline std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload, bool binary) {
  std::vector<uint8_t> f;
  if (binary)
    f = {0x02, 0xFF, 0xFF, 0xFF};
  else
    f = {0x02};
  f.insert(f.end(), payload.begin(), payload.end());
  if (binary) f.insert(f.end(), {0xFF, 0xFF, 0xFF});
  f.push_back(0x03);
  uint8_t x = 0;
  for (uint8_t b : f) x ^= b;
  const std::string h = Hex2(x);
  f.insert(f.end(), h.begin(), h.end());
  return f;
}

inline std::vector<uint8_t> TextFrame(const std::string& text) {
  return Frame(std::vector<uint8_t>(text.begin(), text.end()), false);
}

// Answers lidar query frames and monitoring characters as an instrument would.
struct TFakeInstrument {
  TFakeUsbDriver& usb;
  std::map<int, int> shotBytes;          // device -> payload size of a shot
  std::set<int> monitors;                // devices speaking the monitoring protocol
  std::set<int> mute;                    // devices that do not answer at all
  std::set<int> muteData;                // devices that do not answer data queries
  std::map<int, std::vector<char>> log;  // commands received per device
  std::map<int, bool> laser;

  explicit TFakeInstrument(TFakeUsbDriver& d) : usb(d) {
    usb.OnWrite = [this](int dev, const std::vector<uint8_t>& bytes) { Answer(dev, bytes); };
  }
  void Answer(int dev, const std::vector<uint8_t>& bytes) {
    if (monitors.count(dev)) {
      if (bytes.size() == 3) {
        log[dev].push_back('P');
        if (!mute.count(dev)) usb.Inject(dev, "Q");
      } else {
        log[dev].push_back(static_cast<char>(bytes[0]));
        if (!mute.count(dev)) usb.Inject(dev, "21.5\n\r");
      }
      return;
    }
    if (bytes.size() < 5 || bytes[0] != 0x02) return;
    const char c = static_cast<char>(bytes[1]);
    log[dev].push_back(c);
    if (mute.count(dev)) return;
    auto text = [&](const std::string& s) { usb.Inject(dev, TextFrame(s)); };
    switch (c) {
      case 'C': text("LIDSIM01"); break;
      case 'I':
      case 'i': laser[dev] = true; text("OK"); break;
      case 'J': laser[dev] = false; text("OK"); break;
      case 'L': text(laser[dev] ? "OK" : "NO"); break;
      case 'A':
      case 'a':
      case 'Q':
        if (muteData.count(dev)) return;
        usb.Inject(dev, Frame(std::vector<uint8_t>(shotBytes[dev], 0x01), true));
        break;
      default: text("eU");
    }
  }
  int Count(int dev, char c) const {
    auto it = log.find(dev);
    return it == log.end() ? 0 : static_cast<int>(std::count(it->second.begin(), it->second.end(), c));
  }
};

}  // namespace OrlaqLidar::Test
