#include "jnd/jnd_filter_cpu.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/cpu_features.h"

namespace jnd {

namespace {

constexpr char kNotInitialisedUpdate[] = "Not Initialized!(in update_net_paras)";
constexpr char kNotInitialisedProcess[] = "Not Initialized!(in process)";
constexpr char kNullPlane[] = "JND CPU filter: null source or destination plane";
constexpr char kBadSize[] = "JND CPU filter: width and height must be at least 1";
constexpr char kBadStride[] = "JND CPU filter: stride is smaller than the width";
constexpr char kTooLarge[] = "JND CPU filter: plane too large";
constexpr char kBadThreads[] = "JND CPU filter: thread count outside 1..64";

// Fewest rows a band gets: each band recomputes three rows of its
// neighbours, so thin bands waste work.
constexpr int kMinBandRows = 16;
// Rows of the neighbouring bands that one band reads: three above, three
// below.
constexpr int kHaloRows = 6;

// Fraction bits for an output channel whose largest weight magnitude is
// `peak`: as many as keep every weight within 16 bits, at most 15.
int FractionBits(double peak) {
  int bits = 15;
  while (bits > 0 && peak * std::ldexp(1.0, bits) > 32767.0) --bits;
  return bits;
}

// Fraction bits of a conv1 channel, whose weights have a coarse part
// within 16 bits and a fine part: as many as keep the coarse parts within
// 16 bits and any sum of nine taps of bytes, with the bias, within 31
// bits.
int Conv1FractionBits(const double* w, double bias) {
  double peak = 0, total = std::fabs(bias);
  for (int t = 0; t < 9; ++t) {
    peak = std::max(peak, std::fabs(w[t]));
    total += 255.0 * std::fabs(w[t]);
  }
  int bits = 22;
  while (bits > 0 && (peak * std::ldexp(1.0, bits) > 32767.0 * kJndCpuInputScale ||
                      (total + 1.0) * std::ldexp(1.0, bits) > 2.0e9))
    --bits;
  return bits;
}

double Finite(float v) { return std::isfinite(v) ? static_cast<double>(v) : 0.0; }

int FixedWeight(double v, int bits) {
  const double scaled = std::nearbyint(v * std::ldexp(1.0, bits));
  return static_cast<int>(std::min(32767.0, std::max(-32767.0, scaled)));
}

// Bias in the layer's fixed point plus the rounding half of its shift,
// bounded so that no sum of 36 taps can leave 32 bits.
int32_t FixedBias(double v, int bits) {
  constexpr double kLimit = 1.5e9;
  const double scaled = std::nearbyint(v * std::ldexp(1.0, bits));
  const double half = bits > 0 ? std::ldexp(1.0, bits - 1) : 0.0;
  return static_cast<int32_t>(std::min(kLimit, std::max(-kLimit, scaled)) + half);
}

// 64-byte aligned start of a word buffer allocated with 16 spare words.
int32_t* Aligned(std::vector<int32_t>& v) {
  const uintptr_t p = reinterpret_cast<uintptr_t>(v.data());
  return reinterpret_cast<int32_t*>((p + 63) & ~static_cast<uintptr_t>(63));
}

}  // namespace

JndFixedNet QuantiseJndNet(const JNDNetWeights& w) {
  JndFixedNet n{};
  // Real-valued weights of the byte-to-byte maps (see jnd_cpu_kernels.h).
  double w1[36], w2[144], w3[36];
  double peak3 = 0;
  for (int i = 0; i < 36; ++i) {
    w1[i] = Finite(w.conv1Weights[i]) / 2.0;
    w3[i] = Finite(w.conv3Weights[i]) * 2.0;
    peak3 = std::max(peak3, std::fabs(w3[i]));
  }
  for (int i = 0; i < 144; ++i) w2[i] = Finite(w.conv2Weights[i]);
  auto peak = [](const double* v, int n) {
    double m = 0;
    for (int i = 0; i < n; ++i) m = std::max(m, std::fabs(v[i]));
    return m;
  };
  n.shift3 = FractionBits(peak3);
  for (int oc = 0; oc < 4; ++oc) {
    const int s1 = n.shift1[oc] =
        Conv1FractionBits(w1 + oc * 9, 127.5 * Finite(w.conv1Bias[oc]));
    const int s2 = n.shift2[oc] = FractionBits(peak(w2 + oc * 36, 36));
    for (int t = 0; t < 9; ++t) {
      const double scaled = std::nearbyint(w1[oc * 9 + t] * std::ldexp(1.0, s1));
      const double coarse = std::nearbyint(scaled / kJndCpuInputScale);
      n.c1[oc][t] = JndPair(static_cast<int>(coarse),
                            static_cast<int>(scaled - coarse * kJndCpuInputScale));
    }
    n.b1[oc] = FixedBias(127.5 * Finite(w.conv1Bias[oc]), s1);
    for (int t = 0; t < 9; ++t) {
      auto at = [&](int ic) { return FixedWeight(w2[(oc * 4 + ic) * 9 + t], s2); };
      n.c2[oc][t][0] = JndPair(at(0), at(1));
      n.c2[oc][t][1] = JndPair(at(2), at(3));
    }
    n.b2[oc] = FixedBias(127.5 * Finite(w.conv2Bias[oc]), s2);
  }
  for (int t = 0; t < 9; ++t) {
    auto at = [&](int ic) { return FixedWeight(w3[ic * 9 + t], n.shift3); };
    n.c3[t][0] = JndPair(at(0), at(1));
    n.c3[t][1] = JndPair(at(2), at(3));
  }
  n.b3 = FixedBias(255.0 * Finite(w.conv3Bias[0]), n.shift3);
  return n;
}

std::vector<const JndCpuKernels*> JndCpuPaths() {
  const platform::CpuFeatures& f = platform::GetCpuFeatures();
  std::vector<const JndCpuKernels*> paths{&kJndCpuScalar};
  if (f.avx2 && JndCpuAvx2Kernels()) paths.push_back(JndCpuAvx2Kernels());
  if (f.avx512bw && JndCpuAvx512Kernels()) paths.push_back(JndCpuAvx512Kernels());
  if (f.avx512vnni && JndCpuAvx512VnniKernels()) paths.push_back(JndCpuAvx512VnniKernels());
  return paths;
}

const JndCpuKernels& JndCpuBestPath() {
  static const JndCpuKernels* best = JndCpuPaths().back();
  return *best;
}

const JndCpuKernels* JndCpuPathNamed(const std::string& name) {
  for (const JndCpuKernels* k : JndCpuPaths())
    if (name == k->name) return k;
  return nullptr;
}

// A fixed set of threads that run the bands of one frame beside the
// calling thread.  run() hands out band indices until none are left and
// returns when all are done; it allocates nothing.
class JndThreadPool {
 public:
  using Job = void (*)(void* context, int index);

