// libFuzzer target: the framing of the lidar channels. The input is a
// little program: query frames (every command, the alternating data queries
// included), blocks of received bytes of any size, one byte at a time or in
// the channel's shared receive buffer, and well-formed answers. Whatever
// the parser hands out must be the payload of a whole answer among the bytes
// received for the current query, with a checksum that holds, no longer than
// the caller allows, and nothing written past it; a well-formed answer on a
// clean line must come out whole.
// fuzz-sources: kernel/comm/LidarProtocol.cpp kernel/comm/Protocol.cpp kernel/Status.cpp kernel/ErrorLogger.cpp Simulator/SimLidarDevice.cpp Simulator/SimDevice.cpp Simulator/SimLaser.cpp Simulator/SimAtmosphere.cpp Simulator/SimMeasureModel.cpp Simulator/SimRandom.cpp
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Config/ChannelConfig.h"
#include "Simulator/SimAtmosphere.h"
#include "Simulator/SimLaser.h"
#include "Simulator/SimLidarDevice.h"
#include "kernel/comm/LidarProtocol.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::LidarProtocol {

const std::string kBinaryStart("\x02\xFF\xFF\xFF", 4);
const std::string kBinaryEnd("\xFF\xFF\xFF\x03", 4);

// Every query the lidar channel sends, odd ones for good measure.
const char* const kCommands[] = {"A", "a", "B", "Q", "C", "I", "i", "O", "S", "V", "L", "T", "AB", "", "Q1", "b"};
const int32_t kMaxAnswers[] = {0, 1, 4, 16, 64, 255, 16464, -1};

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

uint8_t XorOf(const std::string& s, size_t from, size_t to) {
  uint8_t x = 0;
  for (size_t i = from; i < to; ++i) x ^= static_cast<uint8_t>(s[i]);
  return x;
}

std::string Hex2(uint8_t v, bool lower) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  return {digits[v >> 4], digits[v & 15]};
}

std::string Frame(const std::string& payload, bool binary, bool lower) {
  std::string f = (binary ? kBinaryStart : std::string(1, '\x02')) + payload + (binary ? kBinaryEnd : "\x03");
  return f + Hex2(XorOf(f, 0, f.size()), lower);
}

// True when stream holds start marker, payload, end marker and two digits
// that match the exclusive-or of the frame.
bool HoldsValidFrame(const std::string& stream, bool binary, const uint8_t* payload, int32_t length) {
  const std::string start = binary ? kBinaryStart : std::string(1, '\x02');
  const std::string end = binary ? kBinaryEnd : std::string(1, '\x03');
  const std::string body(reinterpret_cast<const char*>(payload), static_cast<size_t>(length));
  const std::string framed = start + body + end;
  for (size_t s = stream.find(framed); s != std::string::npos; s = stream.find(framed, s + 1)) {
    const size_t sum = s + framed.size();
    if (sum + 2 > stream.size() || !IsHex(stream[sum]) || !IsHex(stream[sum + 1])) continue;
    if (HexValue(stream[sum]) * 16 + HexValue(stream[sum + 1]) == XorOf(stream, s, sum)) return true;
  }
  return false;
}

class THarness {
 public:
  THarness(uint8_t geometry, uint8_t info) {
    config_.DoorsCount = geometry & 0x3F;
    config_.DoorsByte = 1 + (geometry >> 6);
    config_.InfoBytes = info & 0x1F;
    protocol_ = std::make_unique<TLidarProtocol>(nullptr, config_);
    capacity_ = protocol_->GetFrameCapacity();
    FUZZ_CHECK(capacity_ == 12 + config_.DoorsCount * config_.DoorsByte + config_.InfoBytes);
    SetMaxAnswer(info >> 5);
  }

  void SetMaxAnswer(unsigned choice) {
    const int32_t v = kMaxAnswers[choice % std::size(kMaxAnswers)];
    maxAnswer_ = v < 0 ? capacity_ - 10 : v;
  }

