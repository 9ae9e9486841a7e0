// The example networks run on the CPU, in process (so that intermediate
// tensors can be checked against plain computations here) and through
// netrun --device cpu (whose written output must equal the in-process one).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tools/netrun/network.h"
#include "tools/netrun/npy.h"

namespace {

struct Loaded {
  netrun::NetDescription desc;
  netrun::Network net;
  engine::core::RunEnv env;
};

// A byte array as an .npy file (version 1, '|u1').
void WriteBytesNpy(const std::string& path, const netrun::NpyArray& a) {
  std::string header = "{'descr': '|u1', 'fortran_order': False, 'shape': (";
  for (int64_t d : a.shape) header += std::to_string(d) + ", ";
  header += "), }";
  header.append((64 - (10 + header.size() + 1) % 64) % 64, ' ');
  header += '\n';
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const unsigned char lead[10] = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0,
                                  static_cast<unsigned char>(header.size() & 0xFF),
                                  static_cast<unsigned char>(header.size() >> 8)};
  std::fwrite(lead, 1, 10, f);
  std::fwrite(header.data(), 1, header.size(), f);
  std::fwrite(a.u8.data(), 1, a.u8.size(), f);
  std::fclose(f);
}

// Builds an example, gives its first input deterministic values and runs it.
void RunExample(const std::string& file, Loaded* l, std::string* input_npy) {
  std::string error;
  ASSERT_TRUE(netrun::LoadNetDescription(std::string(OXRIN_EXAMPLES_DIR) + "/" + file, &l->desc, &error)) << error;
  ASSERT_TRUE(l->net.Build(l->desc, &error)) << error;
  engine::Tensor& in = l->net.tensors[l->net.input_names[0]];
  std::mt19937 rng(17);
  netrun::NpyArray a;
  a.shape = {in.n, in.h, in.w, in.c};
  a.is_u8 = in.host_u8 != nullptr;
  std::uniform_real_distribution<float> u(-1.f, 1.f);
  for (size_t i = 0; i < in.elements(); ++i) {
    if (a.is_u8) a.u8.push_back(static_cast<uint8_t>(rng() & 0xFF));
    else a.f32.push_back(u(rng));
  }
  ASSERT_TRUE(l->net.SetInput(a, &error)) << error;
  *input_npy = testing::TempDir() + "/example_in_" + std::to_string(getpid()) + "_" + file + ".npy";
  if (a.is_u8) {
    WriteBytesNpy(*input_npy, a);
  } else {
    ASSERT_TRUE(netrun::WriteNpy(*input_npy, a.shape, a.f32.data(), &error)) << error;
  }
  ASSERT_TRUE(l->net.Reshape(l->env, &error)) << error;
  ASSERT_TRUE(l->net.Run(l->env, &error)) << error;
}

std::vector<double> Values(const engine::Tensor& t) {
  return std::vector<double>(t.host_data, t.host_data + t.elements());
}

void Near(const std::vector<double>& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], want[i], tol) << "value " << i;
}

// netrun's written output for the same input, or an empty vector.
std::vector<double> CliOutput(const std::string& file, const std::string& input_npy) {
  const std::string out = testing::TempDir() + "/example_out_" + std::to_string(getpid()) + "_" + file + ".npy";
  std::string cmd = std::string(OXRIN_NETRUN) + " " + OXRIN_EXAMPLES_DIR + "/" + file +
                    " --device cpu --output " + out + " > /dev/null";
  if (!input_npy.empty()) cmd += " --input " + input_npy;
  netrun::NpyArray a;
  std::string error;
  if (std::system(cmd.c_str()) != 0 || !netrun::ReadNpy(out, &a, &error)) return {};
  std::remove(out.c_str());
  return std::vector<double>(a.f32.begin(), a.f32.end());
}

