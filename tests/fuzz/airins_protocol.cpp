// libFuzzer target: the INS frame decoder. The input is a little program
// that sends raw bytes, whole frames (valid, with a wrong checksum, with a
// non-zero status word, cut short) and noise, delivered in blocks of any
// size. Each call's result is compared with a plain scan of everything
// received, which does not depend on how the stream was cut into blocks:
// look for the start byte, take 42 bytes, keep the frame when its CRC holds,
// otherwise go on one byte after that start. A record is only handed out
// for a frame whose CRC holds and whose status word is 0.
// fuzz-sources: kernel/comm/AirinsProtocol.cpp kernel/Status.cpp Simulator/SimInsServer.cpp
#include <cstring>
#include <string>
#include <vector>

#include "Simulator/SimInsServer.h"
#include "kernel/comm/AirinsProtocol.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::AirinsProtocol {

constexpr size_t kFrame = TAirinsProtocol::FrameSize;
constexpr size_t kRecord = TAirinsProtocol::RecordSize;
constexpr char kStart = static_cast<char>(TAirinsProtocol::StartByte);

uint16_t CrcOf(const std::string& frame) {
  return TSimInsServer::Checksum(reinterpret_cast<const uint8_t*>(frame.data()) + 1, 39);
}

std::string MakeFrame(std::string record, uint16_t status, bool badCrc) {
  record.resize(kRecord, '\0');
  std::string f(kFrame, '\0');
  f[0] = kStart;
  f.replace(1, 17, record, 0, 17);
  f.replace(20, 18, record, 17, 18);
  f[38] = static_cast<char>(status);
  f[39] = static_cast<char>(status >> 8);
  uint16_t crc = CrcOf(f);
  if (badCrc) crc ^= 0x0100;
  f[40] = static_cast<char>(crc);
  f[41] = static_cast<char>(crc >> 8);
  return f;
}

// The frames of a stream, found the way the decoder must find them whatever
// the block boundaries.
class TReference {
 public:
  struct TFound {
    size_t End;
    bool Valid;
    std::string Record;
  };

  void Restart() {
    stream_.clear();
    pos_ = 0;
  }
  size_t Size() const { return stream_.size(); }

  // Appends bytes; returns the frames completed by them.
  std::vector<TFound> Append(const std::string& bytes) {
    stream_ += bytes;
    std::vector<TFound> found;
    for (;;) {
      const size_t start = stream_.find(kStart, pos_);
      if (start == std::string::npos) {
        pos_ = stream_.size();
        break;
      }
      pos_ = start;
      if (stream_.size() - start < kFrame) break;
      const std::string f = stream_.substr(start, kFrame);
      const uint16_t received = static_cast<uint16_t>(static_cast<uint8_t>(f[40]) | static_cast<uint8_t>(f[41]) << 8);
      if (received != CrcOf(f)) {
        pos_ = start + 1;
        continue;
      }
      pos_ = start + kFrame;
      found.push_back({pos_, f[38] == 0 && f[39] == 0, f.substr(1, 17) + f.substr(20, 18)});
    }
    return found;
  }

 private:
  std::string stream_;
  size_t pos_ = 0;
};

class THarness {
 public:
  THarness() {
    protocol_.OnTrace = [](const std::string&, char, const uint8_t* data, int length, TDateTime) {
      FUZZ_CHECK(length >= 0 && (length == 0 || data != nullptr));
    };
  }

  void Feed(const std::string& block) {
    std::vector<uint8_t> answer(kRecord + 16, 0xA5);
    const int r = protocol_.ParseAnswer(reinterpret_cast<const uint8_t*>(block.data()),
                                        static_cast<int>(block.size()), static_cast<int>(kRecord), answer.data());
    const std::vector<TReference::TFound> found = reference_.Append(block);
    FUZZ_CHECK(protocol_.FrameCount() >= 0 && protocol_.FrameCount() <= static_cast<int>(kFrame));
    for (size_t i = kRecord; i < answer.size(); ++i) FUZZ_CHECK(answer[i] == 0xA5);
    // The last frame of the call decides.
    const bool expectRecord = !found.empty() && found.back().Valid;
    FUZZ_CHECK(r == (expectRecord ? static_cast<int>(kRecord) : -1));
    if (!expectRecord) return;
    FUZZ_CHECK(std::memcmp(answer.data(), found.back().Record.data(), kRecord) == 0);
    FUZZ_CHECK(protocol_.Status.Text == "Ready" && protocol_.Status.Error() == 0);
  }

