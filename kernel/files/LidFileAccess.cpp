#include "kernel/files/LidFileAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "Common/StringUtils.h"
#include "Config/ApplicationConfig.h"
#include "Platform/Services.h"
#include "kernel/ErrorLogger.h"

namespace OrlaqLidar {

namespace {

using TTag = TLidFileAccess::TTag;

constexpr char kMagic[] = "SKV2";
constexpr char kHeaderTag[] = "HEA2";
constexpr char kShotTag[] = "SHT2";
constexpr char kCalibrationTag[] = "CAL2";
constexpr char kMonitorTag[] = "MON1";
constexpr char kOptionTag[] = "OPT1";
constexpr char kEndTag[] = "EOF1";
constexpr char kEventTag[] = "EVT1";
constexpr char kDefinitionTag[] = "DEF1";

constexpr size_t kChannelEntrySize = 21;
constexpr size_t kSerialSize = 8;
constexpr size_t kCreationSize = 14;
// Smallest header with empty texts and no channels, an empty DEF1 and a
// CAL2 without items: an end mark can only sit at or beyond it.
constexpr uint64_t kSmallestStart = 34 + 16 + 20;

bool Is(const TTag& tag, const char* text) { return std::memcmp(tag.data(), text, 4) == 0; }

bool IsDataTag(const TTag& tag) {
  return Is(tag, kShotTag) || Is(tag, kMonitorTag) || Is(tag, kOptionTag) || Is(tag, kEventTag);
}

bool IsKnownTag(const TTag& tag) {
  return IsDataTag(tag) || Is(tag, kCalibrationTag) || Is(tag, kEndTag) || Is(tag, kDefinitionTag);
}

// Lengths no writer of this format produces; a block claiming one is damage.
bool PlausibleLength(const TTag& tag, uint32_t length) {
  if (length < TLidFileAccess::HeaderBlockSize) return false;
  if (IsDataTag(tag))
    return length >= TLidFileAccess::DataBlockOverhead &&
           length - TLidFileAccess::DataBlockOverhead <= TLidFileAccess::MaxPayloadSize;
  if (Is(tag, kDefinitionTag)) return length <= TLidFileAccess::MaxDefinitionLength;
  if (Is(tag, kCalibrationTag))
    return length >= TLidFileAccess::HeaderBlockSize + 4 &&
           length - TLidFileAccess::HeaderBlockSize <= TLidFileAccess::MaxPayloadSize;
  return true;
}

// A block of that length starting there ends at or before limit.
bool Fits(uint64_t start, uint64_t length, uint64_t limit) { return start <= limit && length <= limit - start; }

void PutBlockHead(std::vector<uint8_t>& out, const char* tag, uint32_t length, TDateTime time) {
  // Byte by byte: a range insert into an empty vector trips GCC 12's
  // -Wstringop-overflow at -O2.
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
  TLidFileStream::PutU32(out, length);
  TLidFileStream::PutDouble(out, time);
}

std::string FormatCreationTime(TDateTime t) {
  const TDateTimeParts p = DecodeDateTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", p.Year % 10000, p.Month, p.Day, p.Hour, p.Minute,
                p.Second);
  return std::string(buf, kCreationSize);
}

// 0 when the text is not a valid "yyyymmddhhnnss" time.
TDateTime ParseCreationTime(const char* text) {
  int v[6] = {};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  int at = 0;
  for (int i = 0; i < 6; ++i) {
    for (int k = 0; k < widths[i]; ++k, ++at) {
      if (text[at] < '0' || text[at] > '9') return 0;
      v[i] = v[i] * 10 + (text[at] - '0');
    }
  }
  if (v[0] < 1 || v[1] < 1 || v[1] > 12 || v[3] > 23 || v[4] > 59 || v[5] > 59) return 0;
  static const int monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (v[0] % 4 == 0 && v[0] % 100 != 0) || v[0] % 400 == 0;
  const int days = monthDays[v[1] - 1] + (v[1] == 2 && leap ? 1 : 0);
  if (v[2] < 1 || v[2] > days) return 0;
  return EncodeDateTime(v[0], v[1], v[2], v[3], v[4], v[5]);
}

bool IsLetterOrDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Padded(std::string s, size_t width, char fill) {
  s.resize(width, fill);
  return s;
}

void PutChannelEntry(std::vector<uint8_t>& out, const TLidFileAccess::THeaderChannel& e) {
  out.push_back(static_cast<uint8_t>(e.Channel));
  const std::string name = Padded(e.FirmwareName, 10, '\0');
  out.insert(out.end(), name.begin(), name.end());
  TLidFileStream::PutI32(out, e.FirmwareNumber);
  const std::string suffix = Padded(e.FirmwareSuffix, 6, '\0');
  out.insert(out.end(), suffix.begin(), suffix.end());
}

int NumberOf(const std::string& text) { return TryParseInt(text).value_or(0); }

}  // namespace

