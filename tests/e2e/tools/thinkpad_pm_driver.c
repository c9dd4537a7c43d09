/* A stand-in for the ThinkPad power-management driver, for the end-to-end
 * suite: a kernel driver that Wine runs in winedevice.exe, so that the
 * product's own CreateFileW and DeviceIoControl calls reach a real device.
 *
 * It creates \Device\IBMPmDrv (\\.\IBMPmDrv to a program) and answers the two
 * control codes from a state word that it keeps:
 *   0x222680  get state: 4-byte input, 4-byte output, the state word;
 *   0x222684  set state: 4-byte argument; the low four bits become the
 *             current level; the output is the new state word.
 *
 * Under its service key's Parameters:
 *   State (REG_DWORD, read at start)  the first state word; absent, the
 *       driver starts ready (marker 5 in bits 16-19), highest level 2,
 *       level 0;
 *   Sets (REG_BINARY, written)        every set argument received since the
 *       start, as 4-byte little-endian words in arrival order, so that a test
 *       sees each write the product made, and how many;
 *   Gets (REG_DWORD, written)         how many get-state calls were answered.
 * A call with a buffer of the wrong size is refused, as the product never
 * sends one.
 *
 * Built with mingw-w64's DDK headers; see build_windows_driver in harness.py.
 */
#include <ntddk.h>

#define PM_GET_STATE 0x222680u
#define PM_SET_STATE 0x222684u
#define DEFAULT_STATE 0x00050200u
/* More sets than one test ever makes: a run past it is refused rather than
 * dropped from the record, so that no write goes unseen. */
#define MAX_SETS 64

typedef struct {
    KMUTEX lock;
    ULONG state;
    ULONG gets;
    ULONG set_count;
    ULONG sets[MAX_SETS];
    /* \Registry\Machine\...\Services\<name>\Parameters, opened once. */
    HANDLE parameters;
} PM_DEVICE;

static UNICODE_STRING device_name;
static UNICODE_STRING link_name;

static NTSTATUS open_parameters(PUNICODE_STRING registry_path, HANDLE *key)
{
    static const WCHAR suffix[] = L"\\Parameters";
    WCHAR buffer[512];
    USHORT suffix_bytes = sizeof(suffix) - sizeof(WCHAR);
    if (registry_path->Length + suffix_bytes > sizeof(buffer))
        return STATUS_NAME_TOO_LONG;
    UNICODE_STRING path = {0, sizeof(buffer), buffer};
    for (USHORT i = 0; i < registry_path->Length / sizeof(WCHAR); ++i)
        buffer[i] = registry_path->Buffer[i];
    for (USHORT i = 0; i < suffix_bytes / sizeof(WCHAR); ++i)
        buffer[registry_path->Length / sizeof(WCHAR) + i] = suffix[i];
    path.Length = registry_path->Length + suffix_bytes;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    return ZwCreateKey(key, KEY_QUERY_VALUE | KEY_SET_VALUE, &attributes, 0, NULL,
                       REG_OPTION_NON_VOLATILE, NULL);
}

static ULONG initial_state(HANDLE key)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"State");
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } value;
    ULONG length = 0;
    NTSTATUS status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value,
                                      sizeof(value), &length);
    if (!NT_SUCCESS(status) || value.info.Type != REG_DWORD || value.info.DataLength != 4)
        return DEFAULT_STATE;
    const UCHAR *data = value.info.Data;
    return data[0] | (data[1] << 8) | (data[2] << 16) | ((ULONG)data[3] << 24);
}

/* The record is written through at every call: a test reads it from the
 * registry while the driver runs. */
static NTSTATUS record(PM_DEVICE *device, const WCHAR *value_name, ULONG type,
                       const void *data, ULONG size)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, value_name);
    return ZwSetValueKey(device->parameters, &name, 0, type, (PVOID)data, size);
}

static NTSTATUS answer(PM_DEVICE *device, ULONG code, ULONG input, ULONG *output)
{
    if (code == PM_GET_STATE) {
        device->gets += 1;
        *output = device->state;
        return record(device, L"Gets", REG_DWORD, &device->gets, sizeof(device->gets));
    }
    if (device->set_count == MAX_SETS)
        return STATUS_INSUFFICIENT_RESOURCES;
    device->sets[device->set_count++] = input;
    device->state = (device->state & ~0xFu) | (input & 0xFu);
    *output = device->state;
    return record(device, L"Sets", REG_BINARY, device->sets,
                  device->set_count * sizeof(ULONG));
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI dispatch_open_close(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS WINAPI dispatch_control(PDEVICE_OBJECT device_object, PIRP irp)
{
    PM_DEVICE *device = device_object->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (code != PM_GET_STATE && code != PM_SET_STATE)
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    /* Both codes are METHOD_BUFFERED: input and output share SystemBuffer. */
    if (stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(ULONG) ||
        stack->Parameters.DeviceIoControl.OutputBufferLength != sizeof(ULONG))
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    UCHAR *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG input = buffer[0] | (buffer[1] << 8) | (buffer[2] << 16) | ((ULONG)buffer[3] << 24);
    ULONG output = 0;
    KeWaitForSingleObject(&device->lock, Executive, KernelMode, FALSE, NULL);
    NTSTATUS status = answer(device, code, input, &output);
    KeReleaseMutex(&device->lock, FALSE);
    if (!NT_SUCCESS(status))
        return complete(irp, status, 0);
    for (int i = 0; i < 4; ++i)
        buffer[i] = (UCHAR)(output >> (8 * i));
    return complete(irp, STATUS_SUCCESS, sizeof(ULONG));
}

static VOID WINAPI unload(PDRIVER_OBJECT driver)
{
    IoDeleteSymbolicLink(&link_name);
    if (driver->DeviceObject) {
        PM_DEVICE *device = driver->DeviceObject->DeviceExtension;
        ZwClose(device->parameters);
        IoDeleteDevice(driver->DeviceObject);
    }
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    HANDLE parameters;
    NTSTATUS status = open_parameters(registry_path, &parameters);
    if (!NT_SUCCESS(status))
        return status;
    /* A record left by an earlier start would read as writes of this one. */
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"Sets");
    ZwDeleteValueKey(parameters, &name);
    RtlInitUnicodeString(&name, L"Gets");
    ZwDeleteValueKey(parameters, &name);

    RtlInitUnicodeString(&device_name, L"\\Device\\IBMPmDrv");
    RtlInitUnicodeString(&link_name, L"\\DosDevices\\IBMPmDrv");
    PDEVICE_OBJECT device_object;
    status = IoCreateDevice(driver, sizeof(PM_DEVICE), &device_name, FILE_DEVICE_UNKNOWN, 0,
                            FALSE, &device_object);
    if (!NT_SUCCESS(status)) {
        ZwClose(parameters);
        return status;
    }
    PM_DEVICE *device = device_object->DeviceExtension;
    KeInitializeMutex(&device->lock, 0);
    device->parameters = parameters;
    device->state = initial_state(parameters);
    device->gets = 0;
    device->set_count = 0;
    status = IoCreateSymbolicLink(&link_name, &device_name);
    if (!NT_SUCCESS(status)) {
        ZwClose(parameters);
        IoDeleteDevice(device_object);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_control;
    driver->DriverUnload = unload;
    return STATUS_SUCCESS;
}
