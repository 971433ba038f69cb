#pragma once
// An open netCDF file and the checked calls the NetCDF exports make on it:
// a failing library call throws ENetcdfError naming the step and the
// library's reason, so that a writer can give up a profile as a whole.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace OrlaqExport {

class ENetcdfError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ENetcdfError("<step>: <reason>") when status is not success.
void NcCheck(int status, const std::string& step);

class TNetcdfFile {
 public:
  TNetcdfFile() = default;
  ~TNetcdfFile();
  TNetcdfFile(const TNetcdfFile&) = delete;
  TNetcdfFile& operator=(const TNetcdfFile&) = delete;

  // A new file (an existing one is not replaced): NetCDF-4, in the classic
  // model when classic is set.
  void Create(const std::string& name, bool classic);
  void Open(const std::string& name, bool write);
  void Close();
  bool IsOpen() const { return id_ >= 0; }
  int Id() const { return id_; }
  const std::string& Name() const { return name_; }

  int Dimension(const char* name) const;
  size_t DimensionLength(const char* name) const;
  int Variable(const char* name) const;
  bool HasVariable(const char* name) const;
  std::string TextAttribute(int variable, const char* name) const;
  void PutText(int variable, const char* name, const std::string& value);
  void PutDouble(int variable, const char* name, double value);
  // Metadata and data on disk now: what a crash after it cannot lose.
  void Sync();
  // Every chunked variable's chunks go through compression into the file
  // as they are written, instead of waiting in the cache for the next sync
  // or the close: the exports write each chunk whole, once.
  void WriteChunksThrough();

 private:
  int id_ = -1;
  std::string name_;
};

}  // namespace OrlaqExport