TLidFileAccess::TLidFileAccess(std::filesystem::path fileName, const TApplicationConfig& settings,
                               size_t readBufferSize)
    : fileName_(std::move(fileName)),
      stream_(readBufferSize),
      creationTime_(Services().Clock->NowUTC()),
      settings_(settings) {}

TLidFileAccess::~TLidFileAccess() { Close(); }

std::string TLidFileAccess::ErrorText(int code) {
  const long long c = code < 0 ? -static_cast<long long>(code) : code;
  switch (c) {
    case NoError: return "No Error";
    case Corrupted: return "Lidar file is corrupted";
    case NotSkv2File: return "It is not a skv2 file";
    case CannotAccess: return "Can't access file";
    case UnknownSection: return "Unknown section in skv2 file";
    case UnexpectedSection: return "Unexpected section in skv2 file";
    case SerialMismatch: return "Serial Number in lidar file doesn't match current instrument";
    case ModelMismatch: return "Instrument model in lidar file doesn't match current instrument";
    case ReadOnlyMode: return "Lidar file is openend in Read Only mode";
    case ReadWriteError: return "Error during read/write operation on lidar file";
    default: return "Unknow error " + std::to_string(c);
  }
}

TLidFileAccess::THeaderChannel TLidFileAccess::LidarChannelEntry(const TChannelVersion& channel) {
  THeaderChannel e;
  e.Channel = channel.RecordID & 0xFF;
  const std::string text = Trim(channel.Version);
  const size_t blank = text.find(' ');
  std::string rest;
  if (blank != std::string::npos && blank >= 1) {
    e.FirmwareName = Padded(text.substr(0, blank), 10, ' ');
    rest = text.substr(blank + 1);
  } else {
    e.FirmwareName = Padded("NONAME", 10, ' ');
  }
  e.FirmwareNumber = NumberOf(rest.substr(0, 3));
  e.FirmwareSuffix = Padded(rest.size() > 3 ? rest.substr(3, 6) : std::string(), 6, '0');
  return e;
}

TLidFileAccess::THeaderChannel TLidFileAccess::MonitorChannelEntry(const TChannelVersion& channel) {
  THeaderChannel e;
  e.Monitor = true;
  e.Channel = channel.RecordID & 0xFF;
  const std::string& text = channel.Version;
  std::string name = text.substr(0, 10);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  e.FirmwareName = Padded(name, 10, '\0');
  e.FirmwareNumber = text.size() > 10 ? NumberOf(text.substr(10, 3)) : 0;
  e.FirmwareSuffix = Padded(text.size() > 13 ? text.substr(13, 6) : std::string(), 6, '0');
  return e;
}

std::string TLidFileAccess::NormaliseModelCode(const std::string& code) {
  std::string out;
  for (char c : UpperCase(Trim(code)))
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) out += c;
  return out;
}

std::vector<std::string> TLidFileAccess::Faults() const {
  std::vector<std::string> faults;
  if (!creationText_.empty() && ParseCreationTime(creationText_.c_str()) == 0)
    faults.push_back("creation time is not a valid date and time");
  if (!std::all_of(storedModelCode_.begin(), storedModelCode_.end(), IsLetterOrDigit))
    faults.push_back("model code holds bytes that are not letters or digits");
  if (endMarkLength_ && *endMarkLength_ != HeaderBlockSize)
    faults.push_back("end mark length is " + std::to_string(*endMarkLength_) + ", not " +
                     std::to_string(HeaderBlockSize));
  return faults;
}

// ---------------------------------------------------------------- writing

int TLidFileAccess::WriteHeader(const TInstrumentInfo& source) {
  if (readOnly_) return -ReadOnlyMode;
  try {
    std::vector<uint8_t> out;
    out.reserve(64);
    out.insert(out.end(), kMagic, kMagic + 4);
    out.insert(out.end(), kHeaderTag, kHeaderTag + 4);
    const std::string created = FormatCreationTime(creationTime_);
    out.insert(out.end(), created.begin(), created.end());
    std::string serial = source.SerialNumber.substr(0, kSerialSize);
    serial = serial.substr(0, serial.find('\0'));
    const std::string serialField = Padded(serial, kSerialSize, '\0');
    out.insert(out.end(), serialField.begin(), serialField.end());
    const std::string& code = settings_.LidarConfig.Code;
    const size_t codeLength = std::min<size_t>(code.size(), 255);
    out.push_back(static_cast<uint8_t>(codeLength));
    out.insert(out.end(), code.begin(), code.begin() + static_cast<std::ptrdiff_t>(codeLength));

    std::vector<THeaderChannel> entries;
    const size_t lidarCount = std::min<size_t>(source.LidarChannels.size(), 255);
    const size_t monitorCount = std::min<size_t>(source.MonitorChannels.size(), 255);
    out.push_back(static_cast<uint8_t>(lidarCount));
    for (size_t i = 0; i < lidarCount; ++i) {
      entries.push_back(LidarChannelEntry(source.LidarChannels[i]));
      PutChannelEntry(out, entries.back());
    }
    out.push_back(static_cast<uint8_t>(monitorCount));
    for (size_t i = 0; i < monitorCount; ++i) {
      entries.push_back(MonitorChannelEntry(source.MonitorChannels[i]));
      PutChannelEntry(out, entries.back());
    }
    out.push_back(source.HasAirins ? 1 : 0);
    if (source.HasAirins) out.push_back(static_cast<uint8_t>(source.AirinsRecordID));

    stream_.Write(out.data(), out.size());
    serialNumber_ = serial;
    modelCode_ = NormaliseModelCode(code);
    lidarCount_ = static_cast<int>(lidarCount);
    monitorCount_ = static_cast<int>(monitorCount);
    optionFlag_ = source.HasAirins ? 1 : 0;
    optionRecordId_ = source.HasAirins ? (source.AirinsRecordID & 0xFF) : 0;
    headerChannels_ = std::move(entries);
    return NoError;
  } catch (const std::exception&) {
    Log("Error writing header in skv2 file!");
    return -ReadWriteError;
  }
}

