#include "Export/NetcdfFile.h"

#include <vector>

#include <netcdf.h>

namespace OrlaqExport {

void NcCheck(int status, const std::string& step) {
  if (status != NC_NOERR) throw ENetcdfError(step + ": " + nc_strerror(status));
}

TNetcdfFile::~TNetcdfFile() { Close(); }

void TNetcdfFile::Create(const std::string& name, bool classic) {
  Close();
  const int mode = NC_NETCDF4 | NC_NOCLOBBER | (classic ? NC_CLASSIC_MODEL : 0);
  NcCheck(nc_create(name.c_str(), mode, &id_), "creating " + name);
  name_ = name;
}

void TNetcdfFile::Open(const std::string& name, bool write) {
  Close();
  NcCheck(nc_open(name.c_str(), write ? NC_WRITE : NC_NOWRITE, &id_), "opening " + name);
  name_ = name;
}

void TNetcdfFile::Close() {
  if (id_ >= 0) nc_close(id_);
  id_ = -1;
  name_.clear();
}

int TNetcdfFile::Dimension(const char* name) const {
  int id = -1;
  NcCheck(nc_inq_dimid(id_, name, &id), std::string("dimension ") + name);
  return id;
}

size_t TNetcdfFile::DimensionLength(const char* name) const {
  size_t length = 0;
  NcCheck(nc_inq_dimlen(id_, Dimension(name), &length), std::string("length of ") + name);
  return length;
}

int TNetcdfFile::Variable(const char* name) const {
  int id = -1;
  NcCheck(nc_inq_varid(id_, name, &id), std::string("variable ") + name);
  return id;
}

bool TNetcdfFile::HasVariable(const char* name) const {
  int id = -1;
  return nc_inq_varid(id_, name, &id) == NC_NOERR;
}

std::string TNetcdfFile::TextAttribute(int variable, const char* name) const {
  size_t length = 0;
  if (nc_inq_attlen(id_, variable, name, &length) != NC_NOERR) return {};
  std::string text(length, '\0');
  NcCheck(nc_get_att_text(id_, variable, name, text.data()), std::string("attribute ") + name);
  return text;
}

void TNetcdfFile::PutText(int variable, const char* name, const std::string& value) {
  NcCheck(nc_put_att_text(id_, variable, name, value.size(), value.c_str()), std::string("attribute ") + name);
}

void TNetcdfFile::PutDouble(int variable, const char* name, double value) {
  NcCheck(nc_put_att_double(id_, variable, name, NC_DOUBLE, 1, &value), std::string("attribute ") + name);
}

void TNetcdfFile::Sync() { NcCheck(nc_sync(id_), "syncing " + name_); }

void TNetcdfFile::WriteChunksThrough() {
  int count = 0;
  NcCheck(nc_inq_varids(id_, &count, nullptr), "variables of " + name_);
  std::vector<int> ids(static_cast<size_t>(count));
  if (count) NcCheck(nc_inq_varids(id_, &count, ids.data()), "variables of " + name_);
  for (const int v : ids) {
    int storage = NC_CONTIGUOUS;
    if (nc_inq_var_chunking(id_, v, &storage, nullptr) == NC_NOERR && storage == NC_CHUNKED)
      NcCheck(nc_set_var_chunk_cache(id_, v, 0, 0, 1.0f), "chunk cache of " + name_);
  }
}

}  // namespace OrlaqExport
