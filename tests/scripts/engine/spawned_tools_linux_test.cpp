// The vendor tool runner of the engine's program: what the case table cannot
// reach, a tool that hangs, and the streams it keeps apart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "simulated_devices.h"

namespace nivalto::backlight_engine {
namespace {

using std::chrono::milliseconds;

std::filesystem::path scratch(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("nivalto-spawned-tools-" + std::to_string(::getpid()) + "-" + name);
}

TEST(SpawnedVendorTools, CapturesBothStreamsWithAnEmptyStandardInput) {
  SpawnedVendorTools tools;
  const auto run =
      tools.run("/bin/sh", {"-c", "cat; echo out; echo err >&2; exit 3"}, milliseconds(10'000));
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->standard_output, "out\n");
  EXPECT_EQ(run->standard_error, "err\n");
  EXPECT_EQ(run->exit_code, 3u);
}

TEST(SpawnedVendorTools, EndsAToolAndWhatItStartedOnceTheLimitPasses) {
  const auto marker = scratch("marker");
  SpawnedVendorTools tools;
  const auto started = std::chrono::steady_clock::now();
  // What the tool started holds the output pipe too, and would leave a mark
  // if it outlived the tool.
  const auto run =
      tools.run("/bin/sh", {"-c", "(sleep 2; touch '" + marker.string() + "') & sleep 30"},
                milliseconds(300));
  const auto took = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error().kind, ProcessFailure::Kind::TimedOut);
  EXPECT_LT(took, milliseconds(5'000));
  std::this_thread::sleep_for(milliseconds(2'500));
  EXPECT_FALSE(std::filesystem::exists(marker));
  std::filesystem::remove(marker);
}

TEST(SpawnedVendorTools, AFileThatCannotRunIsNotStarted) {
  const auto file = scratch("not-executable");
  std::ofstream(file) << "MZ\n";
  SpawnedVendorTools tools;
  EXPECT_TRUE(tools.exists(file.string()));
  EXPECT_FALSE(tools.exists(file.parent_path().string()));
  EXPECT_FALSE(tools.exists(file.string() + ".missing"));
  const auto run = tools.run(file.string(), {}, milliseconds(10'000));
  std::filesystem::remove(file);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error().kind, ProcessFailure::Kind::NotStarted);
  EXPECT_FALSE(run.error().description.empty());
}

}  // namespace
}  // namespace nivalto::backlight_engine
