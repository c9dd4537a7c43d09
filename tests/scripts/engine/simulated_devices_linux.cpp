#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "simulated_devices.h"

namespace nivalto::backlight_engine {
namespace {

// The simulator's functions with their C signatures (simulator.h): pointers
// are the platform's handles, BOOL is int, BOOLEAN is one byte.
using CreateFileWFunction = void* (*)(const char16_t*, std::uint32_t, std::uint32_t, void*,
                                      std::uint32_t, std::uint32_t, void*);
using DeviceIoControlFunction = int (*)(void*, std::uint32_t, void*, std::uint32_t, void*,
                                        std::uint32_t, std::uint32_t*, void*);
using WriteFileFunction = int (*)(void*, const void*, std::uint32_t, std::uint32_t*, void*);
using CloseHandleFunction = int (*)(void*);

using GetClassDevsFunction = void* (*)(const void*, const char16_t*, void*, std::uint32_t);
using EnumInterfacesFunction = int (*)(void*, void*, const void*, std::uint32_t, void*);
using InterfaceDetailFunction = int (*)(void*, void*, void*, std::uint32_t, std::uint32_t*, void*);
using DestroyListFunction = int (*)(void*);

using GetHidGuidFunction = void (*)(void*);
using GetPreparsedFunction = std::uint8_t (*)(void*, void**);
using FreePreparsedFunction = std::uint8_t (*)(void*);
using GetCapsFunction = std::int32_t (*)(void*, void*);
using GetValueCapsFunction = std::int32_t (*)(int, void*, std::uint16_t*, void*);
using ReportFunction = std::uint8_t (*)(void*, void*, std::uint32_t);
using GetUsageValueFunction = std::int32_t (*)(int, std::uint16_t, std::uint16_t, std::uint16_t,
                                               std::uint32_t*, void*, const void*, std::uint32_t);
using SetUsageValueFunction = std::int32_t (*)(int, std::uint16_t, std::uint16_t, std::uint16_t,
                                               std::uint32_t, void*, void*, std::uint32_t);
using FaultFunction = void (*)(const char*, ...);

// INVALID_HANDLE_VALUE.
void* const INVALID_HANDLE = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));

struct LibraryCloser {
  void operator()(void* library) const { ::dlclose(library); }
};
using Library = std::unique_ptr<void, LibraryCloser>;

void* as_pointer(RawHandle handle) { return reinterpret_cast<void*>(handle); }
RawHandle as_handle(void* pointer) { return reinterpret_cast<RawHandle>(pointer); }

// The last error as the simulator sets it (errno, which is what .NET reads
// for SetLastError on Linux), taken before anything else can change it.
SystemError last_error() { return static_cast<SystemError>(errno); }

// Buffers the simulator fills through typed pointers (a GUID, a UINT_PTR
// inside the interface record, UTF-16 paths) get the alignment the platform's
// allocator would give them; the engine's byte spans promise none.
class AlignedCopy {
 public:
  explicit AlignedCopy(std::span<const std::uint8_t> bytes)
      : words_((bytes.size() + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) + 1) {
    if (!bytes.empty()) std::memcpy(words_.data(), bytes.data(), bytes.size());
  }
  [[nodiscard]] void* data() { return words_.data(); }
  void copy_to(std::span<std::uint8_t> bytes) const {
    if (!bytes.empty()) std::memcpy(bytes.data(), words_.data(), bytes.size());
  }

 private:
  std::vector<std::uint64_t> words_;
};

