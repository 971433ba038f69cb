#pragma once
// Reads and writes the recorded data files (".skv2"): a fixed header naming
// the instrument, the instrument definition text ("DEF1"), the calibrations
// in force ("CAL2"), time-stamped data blocks ("SHT2", "MON1", "EVT1",
// "OPT1") in arrival order and an end mark ("EOF1"). All numbers are
// little-endian, all times TDateTime values in UTC.
//
// A file that lost its end (power cut, crash) is cut back to its last whole
// block and given a new end mark the next time it is opened for writing;
// reading stops at the last whole block. Only a torn end is ever cut: a
// file whose header blocks are damaged, or with damage before its last
// whole block, is refused for writing and left as it is (Damaged()), since
// rewriting it would lose recorded blocks and appending to it would put
// the new ones out of every reader's sight. Operations return 0 or a
// negated TLidFileAccess::Errors value; I/O failures never leave the class.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "kernel/files/LidFileStream.h"

namespace OrlaqLidar {

class TApplicationConfig;

class TLidFileAccess {
 public:
  enum Errors {
    NoError = 0,
    Corrupted = 1,
    NotSkv2File = 2,
    CannotAccess = 3,
    UnknownSection = 4,
    UnexpectedSection = 5,
    SerialMismatch = 6,
    ModelMismatch = 7,
    ReadOnlyMode = 8,
    ReadWriteError = 9,
  };

  using TTag = std::array<char, 4>;

  struct IndexEntry {
    TDateTime Time = 0;
    uint64_t Position = 0;  // start of the block in the file
    int32_t Channel = 0;
    TTag Tag{};             // which kind of data block
  };

  // One lidar or monitoring channel of the live instrument as the header
  // describes it: its record identifier and the version text it reported.
  struct TChannelVersion {
    int RecordID = 0;
    std::string Version;
  };

  // What a new header is made of; the acquisition source provides it.
  struct TInstrumentInfo {
    std::string SerialNumber;
    std::vector<TChannelVersion> LidarChannels;    // in the instrument's order
    std::vector<TChannelVersion> MonitorChannels;
    bool HasAirins = false;
    int AirinsRecordID = 0;
  };

  // A channel entry of a header, as read back (for information only).
  struct THeaderChannel {
    bool Monitor = false;
    int Channel = 0;
    std::string FirmwareName;  // 10 bytes as stored
    int32_t FirmwareNumber = 0;
    std::string FirmwareSuffix;  // 6 bytes as stored
  };

  // data is valid only during the call.
  using TDataHandler = std::function<void(int channel, const uint8_t* data, size_t size, TDateTime time)>;
  using TEventHandler =
      std::function<void(int channel, const std::string& code, const std::string& text, TDateTime time)>;
  // One calibration item (kind 0 afterpulse, 1 overlap inverse, 2 detector);
  // data is valid only during the call, the handler copies what it keeps.
  using TCalibrationHandler = std::function<void(int channel, int kind, const uint8_t* data, size_t size)>;

  static constexpr size_t HeaderBlockSize = 16;      // tag, length, time
  static constexpr size_t DataBlockOverhead = 17;    // plus the channel byte
  static constexpr uint32_t MaxDefinitionLength = 65536;
  // No payload or calibration block beyond this is believed: a damaged
  // length field must not make the reader allocate gigabytes.
  static constexpr size_t MaxPayloadSize = 16 * 1024 * 1024;
  static constexpr int IndexBlocksPerCall = 1000;

  // readBufferSize: bytes read ahead at a time while the file is open.
  TLidFileAccess(std::filesystem::path fileName, const TApplicationConfig& settings,
                 size_t readBufferSize = TLidFileStream::DefaultBufferSize);
  ~TLidFileAccess();
  TLidFileAccess(const TLidFileAccess&) = delete;
  TLidFileAccess& operator=(const TLidFileAccess&) = delete;

