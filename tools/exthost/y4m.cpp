#include "tools/exthost/y4m.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace y4m {

namespace {

constexpr char kMagic[] = "YUV4MPEG2";
constexpr char kFrameMarker[] = "FRAME";
constexpr size_t kMaxHeaderLength = 4096;
constexpr int kMaxDimension = 16384;

// Colour spaces with 8-bit 4:2:0 sampling.
bool IsSupportedColorspace(const std::string& c) {
  return c.empty() || c == "420" || c == "420jpeg" || c == "420paldv" || c == "420mpeg2";
}

bool ParsePositiveInt(const std::string& s, int* out) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  *out = std::atoi(s.c_str());
  return *out > 0;
}

}  // namespace

size_t FrameBytes(int width, int height) {
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  return w * h + 2 * cw * ch;
}

bool ParseHeader(const std::string& line, StreamInfo* info, std::string* error) {
  std::istringstream in(line);
  std::string token;
  if (!(in >> token) || token != kMagic) {
    *error = "not a YUV4MPEG2 stream (missing \"YUV4MPEG2\" signature)";
    return false;
  }
  StreamInfo out;
  out.header = line;
  while (in >> token) {
    const char tag = token[0];
    const std::string value = token.substr(1);
    switch (tag) {
      case 'W':
        if (!ParsePositiveInt(value, &out.width) || out.width > kMaxDimension) {
          *error = "bad width \"" + value + "\"";
          return false;
        }
        break;
      case 'H':
        if (!ParsePositiveInt(value, &out.height) || out.height > kMaxDimension) {
          *error = "bad height \"" + value + "\"";
          return false;
        }
        break;
      case 'F': {
        const size_t colon = value.find(':');
        if (colon == std::string::npos ||
            !ParsePositiveInt(value.substr(0, colon), &out.fpsNum) ||
            !ParsePositiveInt(value.substr(colon + 1), &out.fpsDen)) {
          *error = "bad frame rate \"" + value + "\"";
          return false;
        }
        break;
      }
      case 'C':
        out.colorspace = value;
        break;
      case 'I':
      case 'A':
      case 'X':
        break;  // passed through unchanged with the header line
      default:
        *error = "unknown header parameter \"" + token + "\"";
        return false;
    }
  }
  if (out.width == 0 || out.height == 0) {
    *error = "header lacks width or height";
    return false;
  }
  if (!IsSupportedColorspace(out.colorspace)) {
    *error = "unsupported colour space or bit depth \"C" + out.colorspace +
             "\" (only 8-bit 4:2:0 is supported)";
    return false;
  }
  *info = out;
  return true;
}

std::string MakeHeader(int width, int height, int fps_num, int fps_den) {
  std::ostringstream s;
  s << kMagic << " W" << width << " H" << height << " F" << fps_num << ":" << fps_den
    << " Ip A1:1 C420jpeg";
  return s.str();
}

// Reader ------------------------------------------------------------------

Reader::~Reader() {
  if (file_ && owns_) fclose(file_);
}

bool Reader::open(const std::string& path, std::string* error) {
  if (path == "-") {
    file_ = stdin;
    owns_ = false;
  } else {
    file_ = fopen(path.c_str(), "rb");
    owns_ = true;
    if (file_ == nullptr) {
      *error = std::string("cannot open: ") + std::strerror(errno);
      return false;
    }
  }
  std::string line;
  bool eof = false;
  if (!readLine(&line, kMaxHeaderLength, &eof)) {
    *error = line.empty() && eof ? "empty input (no YUV4MPEG2 header)"
                                 : "bad header (no newline within 4096 bytes)";
    return false;
  }
  return ParseHeader(line, &info_, error);
}

bool Reader::readLine(std::string* line, size_t max_length, bool* at_eof) {
  line->clear();
  *at_eof = false;
  for (;;) {
    const int c = fgetc(file_);
    if (c == EOF) {
      *at_eof = true;
      return false;
    }
    if (c == '\n') return true;
    if (line->size() >= max_length) return false;
    line->push_back(static_cast<char>(c));
  }
}

ReadStatus Reader::read(Frame* frame, std::string* error) {
  const int number = frames_ + 1;
  std::string line;
  bool eof = false;
  if (!readLine(&line, kMaxHeaderLength, &eof)) {
    if (eof && line.empty()) return ReadStatus::kEnd;
    *error = "frame " + std::to_string(number) + ": truncated frame header";
    return ReadStatus::kError;
  }
  if (line.compare(0, 5, kFrameMarker) != 0 || (line.size() > 5 && line[5] != ' ')) {
    *error = "frame " + std::to_string(number) + ": frame marker is not \"FRAME\"";
    return ReadStatus::kError;
  }
  const size_t bytes = FrameBytes(info_.width, info_.height);
  frame->header = line;
  frame->data.resize(bytes);
  const size_t got = fread(frame->data.data(), 1, bytes, file_);
  if (got != bytes) {
    *error = "frame " + std::to_string(number) + ": truncated frame (" + std::to_string(got) +
             " of " + std::to_string(bytes) + " bytes)";
    return ReadStatus::kError;
  }
  frames_ = number;
  return ReadStatus::kFrame;
}

// Writer ------------------------------------------------------------------

Writer::~Writer() {
  if (file_ && owns_) fclose(file_);
}

bool Writer::open(const std::string& path, const std::string& header, std::string* error,
                  FILE* stdout_stream) {
  if (path == "-") {
    file_ = stdout_stream ? stdout_stream : stdout;
    owns_ = false;
  } else {
    file_ = fopen(path.c_str(), "wb");
    owns_ = true;
    if (file_ == nullptr) {
      *error = std::string("cannot create: ") + std::strerror(errno);
      return false;
    }
  }
  if (fwrite(header.data(), 1, header.size(), file_) != header.size() || fputc('\n', file_) == EOF) {
    *error = std::string("write failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool Writer::write(const std::string& frame_header, const uint8_t* data, size_t size,
                   std::string* error) {
  if (fwrite(frame_header.data(), 1, frame_header.size(), file_) != frame_header.size() ||
      fputc('\n', file_) == EOF || fwrite(data, 1, size, file_) != size) {
    *error = std::string("write failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool Writer::close(std::string* error) {
  if (file_ == nullptr) return true;
  bool ok = fflush(file_) == 0;
  if (owns_) ok = (fclose(file_) == 0) && ok;
  if (!ok && error) *error = std::string("write failed: ") + std::strerror(errno);
  file_ = nullptr;
  return ok;
}

}  // namespace y4m