class Libraries {
 public:
  std::expected<void, std::string> load(const std::string& folder) {
    for (const char* name : {"kernel32.dll.so", "hid.dll.so", "setupapi.dll.so"}) {
      const std::string path = folder + "/" + name;
      Library library(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
      if (!library) return std::unexpected(std::string(::dlerror()));
      libraries_.push_back(std::move(library));
    }
    std::string missing;
    auto find = [&]<typename Function>(std::size_t library, const char* name, Function& out) {
      out = reinterpret_cast<Function>(::dlsym(libraries_[library].get(), name));
      if (out == nullptr) missing += std::string(missing.empty() ? "" : ", ") + name;
    };
    find(0, "CreateFileW", create_file);
    find(0, "DeviceIoControl", device_io_control);
    find(0, "WriteFile", write_file);
    find(0, "CloseHandle", close_handle);
    find(1, "HidD_GetHidGuid", get_hid_guid);
    find(1, "HidD_GetPreparsedData", get_preparsed);
    find(1, "HidD_FreePreparsedData", free_preparsed);
    find(1, "HidP_GetCaps", get_caps);
    find(1, "HidP_GetValueCaps", get_value_caps);
    find(1, "HidD_GetFeature", get_feature);
    find(1, "HidD_SetFeature", set_feature);
    find(1, "HidD_SetOutputReport", set_output_report);
    find(1, "HidP_GetUsageValue", get_usage_value);
    find(1, "HidP_SetUsageValue", set_usage_value);
    find(2, "SetupDiGetClassDevsW", get_class_devs);
    find(2, "SetupDiEnumDeviceInterfaces", enum_interfaces);
    find(2, "SetupDiGetDeviceInterfaceDetailW", interface_detail);
    find(2, "SetupDiDestroyDeviceInfoList", destroy_list);
    // The simulator's own fault log, reached through hid.dll.so's dependency.
    fault = reinterpret_cast<FaultFunction>(::dlsym(libraries_[1].get(), "sim_fault"));
    if (!missing.empty()) return std::unexpected("missing in " + folder + ": " + missing);
    return {};
  }

  // A breach of the platform's rules that the simulator cannot see, because
  // the twin had to shape the call: logged as the simulator logs its own.
  void breach(const std::string& text) const {
    if (fault != nullptr) fault("%s", text.c_str());
  }

  CreateFileWFunction create_file = nullptr;
  DeviceIoControlFunction device_io_control = nullptr;
  WriteFileFunction write_file = nullptr;
  CloseHandleFunction close_handle = nullptr;
  GetHidGuidFunction get_hid_guid = nullptr;
  GetPreparsedFunction get_preparsed = nullptr;
  FreePreparsedFunction free_preparsed = nullptr;
  GetCapsFunction get_caps = nullptr;
  GetValueCapsFunction get_value_caps = nullptr;
  ReportFunction get_feature = nullptr;
  ReportFunction set_feature = nullptr;
  ReportFunction set_output_report = nullptr;
  GetUsageValueFunction get_usage_value = nullptr;
  SetUsageValueFunction set_usage_value = nullptr;
  GetClassDevsFunction get_class_devs = nullptr;
  EnumInterfacesFunction enum_interfaces = nullptr;
  InterfaceDetailFunction interface_detail = nullptr;
  DestroyListFunction destroy_list = nullptr;
  FaultFunction fault = nullptr;

 private:
  std::vector<Library> libraries_;
};

class SimulatedFiles final : public DeviceFiles {
 public:
  explicit SimulatedFiles(const Libraries& libraries) : libraries_(libraries) {}

  std::expected<RawHandle, SystemError> open(std::u16string_view path, std::uint32_t access,
                                             std::uint32_t share, std::uint32_t disposition,
                                             std::uint32_t flags) override {
    const std::u16string terminated(path);
    errno = 0;
    void* handle = libraries_.create_file(terminated.c_str(), access, share, nullptr, disposition,
                                          flags, nullptr);
    if (handle == INVALID_HANDLE) return std::unexpected(last_error());
    return as_handle(handle);
  }

  std::expected<std::uint32_t, SystemError> control(RawHandle device, std::uint32_t code,
                                                    std::span<const std::uint8_t> in,
                                                    std::span<std::uint8_t> out) override {
    // DeviceIoControl takes its input buffer as a plain pointer; it only reads it.
    std::vector<std::uint8_t> input(in.begin(), in.end());
    std::uint32_t returned = 0;
    errno = 0;
    if (libraries_.device_io_control(
            as_pointer(device), code, input.data(), static_cast<std::uint32_t>(input.size()),
            out.data(), static_cast<std::uint32_t>(out.size()), &returned, nullptr) == 0) {
      return std::unexpected(last_error());
    }
    return returned;
  }