TEST(ExampleNetworks, ClassifierProbabilities) {
  Loaded l;
  std::string input_npy;
  RunExample("classifier.json", &l, &input_npy);
  engine::TensorMap& t = l.net.tensors;
  const engine::Tensor& prob = t["prob"];
  ASSERT_EQ(prob.n * prob.h * prob.w, 1);
  ASSERT_EQ(prob.c, 10);
  const std::vector<double> p = Values(prob);
  double sum = 0;
  for (double v : p) {
    ASSERT_TRUE(std::isfinite(v) && v > 0 && v < 1) << v;
    sum += v;
  }
  EXPECT_NEAR(sum, 1.0, 1e-5);

  // cat1 = (a1, bb1) per pixel; g1 its mean over the pixels; prob the
  // softmax of fc_w g1 + fc_b.
  const std::vector<double> a1 = Values(t["a1"]), bb1 = Values(t["bb1"]), cat = Values(t["cat1"]);
  std::vector<double> want_cat, mean(16, 0.0);
  for (size_t px = 0; px < 64; ++px) {
    want_cat.insert(want_cat.end(), a1.begin() + px * 8, a1.begin() + px * 8 + 8);
    want_cat.insert(want_cat.end(), bb1.begin() + px * 8, bb1.begin() + px * 8 + 8);
    for (int k = 0; k < 16; ++k) mean[k] += cat[px * 16 + k] / 64;
  }
  Near(cat, want_cat, 0);
  Near(Values(t["f1"]), mean, 1e-5);
  const std::vector<double> w = Values(l.net.weights["fc_w"]), b = Values(l.net.weights["fc_b"]);
  std::vector<double> e(10);
  double z = 0;
  for (int i = 0; i < 10; ++i) {
    double s = b[i];
    for (int k = 0; k < 16; ++k) s += w[i * 16 + k] * mean[k];
    z += e[i] = std::exp(s);
  }
  for (double& v : e) v /= z;
  Near(p, e, 1e-5);
  Near(CliOutput("classifier.json", input_npy), p, 0);
  std::remove(input_npy.c_str());
}

TEST(ExampleNetworks, SegmenterMask) {
  Loaded l;
  std::string input_npy;
  RunExample("segmenter.json", &l, &input_npy);
  engine::TensorMap& t = l.net.tensors;
  const engine::Tensor& mask = t["mask"];
  ASSERT_EQ(mask.n, 1);
  ASSERT_EQ(mask.h, 24);
  ASSERT_EQ(mask.w, 32);
  ASSERT_EQ(mask.c, 1);
  // mask = sigmoid of the logit repeated over 2x2 blocks (nearest, x2).
  const std::vector<double> logit = Values(t["logit"]), m = Values(mask);
  std::vector<double> want(m.size());
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) want[y * 32 + x] = 1 / (1 + std::exp(-logit[(y / 2) * 16 + x / 2]));
  Near(m, want, 1e-6);
  for (double v : m) ASSERT_TRUE(std::isfinite(v) && v > 0 && v < 1) << v;
  // The skip joins the first encoder's 8 channels and the resized 16.
  const std::vector<double> e1 = Values(t["e1"]), u1 = Values(t["u1"]), skip = Values(t["skip"]);
  for (size_t px = 0; px < 12 * 16; ++px)
    for (int k = 0; k < 24; ++k)
      ASSERT_EQ(skip[px * 24 + k], k < 8 ? e1[px * 8 + k] : u1[px * 16 + k - 8]);
  Near(CliOutput("segmenter.json", input_npy), m, 0);
  std::remove(input_npy.c_str());
}

// The same two networks written out in numpy (examples/check_examples.py)
// against netrun's outputs; skipped where Python has no numpy.
TEST(ExampleNetworks, AgreeWithNumpyModels) {
  std::string python;
  for (const char* candidate : {"python3", "/usr/bin/python3"})
    if (std::system((std::string(candidate) + " -c 'import numpy' > /dev/null 2>&1").c_str()) == 0) {
      python = candidate;
      break;
    }
  if (python.empty()) GTEST_SKIP() << "no python3 with numpy";
  const std::string cmd = python + " " + OXRIN_EXAMPLES_DIR + "/check_examples.py " +
                          OXRIN_NETRUN + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  EXPECT_EQ(pclose(p), 0) << out;
}

}  // namespace
