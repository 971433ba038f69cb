#pragma once
// Inside the kernel errors are exceptions; each dispatch and callback
// boundary catches them and writes one line to the message log.
#include <exception>
#include <stdexcept>
#include <string>

namespace OrlaqLidar {

class ELidarError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text a boundary logs for what it caught.
inline std::string ExceptionText(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace OrlaqLidar