  std::expected<std::uint32_t, SystemError> write(RawHandle device,
                                                  std::span<const std::uint8_t> bytes) override {
    std::uint32_t written = 0;
    errno = 0;
    if (libraries_.write_file(as_pointer(device), bytes.data(),
                              static_cast<std::uint32_t>(bytes.size()), &written, nullptr) == 0) {
      return std::unexpected(last_error());
    }
    return written;
  }

  void close(RawHandle device) override { libraries_.close_handle(as_pointer(device)); }

 private:
  const Libraries& libraries_;
};

class SimulatedInterfaces final : public DeviceInterfaces {
 public:
  explicit SimulatedInterfaces(const Libraries& libraries) : libraries_(libraries) {}

  std::expected<RawHandle, SystemError> open_set(const GuidBytes& class_guid,
                                                 std::uint32_t flags) override {
    AlignedCopy guid(class_guid);
    errno = 0;
    void* set = libraries_.get_class_devs(guid.data(), nullptr, nullptr, flags);
    if (set == INVALID_HANDLE) return std::unexpected(last_error());
    return as_handle(set);
  }

  std::expected<void, SystemError> interface_at(RawHandle set, const GuidBytes& class_guid,
                                                std::uint32_t index, InterfaceData& data) override {
    AlignedCopy guid(class_guid);
    AlignedCopy record(data);
    errno = 0;
    const int done =
        libraries_.enum_interfaces(as_pointer(set), nullptr, guid.data(), index, record.data());
    const SystemError error = last_error();
    record.copy_to(data);
    if (done == 0) return std::unexpected(error);
    return {};
  }

  std::uint32_t detail_size(RawHandle set, InterfaceData& data) override {
    AlignedCopy record(data);
    std::uint32_t required = 0;
    libraries_.interface_detail(as_pointer(set), record.data(), nullptr, 0, &required, nullptr);
    record.copy_to(data);
    return required;
  }

  std::expected<void, SystemError> detail(RawHandle set, InterfaceData& data,
                                          std::span<std::uint8_t> detail) override {
    AlignedCopy record(data);
    AlignedCopy buffer(detail);
    std::uint32_t required = 0;
    errno = 0;
    const int done =
        libraries_.interface_detail(as_pointer(set), record.data(), buffer.data(),
                                    static_cast<std::uint32_t>(detail.size()), &required, nullptr);
    const SystemError error = last_error();
    record.copy_to(data);
    buffer.copy_to(detail);
    if (done == 0) return std::unexpected(error);
    return {};
  }

  void close_set(RawHandle set) override { libraries_.destroy_list(as_pointer(set)); }

 private:
  const Libraries& libraries_;
};

class SimulatedHid final : public HidCalls {
 public:
  explicit SimulatedHid(const Libraries& libraries) : libraries_(libraries) {}

  GuidBytes hid_guid() override {
    GuidBytes guid{};
    AlignedCopy buffer(guid);
    libraries_.get_hid_guid(buffer.data());
    buffer.copy_to(guid);
    return guid;
  }

  std::expected<RawHandle, SystemError> preparsed_data(RawHandle device) override {
    void* preparsed = nullptr;
    errno = 0;
    if (libraries_.get_preparsed(as_pointer(device), &preparsed) == 0) {
      return std::unexpected(last_error());
    }
    return as_handle(preparsed);
  }

  void free_preparsed_data(RawHandle preparsed) override {
    libraries_.free_preparsed(as_pointer(preparsed));
  }

  HidStatus caps(RawHandle preparsed, std::span<std::uint8_t, HIDP_CAPS_SIZE> caps) override {
    AlignedCopy buffer(caps);
    const HidStatus status = libraries_.get_caps(as_pointer(preparsed), buffer.data());
    buffer.copy_to(caps);
    return status;
  }

