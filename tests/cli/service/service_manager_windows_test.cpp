#include "cli/service/service_manager_windows.h"

#include <gtest/gtest.h>

#include "cli/service/registration.h"

namespace nivalto {
namespace {

// A name of its own, so that the test never touches a real registration.
constexpr const char* TEST_SERVICE = "NivaltoHalUnitTest";

TEST(ServiceManagerWindowsTest, ExecutablePathIsTheRunningProgram) {
  Win32ServiceManager manager;
  const auto path = manager.executable_path();
  ASSERT_TRUE(path) << path.error();
  EXPECT_TRUE(path->ends_with("\\unit_tests.exe")) << *path;
  EXPECT_EQ(path->find('"'), std::string::npos);
}

TEST(ServiceManagerWindowsTest, CreatesOpensAndDeletesAService) {
  Win32ServiceManager manager;
  const auto scm = manager.open_manager(MANAGER_CREATE_SERVICE);
  ASSERT_TRUE(scm) << "code " << scm.error();

  // Left over from an interrupted run.
  if (const auto old = manager.open_service(*scm, TEST_SERVICE, SERVICE_FULL_ACCESS)) {
    (void)manager.delete_service(*old);
    manager.close(*old);
  }

  const ServiceRegistration registration{
      .name = TEST_SERVICE,
      .display_name = "Nivalto essai (accès)",
      .desired_access = SERVICE_FULL_ACCESS,
      .service_type = OWN_PROCESS_SERVICE,
      .start_type = AUTOMATIC_START,
      .error_control = NORMAL_ERROR_CONTROL,
      .command_line = R"("C:\Program Files\Nivalto essai\nivalto.exe" --service)",
  };
  const auto created = manager.create_service(*scm, registration);
  ASSERT_TRUE(created) << "code " << created.error();
  manager.close(*created);

  const auto again = manager.create_service(*scm, registration);
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error(), SERVICE_ALREADY_EXISTS);

  const auto opened = manager.open_service(*scm, TEST_SERVICE, SERVICE_FULL_ACCESS);
  ASSERT_TRUE(opened) << "code " << opened.error();
  EXPECT_TRUE(manager.delete_service(*opened));
  manager.close(*opened);

  const auto gone = manager.open_service(*scm, TEST_SERVICE, SERVICE_FULL_ACCESS);
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error(), 1060U);  // ERROR_SERVICE_DOES_NOT_EXIST
  manager.close(*scm);
}

}  // namespace
}  // namespace nivalto