int TLidFileAccess::WriteDefinition(TDateTime time) {
  if (readOnly_) return -ReadOnlyMode;
  try {
    // Readers refuse a longer block; a cut copy keeps the file readable.
    const std::string& full = settings_.DefinitionText;
    const size_t size = std::min<size_t>(full.size(), MaxDefinitionLength - HeaderBlockSize);
    std::vector<uint8_t> out;
    out.reserve(size + HeaderBlockSize);
    PutBlockHead(out, kDefinitionTag, static_cast<uint32_t>(size + HeaderBlockSize), time);
    out.insert(out.end(), full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
    stream_.Write(out.data(), out.size());
    definitionText_ = full.substr(0, size);
    return NoError;
  } catch (const std::exception&) {
    Log("Error writing def file in skv2 file!");
    return -ReadWriteError;
  }
}

int TLidFileAccess::WriteCalibration() {
  if (readOnly_) return -ReadOnlyMode;
  try {
    // Assembled first: the block length comes before the content.
    std::vector<uint8_t> content(4, 0);
    uint32_t count = 0;
    for (const auto& calibration : settings_.Setup.Calibrations) {
      if (!calibration) continue;
      const uint8_t states[3] = {calibration->AfterPulseState, calibration->OverlapState, calibration->ApdState};
      for (int kind = TCalibration::KindAfterPulse; kind <= TCalibration::KindDetector; ++kind) {
        if (states[kind] < TCalibration::StatePresent) continue;
        const std::vector<uint8_t> data = calibration->BuildEmbeddedBlock(kind);
        content.push_back(static_cast<uint8_t>(calibration->Channel));
        content.push_back(static_cast<uint8_t>(kind));
        TLidFileStream::PutU32(content, static_cast<uint32_t>(data.size()));
        content.insert(content.end(), data.begin(), data.end());
        ++count;
      }
    }
    for (int i = 0; i < 4; ++i) content[static_cast<size_t>(i)] = static_cast<uint8_t>(count >> (8 * i));
    if (content.size() > MaxPayloadSize) throw TLidFileStream::EError("calibration data too large");
    std::vector<uint8_t> head;
    PutBlockHead(head, kCalibrationTag, static_cast<uint32_t>(content.size() + HeaderBlockSize),
                 Services().Clock->NowUTC());
    stream_.Write(head.data(), head.size(), content.data(), content.size());
    return NoError;
  } catch (const std::exception&) {
    Log("Error writing setting in skv2 file!");
    return -ReadWriteError;
  }
}

int TLidFileAccess::WriteEndMark(TDateTime time) {
  std::vector<uint8_t> out;
  PutBlockHead(out, kEndTag, HeaderBlockSize, time);
  stream_.Write(out.data(), out.size());
  return NoError;
}

int TLidFileAccess::WriteBlock(const char* tag, int channel, TDateTime time, const uint8_t* data, size_t size,
                               const char* failureText) {
  if (readOnly_) return -ReadOnlyMode;
  try {
    if (size > MaxPayloadSize) throw TLidFileStream::EError("block too large");
    if (size && !data) throw TLidFileStream::EError("no data");
    // Always at the end of the data: a block written anywhere else would
    // overwrite recorded blocks.
    SeekWritePosition();
    const uint32_t length = static_cast<uint32_t>(size + DataBlockOverhead);
    std::vector<uint8_t> head;
    head.reserve(DataBlockOverhead);
    PutBlockHead(head, tag, length, time);
    head.push_back(static_cast<uint8_t>(channel));
    stream_.Write(head.data(), head.size(), data, size);
    endOfData_ = stream_.Position();
    endMarkAtLimit_ = false;
    return static_cast<int>(length);
  } catch (const std::exception&) {
    Log(failureText);
    streamBad_ = false;
    return -ReadWriteError;
  }
}

int TLidFileAccess::WriteShoot(int channel, TDateTime time, const uint8_t* data, size_t size) {
  return WriteBlock(kShotTag, channel, time, data, size, "Error writing shoot in skv2 file!");
}

int TLidFileAccess::WriteMonitor(int channel, TDateTime time, const uint8_t* data, size_t size) {
  return WriteBlock(kMonitorTag, channel, time, data, size, "Error writing monitor in skv2 file!");
}

int TLidFileAccess::WriteOption(int channel, TDateTime time, const uint8_t* data, size_t size) {
  return WriteBlock(kOptionTag, channel, time, data, size, "Error writing option in skv2 file!");
}

int TLidFileAccess::WriteEvent(int channel, TDateTime time, const std::string& code, const std::string& text) {
  std::string payload = Padded(code.substr(0, 3), 3, ' ') + text;
  return WriteBlock(kEventTag, channel, time, reinterpret_cast<const uint8_t*>(payload.data()), payload.size(),
                    "Error writing event in skv2 file!");
}

void TLidFileAccess::SeekWritePosition() {
  if (endOfData_ != 0) stream_.Seek(endOfData_);
}

bool TLidFileAccess::Flush() {
  if (!IsOpen()) return false;
  if (readOnly_) return true;
  // Blocks are handed to the system as they are written; what is left is
  // to have it put them on the disk, so that a state change survives a
  // power cut.
  try {
    stream_.Sync();
    return true;
  } catch (const std::exception& e) {
    Log(std::string("Error flushing skv2 file! ") + e.what());
    streamBad_ = true;
    return false;
  }
}

std::vector<uint8_t> TLidFileAccess::BlocksFrom(uint64_t position) {
  std::vector<uint8_t> blocks;
  if (!IsOpen() || position >= endOfData_) return blocks;
  try {
    blocks.resize(static_cast<size_t>(endOfData_ - position));
    stream_.Seek(position);
    stream_.Read(blocks.data(), blocks.size());
  } catch (const TLidFileStream::EError& e) {
    Log(std::string("Error reading the skv2 file! ") + e.what());
    blocks.clear();
  }
  SeekWritePosition();
  return blocks;
}

int TLidFileAccess::AppendBlocks(const std::vector<uint8_t>& blocks) {
  if (readOnly_) return -ReadOnlyMode;
  try {
    SeekWritePosition();
    stream_.Write(blocks.data(), blocks.size());
    endOfData_ = stream_.Position();
    endMarkAtLimit_ = false;
    return static_cast<int>(blocks.size());
  } catch (const std::exception&) {
    Log("Error writing blocks in skv2 file!");
    return -ReadWriteError;
  }
}

TLidFileStream::TLink TLidFileAccess::LinkState() const {
  try {
    return stream_.LinkState();
  } catch (const TLidFileStream::EError&) {
    // Not even the open file answers: opening it again is all that helps.
    return TLidFileStream::TLink::Elsewhere;
  }
}

// ---------------------------------------------------------------- reading

TTag TLidFileAccess::ReadTag() {
  TTag tag;
  stream_.Read(tag.data(), tag.size());
  return tag;
}

uint64_t TLidFileAccess::ReadLimit() const { return endOfData_ != 0 ? endOfData_ : stream_.Size(); }

int TLidFileAccess::ReadHeader() {
  try {
    if (!Is(ReadTag(), kMagic)) return -UnexpectedSection;
    if (!Is(ReadTag(), kHeaderTag)) return -UnexpectedSection;
    char created[kCreationSize];
    stream_.Read(created, sizeof created);
    char serial[kSerialSize];
    stream_.Read(serial, sizeof serial);
    const uint8_t codeLength = stream_.ReadU8();
    std::string code(codeLength, '\0');
    stream_.Read(code.data(), code.size());
    std::vector<THeaderChannel> entries;
    int counts[2] = {};
    for (int group = 0; group < 2; ++group) {
      counts[group] = stream_.ReadU8();
      for (int i = 0; i < counts[group]; ++i) {
        const uint8_t* p = stream_.ReadInPlace(kChannelEntrySize);
        THeaderChannel e;
        e.Monitor = group == 1;
        e.Channel = p[0];
        e.FirmwareName.assign(reinterpret_cast<const char*>(p + 1), 10);
        e.FirmwareNumber = static_cast<int32_t>(TLidFileStream::GetU32(p + 11));
        e.FirmwareSuffix.assign(reinterpret_cast<const char*>(p + 15), 6);
        entries.push_back(std::move(e));
      }
    }
    const uint8_t optionFlag = stream_.ReadU8();
    int optionId = 0;
    for (int i = 0; i < optionFlag; ++i) {
      const uint8_t b = stream_.ReadU8();
      if (i == 0) optionId = b;
    }

    creationTime_ = ParseCreationTime(created);
    creationText_.assign(created, sizeof created);
    serialNumber_.assign(serial, strnlen(serial, sizeof serial));
    modelCode_ = NormaliseModelCode(code);
    storedModelCode_ = code;
    lidarCount_ = counts[0];
    monitorCount_ = counts[1];
    optionFlag_ = optionFlag;
    optionRecordId_ = optionId;
    headerChannels_ = std::move(entries);
    return NoError;
  } catch (const TLidFileStream::EError&) {
    Log("Error reading the header of skv2 file!");
    return -Corrupted;
  }
}

int TLidFileAccess::ReadDefinition() {
  const uint64_t start = stream_.Position();
  TTag tag;
  try {
    tag = ReadTag();
  } catch (const TLidFileStream::EError&) {
    return -Corrupted;
  }
  if (!Is(tag, kDefinitionTag)) {
    stream_.Seek(start);
    return -UnexpectedSection;
  }
  try {
    const uint32_t length = stream_.ReadU32();
    stream_.ReadDouble();
    if (!PlausibleLength(tag, length) || !Fits(start, length, ReadLimit())) return -Corrupted;
    std::string text(length - HeaderBlockSize, '\0');
    stream_.Read(text.data(), text.size());
    definitionText_ = std::move(text);
    return NoError;
  } catch (const TLidFileStream::EError&) {
    Log("Error reading the header of skv2 file!");
    return -Corrupted;
  }
}

int TLidFileAccess::ReadCalibration(bool handOut) {
  const uint64_t start = stream_.Position();
  TTag tag;
  try {
    tag = ReadTag();
  } catch (const TLidFileStream::EError&) {
    return -Corrupted;
  }
  if (!Is(tag, kCalibrationTag)) {
    stream_.Seek(start);
    return -UnexpectedSection;
  }
  std::vector<TCalibrationItem> items;
  try {
    const uint32_t length = stream_.ReadU32();
    stream_.ReadDouble();
    if (!PlausibleLength(tag, length) || !Fits(start, length, ReadLimit())) return -Corrupted;
    const size_t size = length - HeaderBlockSize;
    payload_.resize(size);
    stream_.Read(payload_.data(), size);
    // Every item must lie inside the block before any is handed out.
    const uint32_t count = TLidFileStream::GetU32(payload_.data());
    size_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
      if (size - at < 6) return -Corrupted;
      const uint8_t* p = payload_.data() + at;
      const size_t itemSize = TLidFileStream::GetU32(p + 2);
      at += 6;
      if (itemSize > size - at) return -Corrupted;
      items.push_back({p[0], p[1], at, itemSize});
      at += itemSize;
    }
  } catch (const TLidFileStream::EError&) {
    Log("Error reading the setting of skv2 file!");
    return -Corrupted;
  }
  if (handOut && OnCalibration) {
    // The handler may read other files; keep these bytes apart meanwhile.
    const std::vector<uint8_t> content = std::move(payload_);
    payload_.clear();
    for (const TCalibrationItem& item : items)
      OnCalibration(item.Channel, item.Kind, content.data() + item.Offset, item.Size);
  }
  return NoError;
}

