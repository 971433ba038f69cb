#pragma once
// Inside the kernel errors are exceptions; each dispatch and callback
// boundary catches them and writes one line to the message log.
#include <stdexcept>
#include <string>

namespace OrlaqLidar {

class ELidarError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace OrlaqLidar
