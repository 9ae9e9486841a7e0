// netrun run as a user runs it: its exit status and everything it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace netruntest {

struct Outcome {
  int status;
  std::string output;
};

inline Outcome Netrun(const std::string& args) {
  Outcome o{-1, ""};
  FILE* p = popen((std::string(OXRIN_NETRUN) + " " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return o;
  char buf[512];
  while (fgets(buf, sizeof buf, p) != nullptr) o.output += buf;
  const int st = pclose(p);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return o;
}

}  // namespace netruntest