// ---------------------------------------------------------------- checking and opening

int TLidFileAccess::ReadHeaderBlocks(bool handOut) {
  stream_.Seek(0);
  int rc = ReadHeader();
  if (rc == NoError) {
    rc = ReadDefinition();
    // A file without a definition is accepted.
    if (rc == -UnexpectedSection) rc = NoError;
  }
  if (rc == NoError) rc = ReadCalibration(handOut);
  return rc;
}

TLidFileAccess::TWalk TLidFileAccess::WalkBlocks(uint64_t from, uint64_t limit, bool strict) {
  TWalk walk;
  // The walk reads the definition and calibration blocks it meets; the
  // header's definition text stays the one the file is known by.
  const std::string definition = definitionText_;
  uint64_t pos = from;
  for (;;) {
    walk.Stop = pos;
    if (pos >= limit) {
      walk.End = TWalkEnd::EndOfFile;
      break;
    }
    if (limit - pos < 8) {
      walk.End = TWalkEnd::Torn;
      break;
    }
    stream_.Seek(pos);
    const TTag tag = ReadTag();
    // Readers stop at an end mark: one left here by a repair that died
    // before cutting the rest off must end the walk too, or new blocks
    // would go behind it, out of every reader's sight.
    if (Is(tag, kEndTag)) {
      walk.End = TWalkEnd::EndMark;
      break;
    }
    if (strict && !IsKnownTag(tag)) {
      walk.End = TWalkEnd::Damage;
      break;
    }
    const uint32_t length = stream_.ReadU32();
    if (!PlausibleLength(tag, length)) {
      walk.End = TWalkEnd::Damage;
      break;
    }
    if (!Fits(pos, length, limit)) {
      walk.End = TWalkEnd::Torn;
      break;
    }
    if (strict && (Is(tag, kDefinitionTag) || Is(tag, kCalibrationTag))) {
      stream_.Seek(pos);
      if ((Is(tag, kDefinitionTag) ? ReadDefinition() : ReadCalibration(false)) != NoError) {
        walk.End = TWalkEnd::Damage;
        break;
      }
    } else {
      ++walk.Blocks;
    }
    pos += length;
  }
  definitionText_ = definition;
  return walk;
}

