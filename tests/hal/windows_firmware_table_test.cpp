#include "nivalto/hal/windows_firmware_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "nivalto/hal/smbios.h"
#include "tests/support/smbios_builder.h"

namespace nivalto {
namespace {

using testing::bytes_of;
using testing::with_rsmb_header;

struct TableCall {
  std::uint32_t signature;
  std::uint32_t id;
  bool has_buffer;
  std::uint32_t size;
  bool operator==(const TableCall&) const = default;
};

// Plays GetSystemFirmwareTable: answers the size query with `announced`, then
// copies `content` into the buffer (as far as it fits) and returns `written`,
// by default the content size.
class FakeFirmware {
 public:
  WindowsFirmwareTable source() {
    return WindowsFirmwareTable(
        [this](std::uint32_t signature, std::uint32_t id, void* buffer, std::uint32_t size) {
          calls.push_back({signature, id, buffer != nullptr, size});
          if (buffer == nullptr) return announced;
          std::memcpy(buffer, content.data(), std::min<std::size_t>(size, content.size()));
          return written.value_or(static_cast<std::uint32_t>(content.size()));
        });
  }

  // Announces exactly the size of `bytes` and writes them all.
  void serve(std::vector<std::byte> bytes) {
    content = std::move(bytes);
    announced = static_cast<std::uint32_t>(content.size());
  }

  std::uint32_t announced = 0;
  std::vector<std::byte> content;
  std::optional<std::uint32_t> written;
  std::vector<TableCall> calls;
};

// An 'RSMB' header with the given length field, followed by `rest`.
std::vector<std::byte> header_with_length(std::uint32_t length, std::size_t rest = 0) {
  std::vector<std::byte> bytes = bytes_of({0x00, 0x03, 0x02, 0x00});
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::byte>((length >> (8 * i)) & 0xFF));
  for (std::size_t i = 0; i < rest; ++i) bytes.push_back(static_cast<std::byte>(0xA0 + i));
  return bytes;
}

const HalError ABSENT = HalError::unavailable("table RSMB absente");
const HalError REFUSED = HalError::access_denied("lecture de la table RSMB refusée");
const HalError SHORT_HEADER = HalError::invalid_data("en-tête RSMB trop court");
const HalError INCOHERENT = HalError::invalid_data("longueur RSMB incohérente");

TEST(WindowsFirmwareTable, QueriesTheSizeThenReadsRsmbTableZeroIntoABufferOfThatSize) {
  FakeFirmware fake;
  const auto table = bytes_of({0x7F, 0x04, 0x00, 0x00, 0x00, 0x00});
  fake.serve(with_rsmb_header(table));
  auto source = fake.source();

  EXPECT_EQ(source.read_smbios_table(), table);
  const std::vector<TableCall> expected = {{0x52534D42, 0, false, 0}, {0x52534D42, 0, true, 14}};
  EXPECT_EQ(fake.calls, expected);
}

TEST(WindowsFirmwareTable, MissingTableIsUnavailableWithoutASecondCall) {
  FakeFirmware fake;
  fake.announced = 0;
  auto source = fake.source();

  EXPECT_EQ(source.read_smbios_table(), std::unexpected(ABSENT));
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_FALSE(fake.calls[0].has_buffer);
}

TEST(WindowsFirmwareTable, FailedOrOversizedReadIsRefusedWithoutRetry) {
  for (const std::uint32_t written : {0u, 17u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(written);
    FakeFirmware fake;
    fake.serve(header_with_length(8, 8));  // 16 bytes announced
    fake.written = written;
    auto source = fake.source();

    EXPECT_EQ(source.read_smbios_table(), std::unexpected(REFUSED));
    EXPECT_EQ(fake.calls.size(), 2u);
  }
}

TEST(WindowsFirmwareTable, FewerThanEightBytesIsAShortHeaderEvenWhenTheLengthIsIncoherent) {
  for (const std::uint32_t written : {1u, 7u}) {
    SCOPED_TRACE(written);
    FakeFirmware fake;
    fake.serve(header_with_length(0xFFFFFFFF, 8));
    fake.written = written;
    auto source = fake.source();

    EXPECT_EQ(source.read_smbios_table(), std::unexpected(SHORT_HEADER));
  }
}

TEST(WindowsFirmwareTable, DeclaredLengthMustFitInTheBytesWritten) {
  for (const std::uint32_t length : {9u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(length);
    FakeFirmware fake;
    fake.serve(header_with_length(length, 8));
    auto source = fake.source();

    EXPECT_EQ(source.read_smbios_table(), std::unexpected(INCOHERENT));
  }
}

TEST(WindowsFirmwareTable, LengthIsMeasuredAgainstWhatWasWrittenNotWhatWasAnnounced) {
  FakeFirmware fake;
  fake.serve(header_with_length(12, 24));  // 32 bytes announced and in the buffer
  fake.written = 16;
  auto source = fake.source();

  EXPECT_EQ(source.read_smbios_table(), std::unexpected(INCOHERENT));
}

TEST(WindowsFirmwareTable, EightBytesWithLengthZeroIsAnEmptyTable) {
  FakeFirmware fake;
  fake.serve(header_with_length(0));
  auto source = fake.source();

  const auto table = source.read_smbios_table();
  ASSERT_TRUE(table.has_value()) << table.error().display();
  EXPECT_TRUE(table->empty());
}

TEST(WindowsFirmwareTable, BytesBeyondTheDeclaredLengthAreDropped) {
  FakeFirmware fake;
  fake.serve(header_with_length(3, 10));
  auto source = fake.source();

  EXPECT_EQ(source.read_smbios_table(), bytes_of({0xA0, 0xA1, 0xA2}));
}

TEST(WindowsFirmwareTable, ALengthFillingEveryWrittenByteIsAccepted) {
  FakeFirmware fake;
  fake.serve(header_with_length(4, 8));
  fake.announced = 64;  // a generous size query; only the written bytes count
  fake.written = 12;
  auto source = fake.source();

  EXPECT_EQ(source.read_smbios_table(), bytes_of({0xA0, 0xA1, 0xA2, 0xA3}));
  EXPECT_EQ(fake.calls.back().size, 64u);
}

TEST(WindowsFirmwareTable, RealRsmbBufferOfASurfaceLaptop) {
  FakeFirmware fake;
  fake.serve(testing::shared_raw_file("smbioslib_jeffgerlap_3_2_0.dat"));
  auto source = fake.source();

  const auto table = source.read_smbios_table();
  ASSERT_TRUE(table.has_value()) << table.error().display();
  EXPECT_EQ(table->size(), 1071u);
  const auto summary = parse_smbios(*table);
  ASSERT_TRUE(summary.has_value()) << summary.error().display();
  EXPECT_EQ(summary->system_product_name, "Surface Laptop 3");
}

}  // namespace
}  // namespace nivalto