  // Creates the file (and its folder) when missing, cuts a torn end off,
  // and positions for appending. source fills the header of a new file;
  // without it an empty file cannot be initialised. wholeUpTo: where this
  // program last closed the file; found ending there, its blocks are not
  // walked again.
  int OpenForWriting(const TInstrumentInfo* source, uint64_t wholeUpTo = 0);
  // Set when the last OpenForWriting refused the file for what it holds
  // (not a recorded file, damaged header blocks, damage before the last
  // whole block) rather than for a failing disk; the file was not touched.
  bool Damaged() const { return damaged_; }
  // Whether the open file is still the one its name leads to.
  TLidFileStream::TLink LinkState() const;
  // The whole blocks written from position on, byte for byte, to carry
  // them into another file; empty when they cannot be read.
  std::vector<uint8_t> BlocksFrom(uint64_t position);
  // Appends blocks as BlocksFrom gave them: bytes written, or -8 / -9.
  int AppendBlocks(const std::vector<uint8_t>& blocks);
  // Reads the header blocks, handing the calibration items to OnCalibration.
  int OpenForReading();
  // Checks the file only; positioning is then done with SeekTime.
  int OpenForSearching();
  // Puts the end mark back after writing and closes.
  void Close();
  bool IsOpen() const { return stream_.IsOpen(); }

  // Block length written, or -ReadOnlyMode / -ReadWriteError.
  int WriteShoot(int channel, TDateTime time, const uint8_t* data, size_t size);
  int WriteMonitor(int channel, TDateTime time, const uint8_t* data, size_t size);
  int WriteOption(int channel, TDateTime time, const uint8_t* data, size_t size);
  int WriteEvent(int channel, TDateTime time, const std::string& code, const std::string& text);
  // Moves the write position to the end of the data (writes do so anyway).
  void SeekWritePosition();
  // Hands everything written to the disk; false (logged, and the stream
  // marked bad) on failure.
  bool Flush();
  // A second descriptor of the open file, for syncing it from another
  // thread (the caller closes it); -1 when not open.
  int DuplicateDescriptor() const { return stream_.DuplicateDescriptor(); }

  int MakeIndex();
  // The index up to the first data block only (none for an empty
  // recording), left open for reading to extend: for a reader that goes
  // through the whole file once, which then indexes it on the way instead
  // of in a pass of its own.
  int IndexFirstBlock();
  void Rewind();
  // Reads up to maxBlocks data blocks from the current position, stopping
  // before the first block later than stopTime (when its day is not 0).
  // Returns the number of data blocks read.
  int ReadBlocks(int maxBlocks, TDateTime stopTime = 0);
  bool SeekTime(TDateTime time, double toleranceSeconds);

  const std::vector<IndexEntry>& Index() const { return index_; }
  size_t IndexCount() const { return index_.size(); }
  TDateTime FirstIndexTime() const { return index_.empty() ? 0 : index_.front().Time; }
  TDateTime LastIndexTime() const { return index_.empty() ? 0 : index_.back().Time; }
  bool IndexComplete() const { return indexComplete_; }

  const std::string& SerialNumber() const { return serialNumber_; }
  const std::string& ModelCode() const { return modelCode_; }
  TDateTime CreationTime() const { return creationTime_; }
  const std::filesystem::path& FileName() const { return fileName_; }
  const std::string& DefinitionText() const { return definitionText_; }
  int LidarChannelCount() const { return lidarCount_; }
  int MonitorChannelCount() const { return monitorCount_; }
  bool HasOption() const { return optionFlag_ != 0; }
  int OptionRecordID() const { return optionRecordId_; }
  const std::vector<THeaderChannel>& HeaderChannels() const { return headerChannels_; }

  bool ReadOnly() const { return readOnly_; }
  uint64_t DataStart() const { return dataStart_; }
  uint64_t EndOfData() const { return endOfData_; }
  // Read position of the open file (the start of the next block).
  uint64_t Position() const { return stream_.Position(); }
  // Set when reading stopped at an end mark.
  bool EndMarkReached() const { return endMarkReached_; }
  // Set when the last opening found the file closed by its end mark.
  bool EndMarkAtEnd() const { return endMarkAtLimit_; }
  // What a strict check finds wrong in the header fields and the end mark
  // read so far, one text each; the reader itself tolerates these.
  std::vector<std::string> Faults() const;