bool TLidFileAccess::ChainOfBlocksAt(uint64_t at, uint64_t limit) {
  // Two whole blocks in a row, or one that ends where the data does, do not
  // stand there by chance.
  const TWalk walk = WalkBlocks(at, limit, true);
  if (walk.Blocks >= 2) return true;
  return walk.Blocks == 1 && walk.End != TWalkEnd::Damage;
}

bool TLidFileAccess::WholeBlocksAfter(uint64_t from, uint64_t limit) {
  static constexpr size_t kChunk = 64 * 1024;
  std::vector<char> chunk;
  for (uint64_t at = from; at + 8 <= limit;) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kChunk, limit - at));
    chunk.resize(count);
    stream_.Seek(at);
    stream_.Read(chunk.data(), count);
    // Tags may straddle chunks: each chunk starts 3 bytes before the last one ended.
    for (size_t i = 0; i + 4 <= count; ++i) {
      TTag tag;
      std::memcpy(tag.data(), chunk.data() + i, 4);
      if (IsKnownTag(tag) && ChainOfBlocksAt(at + i, limit)) return true;
    }
    if (count < 4 || at + count >= limit) break;
    at += count - 3;
  }
  return false;
}

bool TLidFileAccess::EndMarkCloses() {
  // The end mark must close a chain of whole blocks, as a reader walks them.
  const TWalk walk = WalkBlocks(dataStart_, endOfData_ + HeaderBlockSize, true);
  return walk.End == TWalkEnd::EndMark && walk.Stop == endOfData_;
}