  HidStatus value_caps(int report_type, std::span<std::uint8_t> buffer, std::uint16_t& count,
                       RawHandle preparsed) override {
    // HidP_GetValueCaps fills up to `count` records whatever the buffer's
    // size: a larger count would write past the engine's buffer.
    if (std::size_t{count} * HIDP_VALUE_CAPS_SIZE > buffer.size()) {
      libraries_.breach("HidP_GetValueCaps: room for " + std::to_string(count) +
                        " records in a buffer of " + std::to_string(buffer.size()) + " bytes");
      return static_cast<HidStatus>(0xC0110007u);  // HIDP_STATUS_BUFFER_TOO_SMALL
    }
    AlignedCopy records(buffer);
    const HidStatus status =
        libraries_.get_value_caps(report_type, records.data(), &count, as_pointer(preparsed));
    records.copy_to(buffer);
    return status;
  }

  std::expected<void, SystemError> get_feature(RawHandle device,
                                               std::span<std::uint8_t> report) override {
    errno = 0;
    if (libraries_.get_feature(as_pointer(device), report.data(),
                               static_cast<std::uint32_t>(report.size())) == 0) {
      return std::unexpected(last_error());
    }
    return {};
  }

  std::expected<void, SystemError> set_feature(RawHandle device,
                                               std::span<const std::uint8_t> report) override {
    return send(libraries_.set_feature, device, report);
  }

  std::expected<void, SystemError> set_output_report(
      RawHandle device, std::span<const std::uint8_t> report) override {
    return send(libraries_.set_output_report, device, report);
  }

  HidStatus get_usage_value(int report_type, std::uint16_t page, std::uint16_t link_collection,
                            std::uint16_t usage, std::uint32_t& value, RawHandle preparsed,
                            std::span<const std::uint8_t> report) override {
    return libraries_.get_usage_value(report_type, page, link_collection, usage, &value,
                                      as_pointer(preparsed), report.data(),
                                      static_cast<std::uint32_t>(report.size()));
  }

  HidStatus set_usage_value(int report_type, std::uint16_t page, std::uint16_t link_collection,
                            std::uint16_t usage, std::uint32_t value, RawHandle preparsed,
                            std::span<std::uint8_t> report) override {
    return libraries_.set_usage_value(report_type, page, link_collection, usage, value,
                                      as_pointer(preparsed), report.data(),
                                      static_cast<std::uint32_t>(report.size()));
  }

 private:
  // HidD_SetFeature and HidD_SetOutputReport take a plain pointer and only read it.
  static std::expected<void, SystemError> send(ReportFunction function, RawHandle device,
                                               std::span<const std::uint8_t> report) {
    std::vector<std::uint8_t> bytes(report.begin(), report.end());
    errno = 0;
    if (function(as_pointer(device), bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0) {
      return std::unexpected(last_error());
    }
    return {};
  }

  const Libraries& libraries_;
};

class LoadedDevices final : public SimulatedDevices {
 public:
  explicit LoadedDevices(std::unique_ptr<Libraries> libraries)
      : libraries_(std::move(libraries)),
        files_(*libraries_),
        interfaces_(*libraries_),
        hid_(*libraries_) {}
  DeviceFiles& files() override { return files_; }
  DeviceInterfaces& interfaces() override { return interfaces_; }
  HidCalls& hid() override { return hid_; }

 private:
  std::unique_ptr<Libraries> libraries_;
  SimulatedFiles files_;
  SimulatedInterfaces interfaces_;
  SimulatedHid hid_;
};

}  // namespace

std::expected<std::unique_ptr<SimulatedDevices>, std::string> load_simulated_devices(
    const std::string& folder) {
  auto libraries = std::make_unique<Libraries>();
  if (auto loaded = libraries->load(folder); !loaded) return std::unexpected(loaded.error());
  return std::make_unique<LoadedDevices>(std::move(libraries));
}

}  // namespace nivalto::backlight_engine