  void Query(const std::string& command, bool tooSmall) {
    uint8_t frame[64];
    const int32_t n = static_cast<int32_t>(command.size());
    const int32_t size = tooSmall ? n + 3 : static_cast<int32_t>(sizeof frame);
    const int32_t r = protocol_->MakeFrame(command, frame, size);
    stream_.clear();
    FUZZ_CHECK(protocol_->GetFrameCount() == 0);
    if (tooSmall) {
      FUZZ_CHECK(r == -1);
      return;
    }
    FUZZ_CHECK(r == n + 4);
    const std::string f(reinterpret_cast<const char*>(frame), static_cast<size_t>(r));
    FUZZ_CHECK(f == Frame(command, false, false));
    binary_ = !command.empty() && (command[0] == 'A' || command[0] == 'a' || command[0] == 'B' || command[0] == 'Q');
    FUZZ_CHECK(protocol_->BinaryAnswer == binary_);
  }

  // With the alternate-query option the data queries run Q, A, Q, A, ...
  void AlternateQuery(bool secondForm) {
    alternate_ = !alternate_;
    Query(alternate_ ? "Q" : (secondForm ? "a" : "A"), false);
  }

  // Returns the parser's result for one block.
  int32_t Feed(const std::string& block, bool shared) {
    const size_t room = static_cast<size_t>(std::max(maxAnswer_, 0)) + 16;
    std::vector<uint8_t> buffer(std::max(room, block.size() + 16), 0xA5);
    std::vector<uint8_t> answer(room, 0xA5);
    std::memcpy(buffer.data(), block.data(), block.size());
    uint8_t* out = shared ? buffer.data() : answer.data();
    const int32_t r =
        protocol_->ParseAnswer(buffer.data(), static_cast<int32_t>(block.size()), maxAnswer_, out);
    stream_ += block;
    FUZZ_CHECK(protocol_->GetFrameCount() >= 0 && protocol_->GetFrameCount() <= capacity_);
    if (block.empty()) FUZZ_CHECK(r == -1);
    FUZZ_CHECK(r >= -1);
    if (r < 0) {
      if (!shared)
        for (uint8_t b : answer) FUZZ_CHECK(b == 0xA5);
      return r;
    }
    FUZZ_CHECK(r <= maxAnswer_);
    FUZZ_CHECK(r + (binary_ ? 10 : 4) <= capacity_);
    FUZZ_CHECK(HoldsValidFrame(stream_, binary_, out, r));
    FUZZ_CHECK(protocol_->Status.Text == "Ready");
    if (!shared)
      for (size_t i = static_cast<size_t>(r); i < answer.size(); ++i) FUZZ_CHECK(answer[i] == 0xA5);
    // The rest of the block is dropped with the answer.
    stream_.clear();
    last_.assign(reinterpret_cast<const char*>(out), static_cast<size_t>(r));
    return r;
  }

  void FeedInPieces(const std::string& block, size_t piece) {
    for (size_t at = 0; at < block.size(); at += piece) Feed(block.substr(at, piece), false);
  }

  // A well-formed answer. On a clean line (nothing held for this query), a
  // payload that fits and holds no end marker of its own must come out
  // whole, and only once its last checksum digit is in.
  void FeedAnswer(const std::string& payload, bool lower, size_t split) {
    const std::string f = Frame(payload, binary_, lower);
    const size_t m = binary_ ? 4 : 1;
    const bool clean = stream_.empty() && protocol_->GetFrameCount() == 0 &&
                       static_cast<int32_t>(f.size()) <= capacity_ &&
                       static_cast<int32_t>(payload.size()) <= maxAnswer_ &&
                       f.find(binary_ ? kBinaryEnd : "\x03", m) == m + payload.size();
    split %= f.size() + 1;
    const int32_t first = split > 0 ? Feed(f.substr(0, split), false) : -1;
    const int32_t second = split < f.size() ? Feed(f.substr(split), false) : first;
    if (!clean) return;
    FUZZ_CHECK(split == f.size() || first == -1);
    FUZZ_CHECK(second == static_cast<int32_t>(payload.size()));
    FUZZ_CHECK(last_ == payload);
  }

 private:
  TChannelConfig config_;
  std::unique_ptr<TLidarProtocol> protocol_;
  int32_t capacity_ = 0;
  int32_t maxAnswer_ = 0;
  bool binary_ = false;
  bool alternate_ = false;
  std::string stream_;  // bytes received since the query or the last answer
  std::string last_;
};