int TLidFileAccess::InitialiseFile(const TInstrumentInfo& source) {
  try {
    stream_.Seek(0);
    int rc = WriteHeader(source);
    if (rc == NoError) rc = WriteDefinition(Services().Clock->NowUTC());
    if (rc == NoError) rc = WriteCalibration();
    if (rc == NoError) rc = WriteEndMark(Services().Clock->NowUTC());
    if (rc != NoError) throw TLidFileStream::EError("the header blocks could not be written");
    stream_.Truncate(stream_.Position());
    stream_.Sync();
  } catch (const TLidFileStream::EError&) {
    // A beginning of a header would read as a damaged file next time: an
    // empty file is started again instead.
    try {
      stream_.Truncate(0);
    } catch (const TLidFileStream::EError&) {
    }
    stream_.Close();
    return -ReadWriteError;
  }
  // Closed: the caller reopens and checks the new file like any other.
  stream_.Close();
  dataStart_ = 0;
  endOfData_ = 0;
  return NoError;
}

int TLidFileAccess::CheckFile(bool writeMode, const TInstrumentInfo* source) {
  writeMode = writeMode && !readOnly_;
  endOfData_ = 0;
  endMarkAtLimit_ = false;
  endMarkLength_.reset();
  stream_.Seek(0);
  const uint64_t fileLength = stream_.Size();
  if (fileLength == 0) {
    if (!writeMode || !source) return -Corrupted;
    return InitialiseFile(*source);
  }

  // A file that is not ours is never touched, whatever the mode; a stub
  // shorter than the magic is ours only when it could be its beginning.
  char magic[4] = {};
  const size_t have = static_cast<size_t>(std::min<uint64_t>(fileLength, 4));
  stream_.Read(magic, have);
  if (std::memcmp(magic, kMagic, have) != 0) {
    damaged_ = writeMode;
    return -Corrupted;
  }
  if (have < 4) Log("Error reading magic tag of skv2 file!");

  if (fileLength < HeaderBlockSize) {
    Log("Error reading the ending tag of skv2 file!");
  } else {
    const uint64_t last = fileLength - HeaderBlockSize;
    stream_.Seek(last);
    if (last >= kSmallestStart && Is(ReadTag(), kEndTag)) {
      endMarkLength_ = stream_.ReadU32();
      endOfData_ = last;
      endMarkAtLimit_ = true;
      return NoError;
    }
  }
  endOfData_ = 0;
  if (writeMode) Log("File seems to be damaged, try to correct it...");

  // Header blocks are never written over: what follows them is recorded data.
  if (ReadHeaderBlocks(false) != NoError) {
    damaged_ = writeMode;
    return -Corrupted;
  }

  // Walk the blocks up to the first one that is not whole.
  const TWalk walk = WalkBlocks(stream_.Position(), fileLength, writeMode);
  if (!writeMode) {
    endOfData_ = walk.Stop;
    return NoError;
  }
  // Only a torn end is cut: whole blocks behind the damage would go with it.
  if (walk.Stop < fileLength && WholeBlocksAfter(walk.Stop + 1, fileLength)) {
    damaged_ = true;
    return -Corrupted;
  }

  // Repair: end mark right after the last whole block, the rest cut off.
  stream_.Seek(walk.Stop);
  WriteEndMark(Services().Clock->NowUTC());
  const uint64_t newEnd = stream_.Position();
  try {
    stream_.Truncate(newEnd);
    stream_.Sync();
  } catch (const TLidFileStream::EError& e) {
    Log(std::string("Error cutting the damaged end of skv2 file! ") + e.what());
    stream_.Close();
    return -ReadWriteError;
  }
  stream_.Close();
  dataStart_ = 0;
  endOfData_ = 0;
  Log("Recovery: File got new end of file mark after " + std::to_string(walk.Blocks) + " data block (lost " +
      std::to_string(fileLength - walk.Stop) + " bytes)");
  return NoError;
}

