# Nivalto keyboard backlight script.
#
# Finds the first keyboard backlight interface of this machine among four
# backends, tried in this order: the Framework vendor tools, the ThinkPad
# power-management driver, the standard HID keyboard backlight and the Lenovo
# WMI lighting class. It reads the current level and, in mode write, sets a new
# level and reads it back.
#
# Levels share one scale for every backend: 0 is off, max_level is 1 or 2.
#
# Output: exactly one line of compact JSON on standard output, then exit
# status 0. Every failure is reported inside that object (member reason), never
# through the exit status. The text is ASCII only: the French messages are
# written without accents so that no code page can garble them.

[CmdletBinding()]
param(
    [ValidateSet('read', 'write')]
    [string]$Mode = 'read',

    [int]$Level = 0,

    [string]$FrameworkDir = ''
)

Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

# The answer itself is written as UTF-8 bytes by Emit-Result; the console
# encoding only matters for text that PowerShell itself might print. A process
# without a usable console cannot change it, and that must not cost the answer.
try {
    [Console]::OutputEncoding = New-Object System.Text.UTF8Encoding($false)
} catch {
}

# The members in the order of the printed JSON object.
$script:result = [ordered]@{
    available = $false
    known     = $false
    level     = 0
    max_level = 2
    source    = ''
    applied   = $false
    verified  = $false
    reason    = ''
}

# Why absent or broken backends were passed over; printed only when no
# backend answered.
$script:errors = New-Object 'System.Collections.Generic.List[string]'

# ---------------------------------------------------------------------------
# Result helpers
# ---------------------------------------------------------------------------

# The first failure wins: it is the one closest to the cause.
function Add-Error {
    param([string]$Text)
    if ([string]::IsNullOrWhiteSpace([string]$script:result['reason'])) {
        $script:result['reason'] = $Text
    }
}

function Add-Diagnostic {
    param([string]$Text)
    $script:errors.Add($Text)
}

# Prints the result as one line of compact JSON and ends the script. The bytes
# go straight to standard output as UTF-8 without byte order mark, whatever
# the console code page is.
function Emit-Result {
    $json = ConvertTo-Json -InputObject $script:result -Compress -Depth 4
    $encoding = New-Object System.Text.UTF8Encoding($false)
    $bytes = $encoding.GetBytes([string]$json + "`n")
    $stdout = [Console]::OpenStandardOutput()
    $stdout.Write($bytes, 0, $bytes.Length)
    $stdout.Flush()
    exit 0
}

# The message of a caught error. A .NET method that throws reaches PowerShell
# wrapped in "Exception calling ..."; the inner exception carries our text.
function Get-ErrorText {
    param($ErrorRecord)
    $exception = $ErrorRecord.Exception
    while ((($exception -is [System.Management.Automation.MethodInvocationException]) -or
            ($exception -is [System.Reflection.TargetInvocationException])) -and
           ($null -ne $exception.InnerException)) {
        $exception = $exception.InnerException
    }
    return [string]$exception.Message
}

function Test-LevelInRange {
    param([int]$Value, [int]$Maximum)
    return (($Value -ge 0) -and ($Value -le $Maximum))
}

# ---------------------------------------------------------------------------
# Backend 2: ThinkPad power-management driver (\\.\IBMPmDrv)
# ---------------------------------------------------------------------------

# Written for the C# 5 compiler of Windows PowerShell 5.1: no expression-bodied
# members, no string interpolation, no out variables.
$TpKbBacklightSource = @'
using System;
using System.Runtime.InteropServices;

public static class TpKbBacklight
{
    public const string DevicePath = @"\\.\IBMPmDrv";
    public const int GetStateCode = 0x222680;
    public const int SetStateCode = 0x222684;
    public const int ReadyMarker = 5;
    public const int SetStateFlag = 0x100;

    const uint GenericRead = 0x80000000;
    const uint FileShareRead = 1;
    const uint OpenExisting = 3;

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern IntPtr CreateFileW(string fileName, uint desiredAccess, uint shareMode,
        IntPtr securityAttributes, uint creationDisposition, uint flagsAndAttributes,
        IntPtr templateFile);