  explicit JndThreadPool(int extraThreads) {
    for (int i = 0; i < extraThreads; ++i) {
      try {
        threads_.emplace_back([this] { serve(); });
      } catch (const std::system_error&) {
        break;  // the threads that did start share the work
      }
    }
  }

  ~JndThreadPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  int size() const { return static_cast<int>(threads_.size()); }

  void run(int count, Job job, void* context) {
    {
      // A thread still leaving the previous frame's work reads the job
      // fields: wait for it before they change.
      std::unique_lock<std::mutex> lock(mutex_);
      idle_.wait(lock, [this] { return working_ == 0; });
      job_ = job;
      context_ = context;
      count_ = count;
      next_.store(0);
      pending_ = count;
      ++generation_;
    }
    wake_.notify_all();
    work();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void serve() {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
        if (quit_) return;
        seen = generation_;
        ++working_;
      }
      work();
      std::lock_guard<std::mutex> lock(mutex_);
      if (--working_ == 0) idle_.notify_all();
    }
  }

  // Takes indices until none are left.
  void work() {
    int finished = 0;
    for (int i = next_.fetch_add(1); i < count_; i = next_.fetch_add(1)) {
      job_(context_, i);
      ++finished;
    }
    if (finished == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ -= finished;
    if (pending_ == 0) done_.notify_all();
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_, idle_;
  bool quit_ = false;
  int working_ = 0;  // pool threads inside work()
  uint64_t generation_ = 0;
  Job job_ = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
  int pending_ = 0;
  std::atomic<int> next_{0};
};

// The rows one band computes and the buffers it computes them in: three
// rows each (a ring indexed by row modulo 3) of the input words, the conv1
// and the conv2 activations, one byte row padded with its last pixel, and the input rows
// of other bands that it reads when the frame is filtered in place.
struct JndFilterCpu::Band {
  int y0 = 0, y1 = 0;
  std::vector<int32_t> words;  // 15 rows of rowWords, 64-byte aligned
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> halo;   // kHaloRows rows of the frame width
  int haloRow[kHaloRows] = {};  // frame row held by each halo row, -1 none
  int rowWords = 0;

  int32_t* row(int buffer, int slot) {
    return Aligned(words) + static_cast<size_t>(buffer * 3 + slot) * rowWords + kJndCpuPad;
  }
};

namespace {
enum BandBuffer { kE, kA1Low, kA1High, kA2Low, kA2High, kBandBuffers };
}  // namespace

JndFilterCpu::JndFilterCpu() : path_(&JndCpuBestPath()) {}

JndFilterCpu::~JndFilterCpu() { release(); }

bool JndFilterCpu::initialise(const JNDNetWeights& weights, int threads,
                              const JndCpuKernels* path) {
  release();
  if (threads < 1 || threads > kJndCpuMaxThreads) {
    fail(kBadThreads);
    return false;
  }
  path_ = path != nullptr ? path : &JndCpuBestPath();
  if (threads > 1) pool_.reset(new JndThreadPool(threads - 1));
  initialised_ = true;
  net_ = QuantiseJndNet(weights);
  return true;
}

bool JndFilterCpu::release() {
  pool_.reset();
  bands_.clear();
  bands_.shrink_to_fit();
  staging_ = std::vector<uint8_t>();
  width_ = height_ = stride_ = 0;
  initialised_ = false;
  return true;
}

int JndFilterCpu::threads() const { return 1 + (pool_ ? pool_->size() : 0); }

bool JndFilterCpu::update_net_paras(const JNDNetWeights& weights) {
  if (!initialised_) {
    fail(kNotInitialisedUpdate);
    return false;
  }
  net_ = QuantiseJndNet(weights);
  return true;
}

void JndFilterCpu::setUpGeometry(int width, int height, int stride, size_t stagingBytes) {
  if (stagingBytes > 0 && staging_.size() != stagingBytes) staging_.assign(stagingBytes, 0);
  if (width == width_ && height == height_ && stride == stride_) return;

  const int bands = std::max(1, std::min(threads(), (height + kMinBandRows - 1) / kMinBandRows));
  const int rowWords = JndCpuRowWords(width);
  bands_.assign(static_cast<size_t>(bands), Band());
  for (int b = 0; b < bands; ++b) {
    Band& band = bands_[static_cast<size_t>(b)];
    band.y0 = static_cast<int>(static_cast<int64_t>(height) * b / bands);
    band.y1 = static_cast<int>(static_cast<int64_t>(height) * (b + 1) / bands);
    band.rowWords = rowWords;
    // Zeroed so that the columns beyond the width, which the vector paths
    // compute and never store, start from defined values.
    band.words.assign(static_cast<size_t>(kBandBuffers) * 3 * rowWords + 16, 0);
    band.bytes.assign(static_cast<size_t>(rowWords) * 4, 0);
    if (bands > 1) band.halo.assign(static_cast<size_t>(kHaloRows) * width, 0);
  }
  width_ = width;
  height_ = height;
  stride_ = stride;
}

// Keeps the input rows of other bands that this band reads, before any
// band overwrites them.
void JndFilterCpu::saveHalo(int index, const uint8_t* src) {
  Band& band = bands_[static_cast<size_t>(index)];
  const int rows[kHaloRows] = {band.y0 - 3, band.y0 - 2, band.y0 - 1,
                               band.y1,     band.y1 + 1, band.y1 + 2};
  for (int i = 0; i < kHaloRows; ++i) {
    const int y = rows[i];
    const bool outside = y >= 0 && y < height_ && (y < band.y0 || y >= band.y1);
    band.haloRow[i] = outside ? y : -1;
    if (outside)
      std::memcpy(band.halo.data() + static_cast<size_t>(i) * width_,
                  src + static_cast<size_t>(y) * stride_, static_cast<size_t>(width_));
  }
}

void JndFilterCpu::runBand(int index, const uint8_t* src, uint8_t* dst, bool inPlace) {
  Band& band = bands_[static_cast<size_t>(index)];
  const int w = width_, h = height_;
  const JndCpuKernels& k = *path_;
  auto clampRow = [h](int y) { return std::min(std::max(y, 0), h - 1); };
  auto slot = [](int y) { return y % 3; };

  auto inputRow = [&](int y) -> const uint8_t* {
    if (inPlace && bands_.size() > 1 && (y < band.y0 || y >= band.y1)) {
      for (int i = 0; i < kHaloRows; ++i)
        if (band.haloRow[i] == y) return band.halo.data() + static_cast<size_t>(i) * w;
    }
    return src + static_cast<size_t>(y) * stride_;
  };
  auto edges = [w](int32_t* row) {
    row[-1] = row[0];
    row[w] = row[w - 1];
  };
  // Input row y as words, through the padded byte row.
  auto prepareInput = [&](int y) {
    const uint8_t* p = inputRow(y);
    uint8_t* bytes = band.bytes.data();
    std::memcpy(bytes, p, static_cast<size_t>(w));
    std::memset(bytes + w, p[w - 1], band.bytes.size() - static_cast<size_t>(w));
    int32_t* e = band.row(kE, slot(y));
    k.input_row(bytes, w, e);
    edges(e);
  };
  auto three = [&](int buffer, int y, const int32_t* out[3]) {
    for (int ky = 0; ky < 3; ++ky) out[ky] = band.row(buffer, slot(clampRow(y + ky - 1)));
  };

  // Row t of conv1, row t - 1 of conv2 and row t - 2 of the output at each
  // step; a band computes two conv1 rows and one conv2 row of each
  // neighbour so that its own rows see the same values as a whole frame.
  const int first1 = std::max(band.y0 - 2, 0), last1 = std::min(band.y1 + 1, h - 1);
  const int first2 = std::max(band.y0 - 1, 0), last2 = std::min(band.y1, h - 1);
  int nextInput = std::max(first1 - 1, 0);
  const int32_t* r0[3];
  const int32_t* r1[3];
  for (int t = first1; t <= band.y1 + 1; ++t) {
    if (t <= last1) {
      for (; nextInput <= std::min(t + 1, h - 1); ++nextInput) prepareInput(nextInput);
      three(kE, t, r0);
      int32_t* lo = band.row(kA1Low, slot(t));
      int32_t* hi = band.row(kA1High, slot(t));
      k.conv1_row(r0, net_, w, lo, hi);
      edges(lo);
      edges(hi);
    }
    const int t2 = t - 1;
    if (t2 >= first2 && t2 <= last2) {
      three(kA1Low, t2, r0);
      three(kA1High, t2, r1);
      int32_t* lo = band.row(kA2Low, slot(t2));
      int32_t* hi = band.row(kA2High, slot(t2));
      k.conv2_row(r0, r1, net_, w, lo, hi);
      edges(lo);
      edges(hi);
    }
    const int t3 = t - 2;
    if (t3 >= band.y0 && t3 < band.y1) {
      three(kA2Low, t3, r0);
      three(kA2High, t3, r1);
      k.conv3_row(r0, r1, net_, w, dst + static_cast<size_t>(t3) * stride_);
    }
  }
}

bool JndFilterCpu::process(const uint8_t* src, uint8_t* dst, int width, int height, int stride,
                           bool finish) {
  (void)finish;  // every frame is complete when process returns
  if (!initialised_) {
    fail(kNotInitialisedProcess);
    return false;
  }
  if (src == nullptr || dst == nullptr) {
    fail(kNullPlane);
    return false;
  }
  if (width < 1 || height < 1) {
    fail(kBadSize);
    return false;
  }
  if (stride < width) {
    fail(kBadStride);
    return false;
  }
  if (JndCpuRowWords(width) > (1 << 26) || static_cast<uint64_t>(stride) * height > (1ull << 40)) {
    fail(kTooLarge);
    return false;
  }
  const size_t span = static_cast<size_t>(stride) * static_cast<size_t>(height - 1) +
                      static_cast<size_t>(width);
  const bool inPlace = src == dst;
  const uintptr_t s0 = reinterpret_cast<uintptr_t>(src), d0 = reinterpret_cast<uintptr_t>(dst);
  const bool overlap = !inPlace && s0 < d0 + span && d0 < s0 + span;
  setUpGeometry(width, height, stride, overlap ? span : 0);
  if (overlap) {
    std::memcpy(staging_.data(), src, span);
    src = staging_.data();
  }

  struct Frame {
    JndFilterCpu* self;
    const uint8_t* src;
    uint8_t* dst;
    bool inPlace;
  } frame{this, src, dst, inPlace};
  const int bands = static_cast<int>(bands_.size());
  if (bands == 1) {
    runBand(0, src, dst, inPlace);
    return true;
  }
  if (inPlace) {
    pool_->run(
        bands,
        [](void* c, int i) {
          auto* f = static_cast<Frame*>(c);
          f->self->saveHalo(i, f->src);
        },
        &frame);
  }
  pool_->run(
      bands,
      [](void* c, int i) {
        auto* f = static_cast<Frame*>(c);
        f->self->runBand(i, f->src, f->dst, f->inPlace);
      },
      &frame);
  return true;
}

}  // namespace jnd
