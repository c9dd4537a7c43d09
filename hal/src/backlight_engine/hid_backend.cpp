// The standard HID keyboard backlight: the first present HID interface whose
// collection is Consumer / Keyboard Backlight and that has a Set Level value
// in its output or feature reports.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "nivalto/hal/backlight_engine/backends.h"
#include "nivalto/hal/backlight_engine/guards.h"

namespace nivalto::backlight_engine {
namespace {

constexpr std::uint16_t USAGE_PAGE_CONSUMER = 0x0C;
constexpr std::uint16_t USAGE_KEYBOARD_BACKLIGHT = 0x07;
constexpr std::uint16_t USAGE_SET_LEVEL = 0x7B;
constexpr int REPORT_TYPE_OUTPUT = 1;
constexpr int REPORT_TYPE_FEATURE = 2;

constexpr std::uint32_t PRESENT_INTERFACES = 0x02 | 0x10;  // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE
constexpr std::uint32_t READ_WRITE_ACCESS = 0x80000000 | 0x40000000;
constexpr std::uint32_t SHARE_READ_WRITE = 1 | 2;
constexpr std::uint32_t OPEN_EXISTING_DISPOSITION = 3;
constexpr std::uint32_t NORMAL_ATTRIBUTES = 0x80;

// A device path is at most 32767 UTF-16 units, after the 4-byte size field
// and with its terminator; a larger size asked for is not believed.
constexpr std::uint32_t MAX_INTERFACE_DETAIL_SIZE = 4 + 2 * 32768;
// Far more HID interfaces than any machine has; an enumeration that never
// ends is not followed further.
constexpr std::uint32_t MAX_HID_INTERFACES = 4096;

// ---- structure layouts: published x64 offsets, lengths checked by callers

std::uint16_t u16_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::int32_t i32_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::int32_t>(bytes[offset] | (bytes[offset + 1] << 8) |
                                   (bytes[offset + 2] << 16) |
                                   (static_cast<std::uint32_t>(bytes[offset + 3]) << 24));
}

// The fields of HIDP_CAPS that matter here.
struct Caps {
  std::uint16_t usage = 0;
  std::uint16_t usage_page = 0;
  std::uint16_t output_length = 0;
  std::uint16_t feature_length = 0;
  std::uint16_t output_value_count = 0;
  std::uint16_t feature_value_count = 0;
};

Caps parse_caps(std::span<const std::uint8_t, HIDP_CAPS_SIZE> bytes) {
  return Caps{u16_at(bytes, 0), u16_at(bytes, 2),  u16_at(bytes, 6),
              u16_at(bytes, 8), u16_at(bytes, 54), u16_at(bytes, 60)};
}

// The fields of one HIDP_VALUE_CAPS that matter here.
struct ValueCaps {
  std::uint16_t usage_page = 0;
  std::uint8_t report_id = 0;
  bool is_range = false;
  std::int32_t logical_min = 0;
  std::int32_t logical_max = 0;
  std::uint16_t usage_min = 0;
  std::uint16_t usage_max = 0;
};

ValueCaps parse_value_caps(std::span<const std::uint8_t> record) {
  ValueCaps value;
  value.usage_page = u16_at(record, 0);
  value.report_id = record[2];
  value.is_range = record[12] != 0;
  value.logical_min = i32_at(record, 40);
  value.logical_max = i32_at(record, 44);
  value.usage_min = u16_at(record, 56);
  // Outside a range the other half of the union holds whatever the stack
  // left there.
  value.usage_max = value.is_range ? u16_at(record, 58) : value.usage_min;
  return value;
}

bool is_set_level(const ValueCaps& value) {
  if (value.usage_page != USAGE_PAGE_CONSUMER) return false;
  if (value.is_range)
    return value.usage_min <= USAGE_SET_LEVEL && USAGE_SET_LEVEL <= value.usage_max;
  return value.usage_min == USAGE_SET_LEVEL;
}

// The first Set Level value among the first `count` records of `buffer`,
// never reading past its end.
std::optional<ValueCaps> find_set_level(std::span<const std::uint8_t> buffer, std::size_t count) {
  for (std::size_t i = 0; i < count && (i + 1) * HIDP_VALUE_CAPS_SIZE <= buffer.size(); ++i) {
    const ValueCaps value =
        parse_value_caps(buffer.subspan(i * HIDP_VALUE_CAPS_SIZE, HIDP_VALUE_CAPS_SIZE));
    if (is_set_level(value)) return value;
  }
  return std::nullopt;
}

// ---- level arithmetic, in the script's own terms ---------------------------

int max_level(std::int32_t minimum, std::int32_t maximum) {
  return std::int64_t{maximum} > std::int64_t{minimum} + 1 ? 2 : 1;
}

int normalize(std::int32_t raw, std::int32_t minimum, std::int32_t maximum) {
  if (raw <= 0) return 0;
  if (raw <= minimum && minimum <= 0) return 0;
  if (max_level(minimum, maximum) == 1) return 1;
  const double threshold =
      minimum + (static_cast<double>(maximum) - static_cast<double>(minimum)) * 2.0 / 3.0;
  return raw >= threshold ? 2 : 1;
}

std::int32_t raw_for(int level, std::int32_t minimum, std::int32_t maximum) {
  if (level <= 0) return (minimum <= 0 && 0 <= maximum) ? 0 : minimum;
  if (max_level(minimum, maximum) == 1) return maximum;
  if (level == 1) {
    // 40 % of the range, truncated toward zero, but always above the
    // minimum so that level 1 never reads back as off. The range is below
    // 2^32, so the product fits and truncates exactly.
    const auto step = static_cast<std::int64_t>(
        std::trunc((static_cast<double>(maximum) - static_cast<double>(minimum)) * 0.4));
    return static_cast<std::int32_t>(
        std::max(std::int64_t{minimum} + 1, std::int64_t{minimum} + step));
  }
  return maximum;
}

// ---- texts -----------------------------------------------------------------

std::string signed_text(std::uint32_t value) {
  return std::to_string(static_cast<std::int32_t>(value));
}

// Capital hexadecimal; a negative status as its 32-bit two's complement.
std::string status_text(HidStatus status) {
  std::array<char, 16> hex{};
  std::snprintf(hex.data(), hex.size(), "%X", static_cast<unsigned>(status));
  return hex.data();
}

// ---- device access ---------------------------------------------------------

struct Device {
  std::u16string path;
  std::uint16_t output_length = 0;
  std::uint16_t feature_length = 0;
  std::uint8_t report_id = 0;
  std::uint8_t feature_report_id = 0;
  bool has_output = false;
  bool has_feature = false;
  std::int32_t logical_min = 0;
  std::int32_t logical_max = 0;
  std::int32_t feature_logical_min = 0;
  std::int32_t feature_logical_max = 0;
};

struct Reading {
  std::int32_t value = 0;
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  bool ok = false;
};

std::expected<DeviceHandle, SystemError> open_device(DeviceFiles& files, std::u16string_view path) {
  const auto opened = files.open(path, READ_WRITE_ACCESS, SHARE_READ_WRITE,
                                 OPEN_EXISTING_DISPOSITION, NORMAL_ATTRIBUTES);
  if (!opened) return std::unexpected(opened.error());
  return DeviceHandle(files, *opened);
}

std::expected<PreparsedData, SystemError> preparsed_of(HidCalls& hid, const DeviceHandle& device) {
  const auto preparsed = hid.preparsed_data(device.get());
  if (!preparsed) return std::unexpected(preparsed.error());
  return PreparsedData(hid, *preparsed);
}

// A zeroed report whose first byte names the report when it has an id.
std::vector<std::uint8_t> new_report(std::uint16_t length, std::uint8_t report_id) {
  std::vector<std::uint8_t> report(length);
  if (report_id != 0 && length > 0) report[0] = report_id;
  return report;
}

std::optional<ValueCaps> find_value(HidCalls& hid, const PreparsedData& preparsed, int report_type,
                                    std::uint16_t count) {
  if (count == 0) return std::nullopt;
  std::vector<std::uint8_t> buffer(std::size_t{count} * HIDP_VALUE_CAPS_SIZE);
  std::uint16_t filled = count;
  if (hid.value_caps(report_type, buffer, filled, preparsed.get()) != HID_STATUS_SUCCESS) {
    return std::nullopt;
  }
  return find_set_level(buffer, std::min(filled, count));
}

std::optional<Device> describe(std::u16string path, const Caps& caps,
                               const std::optional<ValueCaps>& output,
                               const std::optional<ValueCaps>& feature) {
  if (!output && !feature) return std::nullopt;
  Device device;
  device.path = std::move(path);
  device.has_output = output.has_value();
  device.has_feature = feature.has_value();
  device.output_length = caps.output_length;
  device.feature_length = caps.feature_length;
  if (output) {
    device.report_id = output->report_id;
    device.logical_min = output->logical_min;
    device.logical_max = output->logical_max;
  }
  if (feature) {
    device.feature_report_id = feature->report_id;
    device.feature_logical_min = feature->logical_min;
    device.feature_logical_max = feature->logical_max;
    if (!output) {
      device.logical_min = feature->logical_min;
      device.logical_max = feature->logical_max;
    }
  }
  return device;
}

// The keyboard backlight behind `path`, or nothing when it is not one.
std::optional<Device> probe(BacklightDevices& devices, std::u16string path) {
  const auto device = open_device(devices.files, path);
  if (!device) return std::nullopt;
  const auto preparsed = preparsed_of(devices.hid, *device);
  if (!preparsed) return std::nullopt;
  std::array<std::uint8_t, HIDP_CAPS_SIZE> buffer{};
  if (devices.hid.caps(preparsed->get(), buffer) != HID_STATUS_SUCCESS) return std::nullopt;
  const Caps caps = parse_caps(buffer);
  if (caps.usage_page != USAGE_PAGE_CONSUMER || caps.usage != USAGE_KEYBOARD_BACKLIGHT) {
    return std::nullopt;
  }
  const auto output =
      find_value(devices.hid, *preparsed, REPORT_TYPE_OUTPUT, caps.output_value_count);
  const auto feature =
      find_value(devices.hid, *preparsed, REPORT_TYPE_FEATURE, caps.feature_value_count);
  return describe(std::move(path), caps, output, feature);
}

// The device path of one interface: empty when the system gives none. A
// size beyond any path is a failure of the whole search, as the script's
// failed allocation of it is.
std::expected<std::u16string, std::string> device_path(DeviceInterfaces& interfaces,
                                                       const DeviceInfoSet& set,
                                                       InterfaceData& data) {
  const std::uint32_t size = interfaces.detail_size(set.get(), data);
  if (size == 0) return std::u16string{};
  if (size > MAX_INTERFACE_DETAIL_SIZE) {
    return std::unexpected("taille de detail d'interface invraisemblable (" + std::to_string(size) +
                           " octets)");
  }
  // Too small for the size field and one terminator: no path can be there.
  if (size < INTERFACE_DETAIL_HEADER_SIZE) return std::u16string{};
  std::vector<std::uint8_t> detail(size);
  detail[0] = static_cast<std::uint8_t>(INTERFACE_DETAIL_HEADER_SIZE);
  if (!interfaces.detail(set.get(), data, detail)) return std::u16string{};
  std::u16string path;
  for (std::size_t offset = 4; offset + 1 < detail.size(); offset += 2) {
    const auto unit = static_cast<char16_t>(detail[offset] | (detail[offset + 1] << 8));
    if (unit == u'\0') break;
    path += unit;
  }
  return path;
}

// The first HID keyboard backlight, nothing when there is none, or why the
// search itself failed.
std::expected<std::optional<Device>, std::string> find_device(BacklightDevices& devices) {
  const GuidBytes hid_guid = devices.hid.hid_guid();
  const auto opened = devices.interfaces.open_set(hid_guid, PRESENT_INTERFACES);
  if (!opened) return std::nullopt;
  const DeviceInfoSet set(devices.interfaces, *opened);
  for (std::uint32_t index = 0; index < MAX_HID_INTERFACES; ++index) {
    InterfaceData data{};
    data[0] = static_cast<std::uint8_t>(INTERFACE_DATA_SIZE);
    if (!devices.interfaces.interface_at(set.get(), hid_guid, index, data)) return std::nullopt;
    auto path = device_path(devices.interfaces, set, data);
    if (!path) return std::unexpected(path.error());
    if (path->empty()) continue;
    if (auto device = probe(devices, std::move(*path))) return device;
  }
  return std::nullopt;
}

Reading read_value(BacklightDevices& devices, const Device& device) {
  if (!device.has_feature || device.feature_length == 0) return Reading{};
  const Reading failed{0, device.feature_logical_min, device.feature_logical_max, false};
  const auto handle = open_device(devices.files, device.path);
  if (!handle) return failed;
  const auto preparsed = preparsed_of(devices.hid, *handle);
  if (!preparsed) return failed;
  auto report = new_report(device.feature_length, device.feature_report_id);
  if (!devices.hid.get_feature(handle->get(), report)) return failed;
  std::uint32_t value = 0;
  if (devices.hid.get_usage_value(REPORT_TYPE_FEATURE, USAGE_PAGE_CONSUMER, 0, USAGE_SET_LEVEL,
                                  value, preparsed->get(), report) != HID_STATUS_SUCCESS) {
    return failed;
  }
  return Reading{static_cast<std::int32_t>(value), device.feature_logical_min,
                 device.feature_logical_max, true};
}

std::expected<std::vector<std::uint8_t>, std::string> set_level_report(
    HidCalls& hid, const PreparsedData& preparsed, int report_type, std::uint16_t length,
    std::uint8_t report_id, std::int32_t raw) {
  auto report = new_report(length, report_id);
  const HidStatus status =
      hid.set_usage_value(report_type, USAGE_PAGE_CONSUMER, 0, USAGE_SET_LEVEL,
                          static_cast<std::uint32_t>(raw), preparsed.get(), report);
  if (status != HID_STATUS_SUCCESS) {
    return std::unexpected("rapport Set Level refuse (0x" + status_text(status) + ")");
  }
  return report;
}

// Sends raw through the output report (WriteFile, then HidD_SetOutputReport)
// or else the feature report; the failure is the script's message.
std::expected<void, std::string> write_value(BacklightDevices& devices, const Device& device,
                                             std::int32_t raw) {
  const auto handle = open_device(devices.files, device.path);
  if (!handle) {
    return std::unexpected("ouverture HID impossible (erreur " + signed_text(handle.error()) + ")");
  }
  const auto preparsed = preparsed_of(devices.hid, *handle);
  if (!preparsed) return std::unexpected(std::string("descripteur HID illisible"));

  SystemError last_error = 0;
  if (device.has_output && device.output_length > 0) {
    const auto report = set_level_report(devices.hid, *preparsed, REPORT_TYPE_OUTPUT,
                                         device.output_length, device.report_id, raw);
    if (!report) return std::unexpected(report.error());
    const auto written = devices.files.write(handle->get(), *report);
    if (written) return {};
    last_error = written.error();
    const auto sent = devices.hid.set_output_report(handle->get(), *report);
    if (sent) return {};
    last_error = sent.error();
  }
  if (device.has_feature && device.feature_length > 0) {
    const auto report = set_level_report(devices.hid, *preparsed, REPORT_TYPE_FEATURE,
                                         device.feature_length, device.feature_report_id, raw);
    if (!report) return std::unexpected(report.error());
    const auto sent = devices.hid.set_feature(handle->get(), *report);
    if (sent) return {};
    last_error = sent.error();
  }
  return std::unexpected("aucun rapport HID accepte (erreur " + signed_text(last_error) + ")");
}

}  // namespace