  void FeedInPieces(const std::string& bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece) Feed(bytes.substr(at, piece));
  }

  // A buffer too short for a record is refused and nothing is written.
  void FeedShortAnswer(const std::string& block, int maxAnswer) {
    std::vector<uint8_t> answer(kRecord + 16, 0xA5);
    const int r = protocol_.ParseAnswer(reinterpret_cast<const uint8_t*>(block.data()),
                                        static_cast<int>(block.size()), maxAnswer, answer.data());
    FUZZ_CHECK(r == -1);
    for (uint8_t b : answer) FUZZ_CHECK(b == 0xA5);
    FUZZ_CHECK(protocol_.FrameCount() == 0);
    reference_.Restart();
  }

  void Reset() {
    protocol_.Reset();
    FUZZ_CHECK(protocol_.FrameCount() == 0);
    reference_.Restart();
  }

 private:
  TAirinsProtocol protocol_;
  TReference reference_;
};

int Run(const uint8_t* data, size_t size) {
  TInput in(data, size);
  THarness h;
  std::string pending;
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    const unsigned arg = op >> 3;
    switch (op & 7) {
      case 0:
        pending += in.Take(in.Byte() + 1u);
        break;
      case 1:
        pending += MakeFrame(in.Take(kRecord), (arg & 1) ? in.Word() : 0, false);
        break;
      case 2:
        pending += MakeFrame(in.Take(kRecord), 0, true);
        break;
      case 3:
        pending += MakeFrame(in.Take(kRecord), 0, arg & 1).substr(0, arg % kFrame);
        break;
      case 4: {
        std::string noise = in.Take(arg + 1);
        for (char& c : noise)
          if (c == kStart) c = 0x70;
        pending += noise;
        break;
      }
      case 5:
        h.FeedInPieces(pending, arg == 31 ? pending.size() + 1 : arg + 1);
        pending.clear();
        break;
      case 6:
        h.Reset();
        break;
      default:
        h.FeedShortAnswer(in.Take(in.Byte()), static_cast<int>(arg % kRecord) - 1);
        break;
    }
  }
  h.FeedInPieces(pending, 64);
  return 0;
}

// Frames of the simulated INS: a clean stream, one joined in the middle of
// a frame, a damaged checksum and a unit that is not aligned.
TSeeds Seeds() {
  TSimInsServer::TSettings settings;
  std::string stream;
  for (int i = 0; i < 4; ++i) {
    const auto f = TSimInsServer::MakeFrame(settings, 46000.5 + i / 86400.0, i * 0.05, i == 2 ? 3 : 0, i == 1);
    stream.append(reinterpret_cast<const char*>(f.data()), f.size());
  }
  auto raw = [](const std::string& bytes, char chunkOp) {
    std::string p;
    for (size_t at = 0; at < bytes.size(); at += 256) {
      const std::string part = bytes.substr(at, 256);
      p += '\x00';
      p += static_cast<char>(part.size() - 1);
      p += part;
    }
    return p + chunkOp;
  };
  TSeeds seeds;
  seeds.emplace_back("sim-stream", raw(stream, static_cast<char>(5 | 31 << 3)));
  seeds.emplace_back("sim-joined-late", raw(stream.substr(17), static_cast<char>(5 | 6 << 3)));
  // Built frames: noise, a valid frame, a cut one, a bad one, then one
  // valid frame per read.
  std::string p;
  p += static_cast<char>(4 | 9 << 3);
  p += std::string(10, 'x');
  p += '\x01';
  p += stream.substr(1, 35);
  p += static_cast<char>(3 | 20 << 3);
  p += stream.substr(1, 35);
  p += '\x02';
  p += std::string(35, 'q');
  p += '\x01';
  p += std::string(35, '\0');
  p += static_cast<char>(5 | 31 << 3);
  p += '\x06';
  p += static_cast<char>(7 | 10 << 3);
  p += '\x03';
  p += "q\x01\x02";
  seeds.emplace_back("built-frames", p);
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::AirinsProtocol

SKYVANE_FUZZ_TARGET(AirinsProtocol, Seeds())