int TLidFileAccess::OpenForWriting(const TInstrumentInfo* source, uint64_t wholeUpTo) {
  if (IsOpen()) Close();
  endMarkReached_ = false;
  damaged_ = false;
  auto refuse = [this](int rc) {
    stream_.Close();
    readOnly_ = true;
    return rc;
  };
  try {
    std::error_code ec;
    if (fileName_.has_parent_path()) std::filesystem::create_directories(fileName_.parent_path(), ec);
    TLidFileStream::CreateIfMissing(fileName_);
    // A repair or a new file closes it; the second round opens and checks the result.
    for (int attempt = 0; attempt < 2 && !IsOpen(); ++attempt) {
      if (!stream_.Open(fileName_, TLidFileStream::TMode::ReadWrite)) {
        readOnly_ = true;
        return -CannotAccess;
      }
      readOnly_ = false;
      streamBad_ = false;
      const int rc = CheckFile(true, source);
      if (rc != NoError) return refuse(rc);
    }
    if (!IsOpen()) return refuse(-Corrupted);
    const int rc = ReadHeaderBlocks(false);
    if (rc != NoError) {
      damaged_ = true;
      return refuse(rc);
    }
    dataStart_ = stream_.Position();
    // Blocks appended behind damage would be out of every reader's sight.
    const bool closedHereByUs = wholeUpTo != 0 && endMarkAtLimit_ && endOfData_ == wholeUpTo;
    if (!closedHereByUs && !EndMarkCloses()) {
      damaged_ = true;
      return refuse(-Corrupted);
    }
    return NoError;
  } catch (const std::exception&) {
    Log("Error opening for writing a skv2 file!");
    return refuse(-ReadWriteError);
  }
}

int TLidFileAccess::OpenForReadingImpl(bool readHeaderBlocks, const char* failureText) {
  if (IsOpen()) {
    // Not Close(): that would mark the index complete while it is being built.
    const bool indexComplete = indexComplete_;
    Close();
    indexComplete_ = indexComplete;
  }
  readOnly_ = true;
  streamBad_ = false;
  endMarkReached_ = false;
  try {
    if (!stream_.Open(fileName_, TLidFileStream::TMode::Read)) return -CannotAccess;
    if (CheckFile(false, nullptr) != NoError) {
      stream_.Close();
      return -Corrupted;
    }
    if (!readHeaderBlocks) return NoError;
    const int rc = ReadHeaderBlocks(true);
    if (rc != NoError) {
      stream_.Close();
      return rc;
    }
    dataStart_ = stream_.Position();
    return NoError;
  } catch (const std::exception&) {
    Log(failureText);
    stream_.Close();
    return -ReadWriteError;
  }
}

int TLidFileAccess::OpenForReading() { return OpenForReadingImpl(true, "Error opening for reading a skv2 file!"); }

int TLidFileAccess::OpenForSearching() {
  return OpenForReadingImpl(false, "Error opening for searching a skv2 file!");
}

void TLidFileAccess::Close() {
  indexComplete_ = true;
  if (!IsOpen()) return;
  if (!readOnly_) {
    try {
      // The mark goes right after the last whole block: bytes of a write
      // that failed half-way must not end up inside a "complete" file.
      const uint64_t size = stream_.Size();
      const uint64_t end = endOfData_ != 0 ? endOfData_ : size;
      bool sealed = false;
      if (size == end + HeaderBlockSize) {
        stream_.Seek(end);
        sealed = Is(ReadTag(), kEndTag);
      }
      if (!sealed) {
        stream_.Seek(end);
        WriteEndMark(Services().Clock->NowUTC());
        stream_.Truncate(end + HeaderBlockSize);
      }
      stream_.Sync();
    } catch (const std::exception&) {
      Log("Error writing END tag in skv2 file!");
    }
  }
  stream_.Close();
  payload_ = {};
}

void TLidFileAccess::Rewind() {
  streamBad_ = false;
  endMarkReached_ = false;
  if (!IsOpen()) return;
  if (dataStart_ != 0) {
    stream_.Seek(dataStart_);
    return;
  }
  try {
    stream_.Seek(0);
    int rc = ReadHeader();
    if (rc == NoError) {
      rc = ReadDefinition();
      if (rc == -UnexpectedSection) rc = NoError;
    }
    if (rc == NoError) rc = ReadCalibration(true);
    if (rc == NoError)
      dataStart_ = stream_.Position();
    else
      streamBad_ = true;
  } catch (const std::exception&) {
    streamBad_ = true;
  }
}

void TLidFileAccess::Dispatch(const TTag& tag, int channel, const uint8_t* data, size_t size, TDateTime time) {
  if (Is(tag, kEventTag)) {
    // Shorter than an event code: nothing sensible to hand out.
    if (size >= 3 && OnEvent) {
      const char* text = reinterpret_cast<const char*>(data);
      OnEvent(channel, std::string(text, 3), std::string(text + 3, size - 3), time);
    }
  } else if (OnData) {
    OnData(channel, data, size, time);
  }
}

