// libFuzzer target: the line reassembly of the monitoring channels. The
// input is a little program of queries, received blocks of any size and
// largest-answer changes. An answer handed out must be a whole line: what
// was received since the query or the last answer holds it with its line
// end, it starts a line (the tail of an over-long line never passes for a
// measure), and only bytes that overflowed the reassembly buffer in the
// same block may follow it. It is never longer than the caller allows or
// than the reassembly buffer holds, and nothing is written past it. A short
// line followed in its block by noise that overflows the buffer is still
// handed out, and the next line after it too.
// fuzz-sources: kernel/comm/MonitorProtocol.cpp kernel/comm/Protocol.cpp kernel/Status.cpp Simulator/SimMonitorDevice.cpp Simulator/SimDevice.cpp Simulator/SimMeasureModel.cpp Simulator/SimRandom.cpp
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Config/ChannelConfig.h"
#include "Simulator/SimMonitorDevice.h"
#include "kernel/comm/MonitorProtocol.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::MonitorProtocol {

const std::string kLineEnd = "\n\r";
// The measure commands, the ping and odd ones.
const char* const kCommands[] = {"Z", "X", "C", "V", "B", "N", "M", ",", "b", "f", "k", "o", "s", "(", "'`;", ""};
const int32_t kMaxAnswers[] = {0, 1, 2, 5, 10, 11, 1024, 16464};

class THarness {
 public:
  explicit THarness(uint8_t choice) : protocol_(nullptr) { SetMaxAnswer(choice); }

  void SetMaxAnswer(unsigned choice) { maxAnswer_ = kMaxAnswers[choice % std::size(kMaxAnswers)]; }

  void Query(const std::string& command, bool tooSmall) {
    uint8_t frame[16];
    const int32_t n = static_cast<int32_t>(command.size());
    const int32_t r = protocol_.MakeFrame(command, frame, tooSmall ? n : static_cast<int32_t>(sizeof frame));
    if (tooSmall) {
      FUZZ_CHECK(r == -1);
      return;
    }
    FUZZ_CHECK(r == n && std::memcmp(frame, command.data(), command.size()) == 0);
    FUZZ_CHECK(protocol_.GetFrameCount() == 0);
    stream_.clear();
  }

  void Feed(const std::string& block, bool shared) {
    const size_t room = static_cast<size_t>(maxAnswer_) + 16;
    std::vector<uint8_t> buffer(std::max(room, block.size() + 16), 0xA5);
    std::vector<uint8_t> answer(room, 0xA5);
    std::memcpy(buffer.data(), block.data(), block.size());
    uint8_t* out = shared ? buffer.data() : answer.data();
    protocol_.Status.Text.clear();  // what this call reports
    const int32_t r = protocol_.ParseAnswer(buffer.data(), static_cast<int32_t>(block.size()), maxAnswer_, out);
    FUZZ_CHECK(protocol_.GetFrameCount() >= 0 && protocol_.GetFrameCount() <= TMonitorProtocol::Capacity);
    FUZZ_CHECK(r >= -1 && r <= maxAnswer_);
    if (block == "Q") {
      // The ping answer comes in a block of its own.
      FUZZ_CHECK(r == (maxAnswer_ >= 1 ? 1 : -1));
      if (r == 1) FUZZ_CHECK(out[0] == 'Q');
      stream_.clear();
      return;
    }
    stream_ += block;
    // A whole line longer than the caller allows was taken and refused: the
    // next line starts afresh.
    if (r < 0 && protocol_.Status.Text.rfind("Protocol error - Packet too big", 0) == 0) stream_.clear();
    if (r < 0) {
      if (!shared)
        for (uint8_t b : answer) FUZZ_CHECK(b == 0xA5);
      return;
    }
    const std::string line(reinterpret_cast<const char*>(out), static_cast<size_t>(r));
    FUZZ_CHECK(r <= TMonitorProtocol::Capacity - 2);
    FUZZ_CHECK(stream_.size() >= line.size() + 2);
    // The line ends what was received, or is followed by noise that
    // overflowed the buffer.
    bool found = false;
    for (size_t start = 0; !found && start + line.size() + 2 <= stream_.size(); ++start)
      found = stream_.compare(start, line.size() + 2, line + kLineEnd) == 0 &&
              (start == 0 || (start >= 2 && stream_.compare(start - 2, 2, kLineEnd) == 0)) &&
              (start + line.size() + 2 == stream_.size() ||
               stream_.size() - start > static_cast<size_t>(TMonitorProtocol::Capacity));
    FUZZ_CHECK(found);
    FUZZ_CHECK(protocol_.Status.Text == "Ready");
    if (!shared)
      for (size_t i = static_cast<size_t>(r); i < answer.size(); ++i) FUZZ_CHECK(answer[i] == 0xA5);
    stream_.clear();
  }

  // On a clean line, a short line followed in its block by noise that
  // overflows the buffer comes out as it was sent; the noise goes.
  void FeedLineThenNoise(const std::string& text, const std::string& noise) {
    const std::string block = text + kLineEnd + noise;
    const bool clean = stream_.empty() && protocol_.GetFrameCount() == 0 &&
                       text.size() + 2 <= static_cast<size_t>(TMonitorProtocol::Capacity) &&
                       static_cast<int32_t>(text.size()) <= maxAnswer_ && text.find('\n') == std::string::npos &&
                       noise.find('\n') == std::string::npos &&
                       block.size() > static_cast<size_t>(TMonitorProtocol::Capacity);
    if (!clean) return Feed(block, false);
    std::vector<uint8_t> answer(static_cast<size_t>(maxAnswer_) + 16, 0xA5);
    const int32_t r = protocol_.ParseAnswer(reinterpret_cast<const uint8_t*>(block.data()),
                                            static_cast<int32_t>(block.size()), maxAnswer_, answer.data());
    FUZZ_CHECK(r == static_cast<int32_t>(text.size()));
    FUZZ_CHECK(std::memcmp(answer.data(), text.data(), text.size()) == 0);
    FUZZ_CHECK(protocol_.GetFrameCount() == 0);
    stream_.clear();
  }

