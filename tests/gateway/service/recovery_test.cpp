// recovery_test.cpp - which working names recovery may touch: only those the
// module writes, and only when the claiming thread is gone.
#include "gateway/service/recovery.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>

namespace zz::gateway {
namespace {

std::string work_name(long time, unsigned long thread) {
  char name[64];
  std::snprintf(name, sizeof name, "qmt-%ld-7-%lX.tmp", time, thread);
  return name;
}

TEST(Recovery, OnlyTheModulesWorkingNamesParse) {
  struct Row {
    const char *name;
    bool parses;
  } rows[] = {
      {"qmt-1733450000-3-1A2C.tmp", true},
      {"qmt--5-1-FF.tmp", true},
      {"qmt-1-2-1a2c.tmp", false},
      {"QMT-1-2-3.TMP", false},
      {"qmt-1-2-3-orphan.tmp", false},
      {"qmt-1-2-3.tmp.x", false},
      {"qmt-1-2.tmp", false},
      {"olminfo.txt", false},
  };
  for (const Row &row : rows) {
    long time = 0;
    unsigned long thread = 0;
    EXPECT_EQ(parse_work_name(row.name, &time, &thread), row.parses) << row.name;
  }
  long time = 0;
  unsigned long thread = 0;
  ASSERT_TRUE(parse_work_name("qmt-1733450000-3-1A2C.tmp", &time, &thread));
  EXPECT_EQ(time, 1733450000);
  EXPECT_EQ(thread, 0x1A2Cu);
}

TEST(Recovery, AClaimLivesAsLongAsItsThread) {
  const long now = static_cast<long>(std::time(nullptr));
  const unsigned long self = static_cast<unsigned long>(::gettid());
  unsigned long beyond = 0;
  std::ifstream("/proc/sys/kernel/pid_max") >> beyond;
  EXPECT_TRUE(claimer_alive(work_name(now, self)));
  // Our id, but a claim older than this process: the id was reused.
  EXPECT_FALSE(claimer_alive(work_name(now - 10 * 365 * 86400L, self)));
  EXPECT_FALSE(claimer_alive(work_name(now, beyond + 1)));
  EXPECT_FALSE(claimer_alive("report.txt"));
}

}  // namespace
}  // namespace zz::gateway