int Run(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const uint8_t geometry = in.Byte();
  THarness h(geometry, in.Byte());
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    const unsigned arg = op >> 3;
    switch (op & 7) {
      case 0:
        h.Query(kCommands[arg % std::size(kCommands)], arg >= 24);
        break;
      case 1:
        h.AlternateQuery(arg & 1);
        break;
      case 2:
      case 3:
        h.Feed(in.Take(in.Byte() + 1u), (op & 7) == 3);
        break;
      case 4:
        h.FeedInPieces(in.Take(in.Byte() + 1u), arg + 1);
        break;
      case 5: {
        const std::string payload = in.Take(in.Byte());
        h.FeedAnswer(payload, arg & 1, in.Byte());
        break;
      }
      case 6:
        h.SetMaxAnswer(arg);
        break;
      default:
        h.Feed(std::string(), false);
        break;
    }
  }
  return 0;
}

// Encodes a block as the "feed" operation, cut to what one operation takes.
void AddBlock(std::string& program, const std::string& bytes, bool shared = false) {
  for (size_t at = 0; at < bytes.size(); at += 256) {
    const std::string part = bytes.substr(at, 256);
    program += static_cast<char>(shared ? 3 : 2);
    program += static_cast<char>(part.size() - 1);
    program += part;
  }
}

char QueryOp(const char* command) {
  for (size_t i = 0; i < std::size(kCommands); ++i)
    if (std::string(kCommands[i]) == command) return static_cast<char>(i << 3);
  return 0;
}

// Answers of the simulated board: its version text and shots of a channel of
// 32 gates of 2 bytes with 8 information bytes, the geometry of the seeds.
TSeeds Seeds() {
  TChannelConfig channel;
  channel.DoorsCount = 32;
  channel.DoorsUsed = 32;
  channel.DoorsByte = 2;
  channel.InfoBytes = 8;
  channel.LaserPulse = 100;
  auto shots = std::make_unique<TInfoDescription>();
  shots->Parse("NAME:Shots,O:0,B:32,S:0,CODE:SHOOT,FMT:0");
  channel.InfoDescriptions.push_back(std::move(shots));
  TSimOptions options;
  options.Now = [] { return 46000.5; };
  TSimLidarDevice device(channel, std::make_shared<TSimLaser>(true, 0),
                         std::make_shared<TSimAtmosphere>(48.7, 2.2, 1), options, "LS261001", 7);
  std::string shot;
  device.MakeShot(100, 46000.5, shot);
  const std::string version = device.Frame(device.Version(), false);
  const std::string data = device.Frame(shot, true);
  const char geometry = static_cast<char>(32 | (1 << 6));
  const char info = static_cast<char>(8 | (7 << 5));  // largest answer: the capacity's

  TSeeds seeds;
  std::string p = {geometry, info, QueryOp("C")};
  AddBlock(p, version);
  p += QueryOp("A");
  AddBlock(p, std::string(5, '\x7F') + data);
  seeds.emplace_back("version-and-shot", p);

  // The alternating queries, answers cut in two reads and shared buffers.
  p = {geometry, info, 1};
  AddBlock(p, data.substr(0, 3));
  AddBlock(p, data.substr(3), true);
  p += '\x09';
  AddBlock(p, data);
  p += '\x01';
  p += '\x04';
  p += static_cast<char>(data.size() - 1);
  p += data;
  seeds.emplace_back("alternate-queries", p);

  // Noise, an answer the board damaged, then a good one; text answers
  // in lower-case digits; an answer too long for the buffer.
  TSimDevice::TAnswer damaged{data, 0, true};
  device.Corrupt(damaged);
  p = {geometry, info, QueryOp("Q")};
  AddBlock(p, "\x02\xFF\xFF" + damaged.Bytes + std::string("\xFF\x02\xFF\xFF", 4));
  AddBlock(p, data);
  p += QueryOp("V");
  p += static_cast<char>(5 | (1 << 3));
  p += '\x06';
  p += "2.0.17";
  p += '\x03';
  p += '\x1E';  // largest answer 16 bytes
  p += QueryOp("B");
  AddBlock(p, data + data);
  seeds.emplace_back("noise-and-damage", p);
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::LidarProtocol

SKYVANE_FUZZ_TARGET(LidarProtocol, Seeds())