BackendStep try_hid(const BacklightRequest& request, BacklightDevices& devices,
                    BacklightResult& result) {
  // A failed search is one of the script's diagnostics, shown only by its
  // end text: passed over like an absent device.
  const auto found = find_device(devices);
  if (!found || !*found) return BackendStep::PassedOver;
  const Device& device = **found;

  result.available = true;
  result.source = "hid";
  // The scale follows the range of the value that is written.
  result.max_level = max_level(device.logical_min, device.logical_max);
  const Reading reading = read_value(devices, device);
  if (reading.ok) {
    result.known = true;
    result.level = normalize(reading.value, reading.minimum, reading.maximum);
  } else {
    result.add_error("etat HID non lisible (rapport de confirmation absent)");
  }
  if (!request.write) return BackendStep::Answered;

  if (!level_in_range(request.level, result.max_level)) {
    result.add_error("niveau hors limites");
    return BackendStep::Answered;
  }
  const std::int32_t raw = raw_for(request.level, device.logical_min, device.logical_max);
  if (const auto written = write_value(devices, device, raw); !written) {
    result.known = false;
    result.add_error(written.error());
    return BackendStep::Answered;
  }
  result.applied = true;
  const Reading after = read_value(devices, device);
  if (after.ok) {
    result.known = true;
    result.level = normalize(after.value, after.minimum, after.maximum);
    result.verified = result.level == request.level;
    if (!result.verified) result.add_error("lecture de confirmation differente");
  } else {
    result.known = false;
    result.level = request.level;
    result.add_error("commande HID envoyee ; confirmation indisponible");
  }
  return BackendStep::Answered;
}

}  // namespace nivalto::backlight_engine