int TLidFileAccess::ReadBlocks(int maxBlocks, TDateTime stopTime) {
  int count = 0;
  if (!IsOpen() || streamBad_) return 0;
  const bool useStop = std::trunc(stopTime) != 0;
  uint64_t start = stream_.Position();
  bool streamPhase = true;
  try {
    const uint64_t limit = ReadLimit();
    while (count < maxBlocks) {
      start = stream_.Position();
      if (start >= limit) {
        // The end mark found by the check sits right there.
        if (endMarkAtLimit_ && start == limit) {
          indexComplete_ = true;
          endMarkReached_ = true;
        }
        break;
      }
      if (limit - start < HeaderBlockSize)
        throw TLidFileStream::EError("damaged block at position " + std::to_string(start));
      const TTag tag = ReadTag();
      if (!IsKnownTag(tag)) {
        Log("Error reading the skv2 file: Invalid tag!");
        stream_.Seek(start);
        return count;
      }
      const uint32_t length = stream_.ReadU32();
      if (Is(tag, kCalibrationTag) || Is(tag, kDefinitionTag)) {
        stream_.Seek(start);
        const int rc = Is(tag, kCalibrationTag) ? ReadCalibration(true) : ReadDefinition();
        if (rc != NoError) throw TLidFileStream::EError("damaged block at position " + std::to_string(start));
        continue;
      }
      if (Is(tag, kEndTag)) {
        endMarkLength_ = length;
        stream_.Seek(start);
        indexComplete_ = true;
        endMarkReached_ = true;
        break;
      }
      if (!PlausibleLength(tag, length) || !Fits(start, length, limit))
        throw TLidFileStream::EError("damaged block at position " + std::to_string(start));
      const TDateTime time = stream_.ReadDouble();
      if (useStop && time > stopTime) {
        stream_.Seek(start);
        return count;
      }
      const int channel = stream_.ReadU8();
      const size_t size = length - DataBlockOverhead;
      // Indexed before it is handed out: a consumer finds it in the index.
      // A block indexed already (read again) is not indexed twice.
      if (!indexComplete_ && (index_.empty() || start > index_.back().Position))
        index_.push_back({time, start, channel, tag});
      if (indexMode_) {
        // Indexing needs the block heads only: move over the payload; when
        // it lies in the read buffer this costs nothing.
        stream_.Skip(size);
      } else if (size <= stream_.BufferCapacity()) {
        const uint8_t* data = stream_.ReadInPlace(size);
        streamPhase = false;
        Dispatch(tag, channel, data, size, time);
        streamPhase = true;
      } else {
        payload_.resize(size);
        stream_.Read(payload_.data(), size);
        streamPhase = false;
        Dispatch(tag, channel, payload_.data(), size, time);
        streamPhase = true;
        payload_.clear();
        payload_.shrink_to_fit();
      }
      ++count;
    }
  } catch (const TLidFileStream::EError& e) {
    Log(std::string("Error reading the skv2 file! ") + e.what());
    indexComplete_ = true;
    if (streamPhase) {
      // The stream is left at the start of the damaged block.
      streamBad_ = true;
      stream_.Seek(start);
    }
  } catch (...) {
    Log("Error reading the skv2 file!");
    indexComplete_ = true;
  }
  return count;
}

int TLidFileAccess::MakeIndex() { return Index(IndexBlocksPerCall, true); }

int TLidFileAccess::IndexFirstBlock() { return Index(1, false); }

int TLidFileAccess::Index(int blocksPerCall, bool whole) {
  index_.clear();
  indexComplete_ = false;
  indexMode_ = true;
  const int rc = OpenForReading();
  if (rc != NoError) {
    Log("Error making index of skv2 file!");
    Close();
    indexMode_ = false;
    return rc;
  }
  Rewind();
  while (ReadBlocks(blocksPerCall) >= blocksPerCall && whole) {
  }
  // Complete unless the rest is left to the reading (an end reached on
  // the way has completed it).
  const bool complete = whole || indexComplete_;
  Close();
  indexMode_ = false;
  indexComplete_ = complete;
  return NoError;
}

bool TLidFileAccess::SeekTime(TDateTime time, double toleranceSeconds) {
  if (index_.empty()) return false;
  const double toleranceDays = toleranceSeconds / SecondsPerDay;
  if (time < index_.front().Time - toleranceDays || time > index_.back().Time + toleranceDays) return false;
  for (const IndexEntry& entry : index_) {
    // Distance in whole seconds, after rounding to the millisecond.
    const long long ms = std::llround(std::fabs(entry.Time - time) * MsPerDay);
    if (static_cast<double>(ms / 1000) > toleranceSeconds) continue;
    if (IsOpen()) {
      streamBad_ = false;
      endMarkReached_ = false;
      stream_.Seek(entry.Position);
    }
    return true;
  }
  return false;
}

}  // namespace OrlaqLidar
