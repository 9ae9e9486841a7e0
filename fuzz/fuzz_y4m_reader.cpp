// The Y4M reader on arbitrary streams: the header parser, frame markers and
// truncated frames.  The input becomes an in-memory file that the reader
// opens by path.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "tools/exthost/y4m.h"

namespace {
// Streams whose frames are larger than this are only opened: reading one
// frame of the largest size the header allows costs hundreds of megabytes
// and teaches the fuzzer nothing new.
constexpr size_t kMaxFrameBytes = size_t{1} << 22;
constexpr int kMaxFrames = 64;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("y4m", 0);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  {
    y4m::Reader reader;
    std::string error;
    if (reader.open(path, &error)) {
      const y4m::StreamInfo& info = reader.info();
      if (info.width <= 0 || info.height <= 0) __builtin_trap();
      const size_t bytes = y4m::FrameBytes(info.width, info.height);
      if (bytes <= kMaxFrameBytes) {
        y4m::Frame frame;
        for (int i = 0; i < kMaxFrames; ++i) {
          const y4m::ReadStatus s = reader.read(&frame, &error);
          if (s != y4m::ReadStatus::kFrame) break;
          if (frame.data.size() != bytes || reader.framesRead() != i + 1) __builtin_trap();
        }
      }
    } else if (error.empty()) {
      __builtin_trap();  // every refusal names its reason
    }
  }
  close(fd);
  return 0;
}