  // A short line on a clean line comes out as it was sent.
  void FeedLine(const std::string& text, size_t split) {
    const bool clean = stream_.empty() && protocol_.GetFrameCount() == 0 &&
                       text.size() + 2 <= static_cast<size_t>(TMonitorProtocol::Capacity) &&
                       static_cast<int32_t>(text.size()) <= maxAnswer_ && text.find(kLineEnd) == std::string::npos &&
                       text != "Q" && (text.empty() || text.back() != '\n');
    const std::string line = text + kLineEnd;
    split %= line.size() + 1;
    if (split == 1 && line[0] == 'Q') split = 0;  // that would be a ping answer
    std::vector<uint8_t> answer(static_cast<size_t>(maxAnswer_) + 16, 0xA5);
    if (!clean) {
      if (split > 0) Feed(line.substr(0, split), false);
      if (split < line.size()) Feed(line.substr(split), false);
      return;
    }
    int32_t r = -1;
    if (split > 0) {
      r = protocol_.ParseAnswer(reinterpret_cast<const uint8_t*>(line.data()), static_cast<int32_t>(split),
                                maxAnswer_, answer.data());
      FUZZ_CHECK(r == (split == line.size() ? static_cast<int32_t>(text.size()) : -1));
    }
    if (split < line.size()) {
      r = protocol_.ParseAnswer(reinterpret_cast<const uint8_t*>(line.data()) + split,
                                static_cast<int32_t>(line.size() - split), maxAnswer_, answer.data());
      FUZZ_CHECK(r == static_cast<int32_t>(text.size()));
    }
    FUZZ_CHECK(std::memcmp(answer.data(), text.data(), text.size()) == 0);
    stream_.clear();
  }

 private:
  TMonitorProtocol protocol_;
  int32_t maxAnswer_ = 0;
  std::string stream_;  // bytes received since the query or the last answer
};

int Run(const uint8_t* data, size_t size) {
  TInput in(data, size);
  THarness h(in.Byte());
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    const unsigned arg = op >> 3;
    switch (op & 7) {
      case 0:
        h.Query(kCommands[arg % std::size(kCommands)], arg >= 24);
        break;
      case 1:
      case 2:
        h.Feed(in.Take(in.Byte() % 64 + 1u), (op & 7) == 2);
        break;
      case 3:  // one byte at a time
        for (char c : in.Take(arg + 1)) h.Feed(std::string(1, c), false);
        break;
      case 4: {
        const std::string text = in.Take(arg % 16);
        h.FeedLine(text, in.Byte());
        break;
      }
      case 5:
        h.SetMaxAnswer(arg);
        break;
      case 6:
        h.Feed("Q", arg & 1);
        break;
      default:
        if (arg == 0) {
          h.Feed(std::string(), false);
        } else {
          const std::string text = in.Take(in.Byte() % 11);
          h.FeedLineThenNoise(text, in.Take(arg));
        }
        break;
    }
  }
  return 0;
}

// Answers of the simulated monitoring board: the ping, measures, the
// "no measure" text and an answer it damaged.
TSeeds Seeds() {
  TChannelConfig channel;
  channel.Protocol = "LIDAR_MONITOR";
  const char* const measures[] = {"NAME:Laser head temp.,U:degC,MIN:5,MAX:45,FMT:0.0",
                                  "NAME:Box temp.,U:degC,MIN:-20,MAX:50,FMT:0.0",
                                  "NAME:PMT high voltage,U:V,MIN:500,MAX:1100,FMT:0"};
  for (int i = 0; i < 3; ++i) {
    auto d = std::make_unique<TInfoDescription>();
    d->Index = i;
    d->Parse(measures[i]);
    channel.InfoDescriptions.push_back(std::move(d));
  }
  TSimOptions options;
  options.RateLimit = false;
  options.Now = [] { return 46000.5; };
  TSimMonitorDevice device(channel, options, "VL1002B", 3);
  std::vector<TSimDevice::TAnswer> answers;
  const uint8_t ask[] = {'\'', '`', ';', 'Z', 'X', 'C', 'B'};
  device.Receive(ask, sizeof ask, 0, answers);

  auto feed = [](std::string& p, const std::string& bytes) {
    p += '\x01';
    p += static_cast<char>(bytes.size() - 1);
    p += bytes;
  };
  TSeeds seeds;
  std::string p(1, '\x06');  // largest answer 1024, as the channel passes
  p += '\x00';
  for (const auto& a : answers) {
    p += static_cast<char>(8);  // the next measure query
    feed(p, a.Bytes);
  }
  seeds.emplace_back("measures", p);

  p = std::string(1, '\x06');
  TSimDevice::TAnswer damaged = answers.back();
  device.Corrupt(damaged);
  feed(p, damaged.Bytes);
  feed(p, "+023,4V\n");
  p += '\x33';  // one byte at a time: "\r12.5\n\r"
  p += "\r12.5\n\r";
  feed(p, "0123456789ABCDEF\n\r-1.25\n\r");
  p += '\x06';
  seeds.emplace_back("damaged-and-overlong", p);
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::MonitorProtocol

SKYVANE_FUZZ_TARGET(MonitorProtocol, Seeds())
