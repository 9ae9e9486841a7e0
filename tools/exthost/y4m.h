// YUV4MPEG2 reading and writing for 8-bit 4:2:0 streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace y4m {

struct StreamInfo {
  int width = 0;
  int height = 0;
  int fpsNum = 0;  // 0 when the header gives no rate
  int fpsDen = 0;
  std::string colorspace;  // as written after 'C', empty when absent
  std::string header;      // the whole header line, without its newline
};

// Bytes of one 4:2:0 picture; chroma planes round odd sizes up.
size_t FrameBytes(int width, int height);

// Parses a stream header line (without the newline).  Accepts 8-bit 4:2:0
// only; anything else fails with a reason in *error.
bool ParseHeader(const std::string& line, StreamInfo* info, std::string* error);

// Header line for a stream we generate ourselves.
std::string MakeHeader(int width, int height, int fps_num, int fps_den);

enum class ReadStatus { kFrame, kEnd, kError };

struct Frame {
  std::string header;         // "FRAME" plus any parameters, no newline
  std::vector<uint8_t> data;  // Y, then Cb, then Cr
};

class Reader {
 public:
  Reader() = default;
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Opens a file, or standard input for "-", and reads the stream header.
  bool open(const std::string& path, std::string* error);
  // Reads the next frame.  kEnd at a clean end of stream; kError with a
  // message naming the frame for a bad marker or a truncated frame.
  ReadStatus read(Frame* frame, std::string* error);

  const StreamInfo& info() const { return info_; }
  // Number of complete frames read so far.
  int framesRead() const { return frames_; }

 private:
  bool readLine(std::string* line, size_t max_length, bool* at_eof);
  FILE* file_ = nullptr;
  bool owns_ = false;
  StreamInfo info_;
  int frames_ = 0;
};

class Writer {
 public:
  Writer() = default;
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Opens a file, or standard output for "-", and writes the header line.
  // `stdout_stream` replaces standard output for "-" when given.
  bool open(const std::string& path, const std::string& header, std::string* error,
            FILE* stdout_stream = nullptr);
  bool write(const std::string& frame_header, const uint8_t* data, size_t size, std::string* error);
  // Flushes and closes; false when anything could not be written.
  bool close(std::string* error);

 private:
  FILE* file_ = nullptr;
  bool owns_ = false;
};

}  // namespace y4m
