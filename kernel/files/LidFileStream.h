#pragma once
// Random-access binary file over a POSIX descriptor with a read buffer.
// Reads are served from one buffer so that walking many small blocks costs
// few system calls; payloads that fit in it can be handed out in place.
// Writes go straight to the descriptor (no user-space write buffer), so a
// crash of the program loses nothing that a write call has returned from.
// Failures are raised as TLidFileStream::EError.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace OrlaqLidar {

class TLidFileStream {
 public:
  class EError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  enum class TMode { Read, ReadWrite };

  static constexpr size_t DefaultBufferSize = 1024 * 1024;

  // The buffer exists only while a file is open: an object kept for its
  // index costs no memory.
  explicit TLidFileStream(size_t bufferSize = DefaultBufferSize);
  ~TLidFileStream();
  TLidFileStream(const TLidFileStream&) = delete;
  TLidFileStream& operator=(const TLidFileStream&) = delete;

  // Creates an empty file when there is none; an existing file is left as it is.
  static bool CreateIfMissing(const std::filesystem::path& path);

  // False when the file cannot be opened; the reason is in LastError().
  bool Open(const std::filesystem::path& path, TMode mode);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& LastError() const { return lastError_; }

  // Current size as the system reports it.
  uint64_t Size() const;
  uint64_t Position() const { return pos_; }
  // Moves the position only; nothing is read until asked for.
  void Seek(uint64_t position) { pos_ = position; }
  void Skip(uint64_t count) { pos_ += count; }

  // Reads exactly count bytes or raises EError (end of file included).
  void Read(void* dst, size_t count);
  // count contiguous bytes at the position, valid until the next call on
  // the stream; count must not exceed BufferCapacity().
  const uint8_t* ReadInPlace(size_t count);
  size_t BufferCapacity() const { return bufferSize_; }

  uint8_t ReadU8();
  uint32_t ReadU32();
  int32_t ReadI32();
  double ReadDouble();

  // Writes everything at the position, in as few system calls as the
  // system allows; two parts are written with one gathered call.
  void Write(const void* data, size_t count);
  void Write(const void* head, size_t headCount, const void* tail, size_t tailCount);
  void Truncate(uint64_t size);
  // Asks the system to put the written data on the disk.
  void Sync();
  // A second descriptor of the open file (the caller closes it), for
  // syncing from another thread; -1 when closed.
  int DuplicateDescriptor() const;
  // Whether the open file is still the one its path names.
  enum class TLink {
    AtPath,
    Elsewhere,  // moved away (with its folder), or another file took the name
    Deleted,    // no name left: its data goes when it is closed
  };
  TLink LinkState() const;

  // Test seam for the failure paths: when set, asked before every system
  // call that changes or syncs a file; a non-zero errno makes the call fail
  // with it as if the system had refused. Used from one thread only.
  enum class TCall { Write, Truncate, Sync };
  using TFaultHook = std::function<int(TCall call, const std::filesystem::path& path)>;
  static void SetFaultHook(TFaultHook hook);

  // Little-endian encoding helpers for the callers' byte images.
  static void PutU32(std::vector<uint8_t>& out, uint32_t v);
  static void PutI32(std::vector<uint8_t>& out, int32_t v);
  static void PutDouble(std::vector<uint8_t>& out, double v);
  static uint32_t GetU32(const uint8_t* p);
  static double GetDouble(const uint8_t* p);

 private:
  // Makes count bytes at pos_ available in the buffer; false at end of file.
  bool Fill(size_t count);
  void Invalidate(uint64_t from, uint64_t count);
  [[noreturn]] void Fail(const std::string& what) const;
  // errno the fault hook asks for, 0 to go ahead.
  int InjectedFault(TCall call) const;

  int fd_ = -1;
  std::filesystem::path path_;
  std::string lastError_;
  uint64_t pos_ = 0;
  size_t bufferSize_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t bufferStart_ = 0;  // file offset of buffer_[0]
  size_t bufferLength_ = 0;   // valid bytes in buffer_
};

}  // namespace OrlaqLidar