    [DllImport("kernel32.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.Bool)]
    static extern bool DeviceIoControl(IntPtr device, uint ioControlCode, byte[] inBuffer,
        uint inBufferSize, byte[] outBuffer, uint outBufferSize, out uint bytesReturned,
        IntPtr overlapped);

    [DllImport("kernel32.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.Bool)]
    static extern bool CloseHandle(IntPtr handle);

    // The decoded state word of the get-state call.
    public sealed class State
    {
        public int Level;
        public int Highest;
        public bool Ready;
        public bool Flag21;
        public int Word;
    }

    public static State Decode(int word)
    {
        State state = new State();
        state.Level = word & 0xF;
        state.Highest = (word >> 8) & 0xF;
        state.Ready = ((word >> 16) & 0xF) == ReadyMarker;
        state.Flag21 = (word & (1 << 21)) != 0;
        state.Word = word;
        return state;
    }

    // The highest level on the shared scale: the driver may report 0 or
    // levels beyond 2, which the scale does not have.
    public static int MaxLevel(State state)
    {
        return Clamp(state.Highest, 1, 2);
    }

    public static int CurrentLevel(State state, int maxLevel)
    {
        return Clamp(state.Level, 0, maxLevel);
    }

    // Bits 4 to 7 of the state travel back unchanged so that the driver keeps
    // whatever it stores there.
    public static int SetArgument(int word, int level)
    {
        int argument = (word & (1 << 21)) != 0 ? SetStateFlag : 0;
        return argument | (word & 0xF0) | level;
    }

    public static string NotReadyMessage(int word)
    {
        return "retroeclairage non pret (0x" + word.ToString("X") + ")";
    }

    public static string AbsentMessage(int error)
    {
        return "IBMPmDrv absent (erreur " + error.ToString() + ")";
    }

    public static string IoctlMessage(int code, int error)
    {
        return "DeviceIoControl " + code.ToString() + " (erreur " + error.ToString() + ")";
    }

    public static int Clamp(int value, int minimum, int maximum)
    {
        if (value < minimum) return minimum;
        if (value > maximum) return maximum;
        return value;
    }

    public static byte[] ToLittleEndian(int value)
    {
        return new byte[] {
            (byte)(value & 0xFF), (byte)((value >> 8) & 0xFF),
            (byte)((value >> 16) & 0xFF), (byte)((value >> 24) & 0xFF) };
    }

    public static int FromLittleEndian(byte[] bytes)
    {
        return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (bytes[3] << 24);
    }

    public static int Call(int code, int input)
    {
        IntPtr handle = CreateFileW(DevicePath, GenericRead, FileShareRead, IntPtr.Zero,
            OpenExisting, 0, IntPtr.Zero);
        if (handle == IntPtr.Zero || handle == new IntPtr(-1))
        {
            throw new InvalidOperationException(AbsentMessage(Marshal.GetLastWin32Error()));
        }
        try
        {
            byte[] inBuffer = ToLittleEndian(input);
            byte[] outBuffer = new byte[4];
            uint returned;
            if (!DeviceIoControl(handle, (uint)code, inBuffer, 4, outBuffer, 4, out returned,
                    IntPtr.Zero))
            {
                throw new InvalidOperationException(
                    IoctlMessage(code, Marshal.GetLastWin32Error()));
            }
            return FromLittleEndian(outBuffer);
        }
        finally
        {
            CloseHandle(handle);
        }
    }

    public static State Read()
    {
        return Decode(Call(GetStateCode, 0));
    }

    public static void Write(int level)
    {
        State state = Read();
        if (!state.Ready)
        {
            throw new InvalidOperationException(NotReadyMessage(state.Word));
        }
        Call(SetStateCode, SetArgument(state.Word, level));
    }
}
'@

# ---------------------------------------------------------------------------
# Backend 3: standard HID keyboard backlight (Consumer page 0x0C, collection
# usage 0x07, value usage 0x7B Set Level)
# ---------------------------------------------------------------------------

# The HID structures are read from byte buffers at their documented offsets
# rather than marshalled as structs: the layout is then explicit and the
# parsing can be checked without Windows.
$HidKbBacklightSource = @'
using System;
using System.Runtime.InteropServices;

public static class HidKbBacklight
{
    public const ushort UsagePageConsumer = 0x0C;
    public const ushort UsageKeyboardBacklight = 0x07;
    public const ushort UsageSetLevel = 0x7B;
    public const int StatusSuccess = 0x00110000;
    public const int ReportTypeOutput = 1;
    public const int ReportTypeFeature = 2;
    public const int CapsSize = 64;
    public const int ValueCapsSize = 72;

    const uint DigcfPresent = 0x02;
    const uint DigcfDeviceInterface = 0x10;
    const uint GenericRead = 0x80000000;
    const uint GenericWrite = 0x40000000;
    const uint FileShareRead = 1;
    const uint FileShareWrite = 2;
    const uint OpenExisting = 3;
    const uint FileAttributeNormal = 0x80;

    [StructLayout(LayoutKind.Sequential)]
    public struct InterfaceData
    {
        public int Size;
        public Guid ClassGuid;
        public int Flags;
        public IntPtr Reserved;
    }

    [DllImport("hid.dll")]
    static extern void HidD_GetHidGuid(out Guid hidGuid);

    [DllImport("hid.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.U1)]
    static extern bool HidD_GetPreparsedData(IntPtr device, out IntPtr preparsed);

    [DllImport("hid.dll")]
    [return: MarshalAs(UnmanagedType.U1)]
    static extern bool HidD_FreePreparsedData(IntPtr preparsed);

    [DllImport("hid.dll")]
    static extern int HidP_GetCaps(IntPtr preparsed, [Out] byte[] caps);

    [DllImport("hid.dll")]
    static extern int HidP_GetValueCaps(int reportType, [Out] byte[] valueCaps,
        ref ushort valueCapsLength, IntPtr preparsed);

    [DllImport("hid.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.U1)]
    static extern bool HidD_GetFeature(IntPtr device, [In, Out] byte[] report, uint length);

    [DllImport("hid.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.U1)]
    static extern bool HidD_SetFeature(IntPtr device, byte[] report, uint length);

    [DllImport("hid.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.U1)]
    static extern bool HidD_SetOutputReport(IntPtr device, byte[] report, uint length);

    [DllImport("hid.dll")]
    static extern int HidP_GetUsageValue(int reportType, ushort usagePage,
        ushort linkCollection, ushort usage, out uint usageValue, IntPtr preparsed,
        byte[] report, uint reportLength);

    [DllImport("hid.dll")]
    static extern int HidP_SetUsageValue(int reportType, ushort usagePage,
        ushort linkCollection, ushort usage, uint usageValue, IntPtr preparsed,
        [In, Out] byte[] report, uint reportLength);

    [DllImport("setupapi.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern IntPtr SetupDiGetClassDevsW(ref Guid classGuid, IntPtr enumerator,
        IntPtr parent, uint flags);

    [DllImport("setupapi.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.Bool)]
    static extern bool SetupDiEnumDeviceInterfaces(IntPtr deviceInfoSet, IntPtr deviceInfoData,
        ref Guid interfaceClassGuid, uint memberIndex, ref InterfaceData interfaceData);

    [DllImport("setupapi.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    [return: MarshalAs(UnmanagedType.Bool)]
    static extern bool SetupDiGetDeviceInterfaceDetailW(IntPtr deviceInfoSet,
        ref InterfaceData interfaceData, IntPtr detail, uint detailSize, out uint requiredSize,
        IntPtr deviceInfoData);

    [DllImport("setupapi.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.Bool)]
    static extern bool SetupDiDestroyDeviceInfoList(IntPtr deviceInfoSet);

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern IntPtr CreateFileW(string fileName, uint desiredAccess, uint shareMode,
        IntPtr securityAttributes, uint creationDisposition, uint flagsAndAttributes,
        IntPtr templateFile);

    [DllImport("kernel32.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.Bool)]
    static extern bool WriteFile(IntPtr file, byte[] buffer, uint bytesToWrite,
        out uint bytesWritten, IntPtr overlapped);

    [DllImport("kernel32.dll", SetLastError = true)]
    [return: MarshalAs(UnmanagedType.Bool)]
    static extern bool CloseHandle(IntPtr handle);

    public sealed class Device
    {
        public string Path;
        public ushort OutputLength;
        public ushort FeatureLength;
        public byte ReportId;
        public byte FeatureReportId;
        public bool HasOutput;
        public bool HasFeature;
        public int LogicalMin;
        public int LogicalMax;
        public int FeatureLogicalMin;
        public int FeatureLogicalMax;
    }

    public sealed class Reading
    {
        public int Value;
        public int Minimum;
        public int Maximum;
        public bool Ok;
    }

    // The fields of HIDP_CAPS that matter here.
    public sealed class Caps
    {
        public ushort Usage;
        public ushort UsagePage;
        public ushort OutputLength;
        public ushort FeatureLength;
        public ushort OutputValueCount;
        public ushort FeatureValueCount;
    }

    // The fields of one HIDP_VALUE_CAPS that matter here.
    public sealed class ValueCaps
    {
        public ushort UsagePage;
        public byte ReportId;
        public bool IsRange;
        public int LogicalMin;
        public int LogicalMax;
        public ushort UsageMin;
        public ushort UsageMax;
    }

    // ---- level arithmetic -------------------------------------------------

    // A logical range wider than two values gives the three-step scale.
    public static int MaxLevel(int minimum, int maximum)
    {
        return (long)maximum > (long)minimum + 1 ? 2 : 1;
    }

    public static int Normalize(int raw, int minimum, int maximum)
    {
        if (raw <= 0) return 0;
        if (raw <= minimum && minimum <= 0) return 0;
        if (MaxLevel(minimum, maximum) == 1) return 1;
        double threshold = minimum + ((double)maximum - (double)minimum) * 2.0 / 3.0;
        return raw >= threshold ? 2 : 1;
    }

    public static int RawFor(int level, int minimum, int maximum)
    {
        if (level <= 0) return (minimum <= 0 && 0 <= maximum) ? 0 : minimum;
        if (MaxLevel(minimum, maximum) == 1) return maximum;
        if (level == 1)
        {
            // 40 % of the range, truncated toward zero, but always above the
            // minimum so that level 1 never reads back as off.
            long step = (long)(((double)maximum - (double)minimum) * 0.4);
            return (int)Math.Max((long)minimum + 1, (long)minimum + step);
        }
        return maximum;
    }

    // ---- structure parsing ------------------------------------------------

    public static Caps ParseCaps(byte[] buffer)
    {
        Caps caps = new Caps();
        caps.Usage = BitConverter.ToUInt16(buffer, 0);
        caps.UsagePage = BitConverter.ToUInt16(buffer, 2);
        caps.OutputLength = BitConverter.ToUInt16(buffer, 6);
        caps.FeatureLength = BitConverter.ToUInt16(buffer, 8);
        caps.OutputValueCount = BitConverter.ToUInt16(buffer, 54);
        caps.FeatureValueCount = BitConverter.ToUInt16(buffer, 60);
        return caps;
    }

    public static ValueCaps ParseValueCaps(byte[] buffer, int index)
    {
        int offset = index * ValueCapsSize;
        ValueCaps value = new ValueCaps();
        value.UsagePage = BitConverter.ToUInt16(buffer, offset);
        value.ReportId = buffer[offset + 2];
        value.IsRange = buffer[offset + 12] != 0;
        value.LogicalMin = BitConverter.ToInt32(buffer, offset + 40);
        value.LogicalMax = BitConverter.ToInt32(buffer, offset + 44);
        value.UsageMin = BitConverter.ToUInt16(buffer, offset + 56);
        value.UsageMax = value.IsRange ? BitConverter.ToUInt16(buffer, offset + 58) : value.UsageMin;
        return value;
    }

    public static bool IsSetLevel(ValueCaps value)
    {
        if (value.UsagePage != UsagePageConsumer) return false;
        if (value.IsRange) return value.UsageMin <= UsageSetLevel && UsageSetLevel <= value.UsageMax;
        return value.UsageMin == UsageSetLevel;
    }

    // The first Set Level value among count value capabilities, or null.
    public static ValueCaps FindSetLevel(byte[] buffer, int count)
    {
        for (int i = 0; i < count; i++)
        {
            if ((long)(i + 1) * ValueCapsSize > buffer.Length) break;
            ValueCaps value = ParseValueCaps(buffer, i);
            if (IsSetLevel(value)) return value;
        }
        return null;
    }

    public static Device Describe(string path, Caps caps, ValueCaps output, ValueCaps feature)
    {
        if (output == null && feature == null) return null;
        Device device = new Device();
        device.Path = path;
        device.HasOutput = output != null;
        device.HasFeature = feature != null;
        device.OutputLength = caps.OutputLength;
        device.FeatureLength = caps.FeatureLength;
        if (output != null)
        {
            device.ReportId = output.ReportId;
            device.LogicalMin = output.LogicalMin;
            device.LogicalMax = output.LogicalMax;
        }
        if (feature != null)
        {
            device.FeatureReportId = feature.ReportId;
            device.FeatureLogicalMin = feature.LogicalMin;
            device.FeatureLogicalMax = feature.LogicalMax;
            if (output == null)
            {
                device.LogicalMin = feature.LogicalMin;
                device.LogicalMax = feature.LogicalMax;
            }
        }
        return device;
    }

    // A zeroed report whose first byte names the report when it has an id.
    public static byte[] NewReport(ushort length, byte reportId)
    {
        byte[] report = new byte[length];
        if (reportId != 0 && length > 0) report[0] = reportId;
        return report;
    }

    public static string StatusText(int status)
    {
        return status.ToString("X");
    }

    public static string OpenFailedMessage(int error)
    {
        return "ouverture HID impossible (erreur " + error.ToString() + ")";
    }

    public static string RefusedMessage(int status)
    {
        return "rapport Set Level refuse (0x" + StatusText(status) + ")";
    }

    public static string NotAcceptedMessage(int error)
    {
        return "aucun rapport HID accepte (erreur " + error.ToString() + ")";
    }

    // ---- device access ----------------------------------------------------

    static bool IsInvalid(IntPtr handle)
    {
        return handle == IntPtr.Zero || handle == new IntPtr(-1);
    }

    static IntPtr Open(string path)
    {
        return CreateFileW(path, GenericRead | GenericWrite, FileShareRead | FileShareWrite,
            IntPtr.Zero, OpenExisting, FileAttributeNormal, IntPtr.Zero);
    }

    static ValueCaps FindValue(IntPtr preparsed, int reportType, ushort count)
    {
        if (count == 0) return null;
        byte[] buffer = new byte[count * ValueCapsSize];
        ushort length = count;
        if (HidP_GetValueCaps(reportType, buffer, ref length, preparsed) != StatusSuccess)
        {
            return null;
        }
        return FindSetLevel(buffer, Math.Min((int)length, (int)count));
    }

    static string DevicePath(IntPtr deviceInfoSet, ref InterfaceData data)
    {
        uint required;
        SetupDiGetDeviceInterfaceDetailW(deviceInfoSet, ref data, IntPtr.Zero, 0, out required,
            IntPtr.Zero);
        if (required == 0) return null;
        IntPtr detail = Marshal.AllocHGlobal((int)required);
        try
        {
            // cbSize of SP_DEVICE_INTERFACE_DETAIL_DATA_W: the fixed part with
            // its packing, not the whole buffer.
            Marshal.WriteInt32(detail, IntPtr.Size == 8 ? 8 : 6);
            if (!SetupDiGetDeviceInterfaceDetailW(deviceInfoSet, ref data, detail, required,
                    out required, IntPtr.Zero))
            {
                return null;
            }
            return Marshal.PtrToStringUni(new IntPtr(detail.ToInt64() + 4));
        }
        finally
        {
            Marshal.FreeHGlobal(detail);
        }
    }

    static Device Probe(string path)
    {
        IntPtr handle = Open(path);
        if (IsInvalid(handle)) return null;
        try
        {
            IntPtr preparsed;
            if (!HidD_GetPreparsedData(handle, out preparsed)) return null;
            try
            {
                byte[] buffer = new byte[CapsSize];
                if (HidP_GetCaps(preparsed, buffer) != StatusSuccess) return null;
                Caps caps = ParseCaps(buffer);
                if (caps.UsagePage != UsagePageConsumer || caps.Usage != UsageKeyboardBacklight)
                {
                    return null;
                }
                ValueCaps output = FindValue(preparsed, ReportTypeOutput, caps.OutputValueCount);
                ValueCaps feature = FindValue(preparsed, ReportTypeFeature, caps.FeatureValueCount);
                return Describe(path, caps, output, feature);
            }
            finally
            {
                HidD_FreePreparsedData(preparsed);
            }
        }
        finally
        {
            CloseHandle(handle);
        }
    }

    public static Device Find()
    {
        Guid hidGuid;
        HidD_GetHidGuid(out hidGuid);
        IntPtr deviceInfoSet = SetupDiGetClassDevsW(ref hidGuid, IntPtr.Zero, IntPtr.Zero,
            DigcfPresent | DigcfDeviceInterface);
        if (IsInvalid(deviceInfoSet)) return null;
        try
        {
            for (uint index = 0; ; index++)
            {
                InterfaceData data = new InterfaceData();
                data.Size = Marshal.SizeOf(typeof(InterfaceData));
                if (!SetupDiEnumDeviceInterfaces(deviceInfoSet, IntPtr.Zero, ref hidGuid, index,
                        ref data))
                {
                    return null;
                }
                string path = DevicePath(deviceInfoSet, ref data);
                if (String.IsNullOrEmpty(path)) continue;
                Device device = Probe(path);
                if (device != null) return device;
            }
        }
        finally
        {
            SetupDiDestroyDeviceInfoList(deviceInfoSet);
        }
    }

    static Reading Failed(int minimum, int maximum)
    {
        Reading reading = new Reading();
        reading.Minimum = minimum;
        reading.Maximum = maximum;
        reading.Ok = false;
        return reading;
    }

    public static Reading Read(Device device)
    {
        if (device == null || !device.HasFeature || device.FeatureLength == 0)
        {
            return Failed(0, 0);
        }
        IntPtr handle = Open(device.Path);
        if (IsInvalid(handle)) return Failed(device.FeatureLogicalMin, device.FeatureLogicalMax);
        try
        {
            IntPtr preparsed;
            if (!HidD_GetPreparsedData(handle, out preparsed))
            {
                return Failed(device.FeatureLogicalMin, device.FeatureLogicalMax);
            }
            try
            {
                byte[] report = NewReport(device.FeatureLength, device.FeatureReportId);
                if (!HidD_GetFeature(handle, report, (uint)report.Length))
                {
                    return Failed(device.FeatureLogicalMin, device.FeatureLogicalMax);
                }
                uint value;
                int status = HidP_GetUsageValue(ReportTypeFeature, UsagePageConsumer, 0,
                    UsageSetLevel, out value, preparsed, report, (uint)report.Length);
                if (status != StatusSuccess)
                {
                    return Failed(device.FeatureLogicalMin, device.FeatureLogicalMax);
                }
                Reading reading = new Reading();
                reading.Value = (int)value;
                reading.Minimum = device.FeatureLogicalMin;
                reading.Maximum = device.FeatureLogicalMax;
                reading.Ok = true;
                return reading;
            }
            finally
            {
                HidD_FreePreparsedData(preparsed);
            }
        }
        finally
        {
            CloseHandle(handle);
        }
    }

    static byte[] SetLevelReport(IntPtr preparsed, int reportType, ushort length, byte reportId,
        int raw)
    {
        byte[] report = NewReport(length, reportId);
        int status = HidP_SetUsageValue(reportType, UsagePageConsumer, 0, UsageSetLevel,
            (uint)raw, preparsed, report, (uint)report.Length);
        if (status != StatusSuccess)
        {
            throw new InvalidOperationException(RefusedMessage(status));
        }
        return report;
    }

    public static void Write(Device device, int raw)
    {
        if (device == null) throw new InvalidOperationException("peripherique HID absent");
        IntPtr handle = Open(device.Path);
        if (IsInvalid(handle))
        {
            throw new InvalidOperationException(OpenFailedMessage(Marshal.GetLastWin32Error()));
        }
        try
        {
            IntPtr preparsed;
            if (!HidD_GetPreparsedData(handle, out preparsed))
            {
                throw new InvalidOperationException("descripteur HID illisible");
            }
            try
            {
                bool sent = false;
                int lastError = 0;
                if (device.HasOutput && device.OutputLength > 0)
                {
                    byte[] report = SetLevelReport(preparsed, ReportTypeOutput,
                        device.OutputLength, device.ReportId, raw);
                    uint written;
                    if (WriteFile(handle, report, (uint)report.Length, out written, IntPtr.Zero))
                    {
                        sent = true;
                    }
                    else
                    {
                        lastError = Marshal.GetLastWin32Error();
                        if (HidD_SetOutputReport(handle, report, (uint)report.Length))
                        {
                            sent = true;
                        }
                        else
                        {
                            lastError = Marshal.GetLastWin32Error();
                        }
                    }
                }
                if (!sent && device.HasFeature && device.FeatureLength > 0)
                {
                    byte[] report = SetLevelReport(preparsed, ReportTypeFeature,
                        device.FeatureLength, device.FeatureReportId, raw);
                    if (HidD_SetFeature(handle, report, (uint)report.Length))
                    {
                        sent = true;
                    }
                    else
                    {
                        lastError = Marshal.GetLastWin32Error();
                    }
                }
                if (!sent) throw new InvalidOperationException(NotAcceptedMessage(lastError));
            }
            finally
            {
                HidD_FreePreparsedData(preparsed);
            }
        }
        finally
        {
            CloseHandle(handle);
        }
    }
}
'@

# Compiled only when this PowerShell process does not have the type yet:
# Add-Type cannot define the same type twice.
function Import-TpKbBacklight {
    if ($null -eq ('TpKbBacklight' -as [type])) {
        Add-Type -TypeDefinition $TpKbBacklightSource -Language CSharp -IgnoreWarnings
    }
}

function Import-HidKbBacklight {
    if ($null -eq ('HidKbBacklight' -as [type])) {
        Add-Type -TypeDefinition $HidKbBacklightSource -Language CSharp -IgnoreWarnings
    }
}

# ---------------------------------------------------------------------------
# Backend 1: Framework vendor tools (framework_tool.exe on the FW13,
# qmk_hid.exe on the FW16)
# ---------------------------------------------------------------------------

# Everything the tool prints, standard output and standard error together, or
# $null when the tool is not there. Its exit status says nothing useful.
function Invoke-FrameworkTool {
    param([string]$FileName, [string[]]$Arguments)
    $path = [System.IO.Path]::Combine($FrameworkDir, $FileName)
    if (-not [System.IO.File]::Exists($path)) {
        return $null
    }
    # Under 'Stop', Windows PowerShell turns each line on standard error into a
    # terminating error; here those lines are ordinary output.
    $ErrorActionPreference = 'Continue'
    $lines = @(& $path @Arguments 2>&1 | ForEach-Object { [string]$_ })
    return ($lines -join "`n")
}

# The first "NN %" in a text, or $null.
function Get-FrameworkPercent {
    param([AllowNull()][string]$Text)
    if ([string]::IsNullOrEmpty($Text)) {
        return $null
    }
    $match = [regex]::Match($Text, '([0-9]{1,3})\s*%')
    if (-not $match.Success) {
        return $null
    }
    return [int]$match.Groups[1].Value
}

function Get-FrameworkLevel {
    param([int]$Percent)
    if ($Percent -ge 75) { return 2 }
    if ($Percent -ge 25) { return 1 }
    return 0
}

if (-not [string]::IsNullOrEmpty($FrameworkDir)) {
    $frameworkFound = $false
    try {
        $readArguments = @('--kblight')
        $writeArguments = @('--kblight')
        $toolFile = 'framework_tool.exe'
        $percent = Get-FrameworkPercent (Invoke-FrameworkTool $toolFile $readArguments)
        if ($null -eq $percent) {
            $readArguments = @('via', '--backlight')
            $writeArguments = @('via', '--backlight')
            $toolFile = 'qmk_hid.exe'
            $percent = Get-FrameworkPercent (Invoke-FrameworkTool $toolFile $readArguments)
        }
        if ($null -ne $percent) {
            $frameworkFound = $true
            $script:result['available'] = $true
            $script:result['source'] = 'framework'
            $script:result['max_level'] = 2
            $script:result['known'] = $true
            $script:result['level'] = [int](Get-FrameworkLevel $percent)
        }
    } catch {
        Add-Error ('Framework : ' + (Get-ErrorText $_))
    }

    if ($frameworkFound) {
        # Once a tool has answered, Framework is the backend of this run: a
        # failure while writing is reported, not a reason to try another one.
        try {
            if ($Mode -eq 'write') {
                if (-not (Test-LevelInRange $Level 2)) {
                    Add-Error 'niveau hors limites'
                } else {
                    $target = @(0, 50, 100)[$Level]
                    $null = Invoke-FrameworkTool $toolFile ($writeArguments + @([string]$target))
                    $script:result['applied'] = $true
                    $after = Get-FrameworkPercent (Invoke-FrameworkTool $toolFile $readArguments)
                    if ($null -ne $after) {
                        $script:result['level'] = [int](Get-FrameworkLevel $after)
                        $script:result['verified'] = ($script:result['level'] -eq $Level)
                    } else {
                        $script:result['level'] = $Level
                        Add-Error 'commande Framework envoyee ; confirmation indisponible'
                    }
                }
            }
        } catch {
            Add-Error ('Framework : ' + (Get-ErrorText $_))
        }
        Emit-Result
    }
}

# ---------------------------------------------------------------------------
# Backend 2: ThinkPad power-management driver
# ---------------------------------------------------------------------------

$thinkpadFound = $false
try {
    Import-TpKbBacklight
    $state = [TpKbBacklight]::Read()
    if ($state.Ready) {
        $thinkpadFound = $true
        $max = [int][TpKbBacklight]::MaxLevel($state)
        $script:result['available'] = $true
        $script:result['known'] = $true
        $script:result['max_level'] = $max
        $script:result['level'] = [int][TpKbBacklight]::CurrentLevel($state, $max)
        $script:result['source'] = 'thinkpad-pm'
    } else {
        Add-Diagnostic 'ThinkPad PM : retroeclairage non pret'
    }
} catch {
    $message = Get-ErrorText $_
    # A machine without the driver is the common case, not a fault.
    if ($message.IndexOf('IBMPmDrv absent', [System.StringComparison]::OrdinalIgnoreCase) -lt 0) {
        Add-Diagnostic ('ThinkPad PM : ' + $message)
    }
}

if ($thinkpadFound) {
    if ($Mode -eq 'write') {
        if (-not (Test-LevelInRange $Level $max)) {
            Add-Error 'niveau hors limites'
        } else {
            try {
                [TpKbBacklight]::Write($Level)
                $script:result['applied'] = $true
                $after = [TpKbBacklight]::Read()
                $script:result['level'] = [int][TpKbBacklight]::CurrentLevel($after, $max)
                $script:result['verified'] = ($script:result['level'] -eq $Level)
                if (-not $script:result['verified']) {
                    Add-Error 'lecture de confirmation differente'
                }
            } catch {
                $script:result['known'] = $false
                Add-Error (Get-ErrorText $_)
            }
        }
    }
    Emit-Result
}

# ---------------------------------------------------------------------------
# Backend 3: standard HID keyboard backlight
# ---------------------------------------------------------------------------

$hidFound = $false
try {
    Import-HidKbBacklight
    $device = [HidKbBacklight]::Find()
    if ($null -ne $device) {
        $hidFound = $true
        $script:result['available'] = $true
        $script:result['source'] = 'hid'
        # The scale follows the range of the value that is written.
        $script:result['max_level'] = [int][HidKbBacklight]::MaxLevel($device.LogicalMin, $device.LogicalMax)
    }
} catch {
    Add-Diagnostic ('HID : ' + (Get-ErrorText $_))
}

if ($hidFound) {
    # Once the device is found it answers; a failure from here on is reported
    # in this answer rather than passed over.
    try {
        $reading = [HidKbBacklight]::Read($device)
        if ($reading.Ok) {
            $script:result['known'] = $true
            $script:result['level'] = [int][HidKbBacklight]::Normalize($reading.Value, $reading.Minimum, $reading.Maximum)
        } else {
            Add-Error 'etat HID non lisible (rapport de confirmation absent)'
        }
    } catch {
        Add-Error ('HID : ' + (Get-ErrorText $_))
    }

    if ($Mode -eq 'write') {
        if (-not (Test-LevelInRange $Level $script:result['max_level'])) {
            Add-Error 'niveau hors limites'
        } else {
            try {
                $raw = [int][HidKbBacklight]::RawFor($Level, $device.LogicalMin, $device.LogicalMax)
                [HidKbBacklight]::Write($device, $raw)
                $script:result['applied'] = $true
                $after = [HidKbBacklight]::Read($device)
                if ($after.Ok) {
                    $script:result['known'] = $true
                    $script:result['level'] = [int][HidKbBacklight]::Normalize($after.Value, $after.Minimum, $after.Maximum)
                    $script:result['verified'] = ($script:result['level'] -eq $Level)
                    if (-not $script:result['verified']) {
                        Add-Error 'lecture de confirmation differente'
                    }
                } else {
                    $script:result['known'] = $false
                    $script:result['level'] = $Level
                    Add-Error 'commande HID envoyee ; confirmation indisponible'
                }
            } catch {
                $script:result['known'] = $false
                Add-Error (Get-ErrorText $_)
            }
        }
    }
    Emit-Result
}

# ---------------------------------------------------------------------------
# Backend 4: Lenovo WMI lighting class
# ---------------------------------------------------------------------------

$wmiNamespace = 'root/WMI'
$wmiClass = 'LENOVO_LIGHTING_METHOD'

# Brightness values of the class: 1 off, 2 low, 3 high. An answer without
# Current_Brightness_Level reads as 0, out of range: under Set-StrictMode a
# plain reading of a missing member would throw instead.
function Get-WmiBrightness {
    param($Instance)
    $output = Invoke-CimMethod -InputObject $Instance -MethodName 'Get_Lighting_Current_Status' -Arguments @{ Lighting_ID = [uint32]0 }
    if ($null -eq $output) {
        return 0
    }
    $member = $output.PSObject.Properties['Current_Brightness_Level']
    if ($null -eq $member) {
        return 0
    }
    return [int]$member.Value
}

# The class or $null; a missing class is the normal case on other machines and
# leaves no trace, whether the lookup reports it quietly or by throwing.
function Find-LightingClass {
    try {
        return Get-CimClass -Namespace $wmiNamespace -ClassName $wmiClass -ErrorAction SilentlyContinue
    } catch {
        $exception = $_.Exception
        if (($exception.GetType().FullName -eq 'Microsoft.Management.Infrastructure.CimException') -and
            ([string]$exception.NativeErrorCode -eq 'NotFound')) {
            return $null
        }
        throw
    }
}

$wmiFound = $false
try {
    $class = Find-LightingClass
    if ($null -ne $class) {
        $wmiFound = $true
        $script:result['available'] = $true
        $script:result['source'] = 'lenovo-wmi'
    }
} catch {
    Add-Diagnostic ('Lenovo WMI : ' + (Get-ErrorText $_))
}

if ($wmiFound) {
    try {
        $instance = Get-CimInstance -Namespace $wmiNamespace -ClassName $wmiClass | Select-Object -First 1
        if ($null -eq $instance) {
            throw 'instance WMI absente'
        }
        $value = Get-WmiBrightness $instance
        if (($value -ge 1) -and ($value -le 3)) {
            $script:result['known'] = $true
            $script:result['level'] = $value - 1
            $script:result['max_level'] = 2
        } else {
            Add-Error 'niveau WMI hors plage'
        }
        if ($Mode -eq 'write') {
            if (-not (Test-LevelInRange $Level 2)) {
                Add-Error 'niveau hors limites'
            } else {
                $arguments = @{
                    Current_Brightness_Level = [uint32]($Level + 1)
                    Current_State_Type       = [uint32]0
                    Lighting_ID              = [uint32]0
                }
                $null = Invoke-CimMethod -InputObject $instance -MethodName 'Set_Lighting_Current_Status' -Arguments $arguments
                $script:result['applied'] = $true
                $value = Get-WmiBrightness $instance
                if (($value -ge 1) -and ($value -le 3)) {
                    $script:result['known'] = $true
                    $script:result['level'] = $value - 1
                    $script:result['verified'] = ($script:result['level'] -eq $Level)
                } else {
                    $script:result['known'] = $false
                    $script:result['level'] = $Level
                    Add-Error 'commande WMI envoyee ; confirmation indisponible'
                }
            }
        }
    } catch {
        Add-Error (Get-ErrorText $_)
    }
    Emit-Result
}

# ---------------------------------------------------------------------------
# End: no backend answered
# ---------------------------------------------------------------------------

$reason = 'aucune interface de retroeclairage clavier detectee'
if ($script:errors.Count -gt 0) {
    $reason = $reason + ' (' + ($script:errors -join '; ') + ')'
}
# Replaces any earlier failure: with no backend, the absence is the answer.
$script:result['reason'] = $reason
Emit-Result
