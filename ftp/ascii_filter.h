// TYPE A data to a local text file: CRLF line ends become LF, across buffer boundaries.
#pragma once

#include <string>
#include <string_view>

namespace pullwire::ftp {

class CrLfToLf {
 public:
  // Appends `in` converted to `out`. A CR at the end of `in` is held back until the next byte
  // shows whether it starts a CRLF.
  void Convert(std::string_view in, std::string& out);
  // Appends a held-back CR: the data ended in a bare CR, which stays.
  void Finish(std::string& out);

 private:
  bool pending_cr_ = false;
};

}  // namespace pullwire::ftp
