// imagels DIR IMAGE [PASSWORD]: what a backup image on the device at DIR
// holds, one line per node of its content index ("file \My Documents\a.txt").
// Exit 0 when the index was read, 1 when not, 2 on a usage error.
#include <cstdio>
#include <string>
#include <vector>

#include "ce/text.h"
#include "cesim/device.h"
#include "tools/imagels/ImageListing.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: imagels DIR IMAGE [PASSWORD]\n");
    return 2;
  }
  std::string problem;
  if (!ce::Device::Use(argv[1], &problem)) {
    std::fprintf(stderr, "imagels: %s\n", problem.c_str());
    return 2;
  }
  const CString image(ce::FromUtf8(argv[2]).c_str());
  const CString password(argc == 4 ? ce::FromUtf8(argv[3]).c_str() : u"");
  std::vector<std::string> lines;
  std::string error;
  if (!imagels::ListImage(image, password, &lines, &error)) {
    std::fprintf(stderr, "imagels: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  return 0;
}
