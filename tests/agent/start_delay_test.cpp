#include "agent/start_delay.h"

#include <gtest/gtest.h>

namespace mb {
namespace {

TEST(StartDelay, SecondsAfterDashD) {
  EXPECT_EQ(StartIntervalMs("-d 5"), 5000);
  EXPECT_EQ(StartIntervalMs("-d5"), 5000);
  EXPECT_EQ(StartIntervalMs("-d  5"), 5000);
  EXPECT_EQ(StartIntervalMs("-d 32"), 32000);
}

TEST(StartDelay, EveryDashDRemovedAndSpacesDropped) {
  EXPECT_EQ(StartIntervalMs("-d 1 -d 2"), 12000);
}

TEST(StartDelay, FractionsRoundHalfToEven) {
  EXPECT_EQ(StartIntervalMs("-d 2.5"), 2000);
  EXPECT_EQ(StartIntervalMs("-d 3.5"), 4000);
  EXPECT_EQ(StartIntervalMs("-d 1.4"), 1000);
}

TEST(StartDelay, AnythingElseGivesTheDefault) {
  for (const char* args : {"", "-D 5", "/d 5", "-dx", "x -d 5", "-d", "-d 5x", "-d 1e3"}) {
    EXPECT_EQ(StartIntervalMs(args), kDefaultStartIntervalMs) << args;
  }
}

TEST(StartDelay, ZeroNegativeDefaultLargeClamped) {
  EXPECT_EQ(StartIntervalMs("-d 0"), kDefaultStartIntervalMs);
  EXPECT_EQ(StartIntervalMs("-d 0.4"), kDefaultStartIntervalMs);
  EXPECT_EQ(StartIntervalMs("-d -5"), kDefaultStartIntervalMs);
  EXPECT_EQ(StartIntervalMs("-d 33"), 33000);
  EXPECT_EQ(StartIntervalMs("-d 99999999"), kMaxStartDelaySeconds * 1000);
}

}  // namespace
}  // namespace mb
