#pragma once
// An export file open for reading and appending, locked so that no other
// export writes into it at the same time. Failures come back with a short
// text naming the step and the system's reason.
#include <string>
#include <string_view>

namespace OrlaqExport {

class TExportFile {
 public:
  // Attempts in a row before an opening or its lock is given up.
  static constexpr int OpenAttempts = 200;

  TExportFile() = default;
  ~TExportFile();
  TExportFile(const TExportFile&) = delete;
  TExportFile& operator=(const TExportFile&) = delete;

  // Creates an empty file when there is none; keeps an existing one.
  static bool Create(const std::string& name, std::string& origin);

  bool Open(const std::string& name, std::string& origin);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  long long Size() const;
  // The last byte of a non-empty file.
  bool LastByte(char& c, std::string& origin) const;
  // Writes the whole text at the end; when that fails, what did get
  // written is cut off again so that no line is left half.
  bool Append(std::string_view text, std::string& origin);

 private:
  int fd_ = -1;
};

}  // namespace OrlaqExport