  static std::string ErrorText(int code);

  // Channel entry fields cut from a version text as the header stores them.
  static THeaderChannel LidarChannelEntry(const TChannelVersion& channel);
  static THeaderChannel MonitorChannelEntry(const TChannelVersion& channel);
  // A model code as a reader keeps it: upper case, letters and digits only.
  static std::string NormaliseModelCode(const std::string& code);

  TCalibrationHandler OnCalibration;
  TDataHandler OnData;
  TEventHandler OnEvent;

 private:
  struct TCalibrationItem {
    int Channel;
    int Kind;
    size_t Offset;
    size_t Size;
  };

  // How a walk over the blocks ended.
  enum class TWalkEnd {
    EndOfFile,  // every block whole up to the limit
    EndMark,    // at an end mark
    Torn,       // at a block the limit cuts short
    Damage,     // at bytes no block of a reader's starts with
  };
  struct TWalk {
    uint64_t Stop = 0;  // start of the block the walk ended at
    size_t Blocks = 0;  // whole data blocks before it
    TWalkEnd End = TWalkEnd::EndOfFile;
  };

  int CheckFile(bool writeMode, const TInstrumentInfo* source);
  int InitialiseFile(const TInstrumentInfo& source);
  int ReadHeaderBlocks(bool handOut);
  // Follows the blocks from a position up to limit. strict: as a reader
  // does (known tags, readable definition and calibration blocks); else
  // lengths only, as the read-only check always did.
  TWalk WalkBlocks(uint64_t from, uint64_t limit, bool strict);
  // Whether whole blocks stand somewhere after a damaged spot: then the
  // damage is inside the recorded data, not a torn end.
  bool WholeBlocksAfter(uint64_t from, uint64_t limit);
  bool ChainOfBlocksAt(uint64_t at, uint64_t limit);
  bool EndMarkCloses();
  int WriteHeader(const TInstrumentInfo& source);
  int WriteDefinition(TDateTime time);
  int WriteCalibration();
  int WriteEndMark(TDateTime time);
  int WriteBlock(const char* tag, int channel, TDateTime time, const uint8_t* data, size_t size,
                 const char* failureText);
  int ReadHeader();
  int ReadDefinition();
  int ReadCalibration(bool handOut);
  int OpenForReadingImpl(bool readHeaderBlocks, const char* failureText);
  // Bytes the reader may use: up to the end mark or the last whole block.
  uint64_t ReadLimit() const;
  TTag ReadTag();
  // Indexes from the first data block, blocksPerCall a call: to the end
  // when whole, else one call.
  int Index(int blocksPerCall, bool whole);
  void Dispatch(const TTag& tag, int channel, const uint8_t* data, size_t size, TDateTime time);

  std::vector<IndexEntry> index_;
  bool indexComplete_ = false;
  std::string modelCode_;
  int lidarCount_ = 0;
  int monitorCount_ = 0;
  int optionFlag_ = 0;
  int optionRecordId_ = 0;
  std::string serialNumber_;
  std::vector<THeaderChannel> headerChannels_;
  std::string definitionText_;
  std::filesystem::path fileName_;
  TLidFileStream stream_;
  bool streamBad_ = false;
  TDateTime creationTime_;
  uint64_t dataStart_ = 0;
  uint64_t endOfData_ = 0;
  bool readOnly_ = true;
  bool indexMode_ = false;
  bool endMarkReached_ = false;
  bool endMarkAtLimit_ = false;  // the check found the end mark at endOfData_
  bool damaged_ = false;
  std::optional<uint32_t> endMarkLength_;  // length field of the end mark found
  std::string creationText_;       // the 14 characters as stored
  std::string storedModelCode_;    // the model code as stored
  const TApplicationConfig& settings_;
  std::vector<uint8_t> payload_;  // payloads larger than the stream buffer
};

}  // namespace OrlaqLidar
