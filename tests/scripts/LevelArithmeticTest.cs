// Checks the pure logic of the two classes the backlight script compiles at
// run time: the HID level arithmetic and report parsing, and the ThinkPad
// state-word arithmetic. The classes are cut out of the script and compiled
// as they are; nothing here calls into Windows.
//
// Prints one line per failed check, then "level arithmetic: N passed, M failed";
// exit status 1 when any check failed.

using System;

static class LevelArithmeticTest
{
    static int passed;
    static int failed;

    static void Equal<T>(string name, T expected, T actual)
    {
        if (Object.Equals(expected, actual))
        {
            passed++;
            return;
        }
        failed++;
        Console.WriteLine("FAIL " + name + ": expected " + expected + ", got " + actual);
    }

    static void True(string name, bool condition)
    {
        Equal(name, true, condition);
    }

    static void HidLevelsFullByteRange()
    {
        Equal("0-255 MaxLevel", 2, HidKbBacklight.MaxLevel(0, 255));
        Equal("0-255 RawFor(0)", 0, HidKbBacklight.RawFor(0, 0, 255));
        Equal("0-255 RawFor(1)", 102, HidKbBacklight.RawFor(1, 0, 255));
        Equal("0-255 RawFor(2)", 255, HidKbBacklight.RawFor(2, 0, 255));
        Equal("0-255 RawFor(7) is the maximum", 255, HidKbBacklight.RawFor(7, 0, 255));
        Equal("0-255 RawFor(-1) is off", 0, HidKbBacklight.RawFor(-1, 0, 255));
        Equal("0-255 Normalize(170)", 2, HidKbBacklight.Normalize(170, 0, 255));
        Equal("0-255 Normalize(169)", 1, HidKbBacklight.Normalize(169, 0, 255));
        Equal("0-255 Normalize(1)", 1, HidKbBacklight.Normalize(1, 0, 255));
        Equal("0-255 Normalize(0)", 0, HidKbBacklight.Normalize(0, 0, 255));
        Equal("0-255 Normalize(-4)", 0, HidKbBacklight.Normalize(-4, 0, 255));
        Equal("0-255 Normalize(255)", 2, HidKbBacklight.Normalize(255, 0, 255));
    }

    static void HidLevelsOnOffRange()
    {
        Equal("0-1 MaxLevel", 1, HidKbBacklight.MaxLevel(0, 1));
        for (int raw = 1; raw <= 300; raw += 37)
        {
            Equal("0-1 Normalize(" + raw + ")", 1, HidKbBacklight.Normalize(raw, 0, 1));
        }
        Equal("0-1 Normalize(0)", 0, HidKbBacklight.Normalize(0, 0, 1));
        Equal("0-1 RawFor(0)", 0, HidKbBacklight.RawFor(0, 0, 1));
        Equal("0-1 RawFor(1)", 1, HidKbBacklight.RawFor(1, 0, 1));
        Equal("0-1 RawFor(2)", 1, HidKbBacklight.RawFor(2, 0, 1));
        Equal("5-6 MaxLevel", 1, HidKbBacklight.MaxLevel(5, 6));
        Equal("5-7 MaxLevel", 2, HidKbBacklight.MaxLevel(5, 7));
        Equal("0-2 MaxLevel", 2, HidKbBacklight.MaxLevel(0, 2));
    }

    static void HidLevelsRangeWithoutZero()
    {
        Equal("1-3 MaxLevel", 2, HidKbBacklight.MaxLevel(1, 3));
        Equal("1-3 RawFor(0) is the minimum", 1, HidKbBacklight.RawFor(0, 1, 3));
        Equal("1-3 Normalize(1)", 1, HidKbBacklight.Normalize(1, 1, 3));
        Equal("1-3 RawFor(1) stays above the minimum", 2, HidKbBacklight.RawFor(1, 1, 3));
        Equal("1-3 Normalize(2)", 1, HidKbBacklight.Normalize(2, 1, 3));
        Equal("1-3 Normalize(3)", 2, HidKbBacklight.Normalize(3, 1, 3));
        Equal("1-3 RawFor(2)", 3, HidKbBacklight.RawFor(2, 1, 3));
        Equal("0-2 RawFor(1) stays above the minimum", 1, HidKbBacklight.RawFor(1, 0, 2));
        Equal("-5..5 RawFor(0) is zero inside the range", 0, HidKbBacklight.RawFor(0, -5, 5));
        Equal("-5..5 Normalize(-3)", 0, HidKbBacklight.Normalize(-3, -5, 5));
        Equal("10-20 RawFor(1) truncates 40 %", 14, HidKbBacklight.RawFor(1, 10, 20));
        Equal("0-7 RawFor(1) truncates 2.8", 2, HidKbBacklight.RawFor(1, 0, 7));
    }

    static void HidLevelsExtremeRanges()
    {
        Equal("full int range MaxLevel", 2, HidKbBacklight.MaxLevel(int.MinValue, int.MaxValue));
        Equal("top of int range MaxLevel", 1, HidKbBacklight.MaxLevel(int.MaxValue - 1, int.MaxValue));
        Equal("full int range RawFor(1)", -429496730,
            HidKbBacklight.RawFor(1, int.MinValue, int.MaxValue));
        Equal("full int range Normalize(max)", 2,
            HidKbBacklight.Normalize(int.MaxValue, int.MinValue, int.MaxValue));
    }

    // Writing a level and reading back the raw value written gives the level
    // again on every range that starts at zero.
    static void HidLevelsRoundTrip()
    {
        int[][] ranges = { new[] { 0, 255 }, new[] { 0, 100 }, new[] { 0, 3 }, new[] { 0, 1 },
                           new[] { 0, 2 }, new[] { 0, 15 }, new[] { 0, 65535 } };
        foreach (int[] range in ranges)
        {
            int max = HidKbBacklight.MaxLevel(range[0], range[1]);
            for (int level = 0; level <= max; level++)
            {
                int raw = HidKbBacklight.RawFor(level, range[0], range[1]);
                Equal("round trip " + range[0] + "-" + range[1] + " level " + level, level,
                    HidKbBacklight.Normalize(raw, range[0], range[1]));
                True("raw in range " + range[0] + "-" + range[1] + " level " + level,
                    raw >= range[0] && raw <= range[1]);
            }
        }
    }

    static byte[] ValueCapsBytes(ushort page, byte reportId, bool isRange, int min, int max,
        ushort usageMin, ushort usageMax)
    {
        byte[] bytes = new byte[HidKbBacklight.ValueCapsSize];
        BitConverter.GetBytes(page).CopyTo(bytes, 0);
        bytes[2] = reportId;
        bytes[12] = (byte)(isRange ? 1 : 0);
        BitConverter.GetBytes(min).CopyTo(bytes, 40);
        BitConverter.GetBytes(max).CopyTo(bytes, 44);
        BitConverter.GetBytes(usageMin).CopyTo(bytes, 56);
        // In a single usage the word after the usage is reserved; fill it so
        // that reading it as a range end would show.
        BitConverter.GetBytes(isRange ? usageMax : (ushort)0xFFFF).CopyTo(bytes, 58);
        return bytes;
    }

    static byte[] Concat(params byte[][] parts)
    {
        int length = 0;
        foreach (byte[] part in parts) length += part.Length;
        byte[] all = new byte[length];
        int offset = 0;
        foreach (byte[] part in parts)
        {
            part.CopyTo(all, offset);
            offset += part.Length;
        }
        return all;
    }

    static void HidReportParsing()
    {
        byte[] caps = new byte[HidKbBacklight.CapsSize];
        BitConverter.GetBytes((ushort)0x07).CopyTo(caps, 0);
        BitConverter.GetBytes((ushort)0x0C).CopyTo(caps, 2);
        BitConverter.GetBytes((ushort)9).CopyTo(caps, 4);
        BitConverter.GetBytes((ushort)3).CopyTo(caps, 6);
        BitConverter.GetBytes((ushort)5).CopyTo(caps, 8);
        BitConverter.GetBytes((ushort)1).CopyTo(caps, 48);
        BitConverter.GetBytes((ushort)2).CopyTo(caps, 54);
        BitConverter.GetBytes((ushort)4).CopyTo(caps, 60);
        HidKbBacklight.Caps parsed = HidKbBacklight.ParseCaps(caps);
        Equal("caps usage", (ushort)0x07, parsed.Usage);
        Equal("caps usage page", (ushort)0x0C, parsed.UsagePage);
        Equal("caps output length", (ushort)3, parsed.OutputLength);
        Equal("caps feature length", (ushort)5, parsed.FeatureLength);
        Equal("caps output value count", (ushort)2, parsed.OutputValueCount);
        Equal("caps feature value count", (ushort)4, parsed.FeatureValueCount);

        byte[] values = Concat(
            ValueCapsBytes(0x0C, 1, false, 0, 9, 0x7A, 0),      // other usage
            ValueCapsBytes(0x01, 2, false, 0, 9, 0x7B, 0),      // other page
            ValueCapsBytes(0x0C, 3, true, 0, 255, 0x70, 0x7F),  // range covering Set Level
            ValueCapsBytes(0x0C, 4, false, 0, 1, 0x7B, 0));     // single Set Level, later
        HidKbBacklight.ValueCaps found = HidKbBacklight.FindSetLevel(values, 4);
        True("Set Level found in a usage range", found != null);
        if (found != null)
        {
            Equal("first Set Level wins", (byte)3, found.ReportId);
            Equal("Set Level logical max", 255, found.LogicalMax);
        }
        Equal("count limits the search", null, HidKbBacklight.FindSetLevel(values, 2));
        Equal("count beyond the buffer is safe", null,
            HidKbBacklight.FindSetLevel(ValueCapsBytes(0x0C, 1, false, 0, 9, 0x7A, 0), 5));
        HidKbBacklight.ValueCaps single = HidKbBacklight.FindSetLevel(
            ValueCapsBytes(0x0C, 6, false, -1, 1, 0x7B, 0), 1);
        True("single Set Level usage", single != null && single.ReportId == 6 && single.LogicalMin == -1);
        Equal("range ending before Set Level", null, HidKbBacklight.FindSetLevel(
            ValueCapsBytes(0x0C, 1, true, 0, 9, 0x70, 0x7A), 1));
        Equal("range starting after Set Level", null, HidKbBacklight.FindSetLevel(
            ValueCapsBytes(0x0C, 1, true, 0, 9, 0x7C, 0x80), 1));
        Equal("too short a buffer", null, HidKbBacklight.FindSetLevel(new byte[10], 1));
    }

    static HidKbBacklight.ValueCaps Value(byte reportId, int min, int max)
    {
        HidKbBacklight.ValueCaps value = new HidKbBacklight.ValueCaps();
        value.UsagePage = 0x0C;
        value.ReportId = reportId;
        value.LogicalMin = min;
        value.LogicalMax = max;
        value.UsageMin = 0x7B;
        value.UsageMax = 0x7B;
        return value;
    }

    static void HidDeviceRecord()
    {
        HidKbBacklight.Caps caps = new HidKbBacklight.Caps();
        caps.OutputLength = 2;
        caps.FeatureLength = 3;

        HidKbBacklight.Device both = HidKbBacklight.Describe("p", caps, Value(1, 0, 1), Value(2, 0, 255));
        Equal("both: output range is the scale min", 0, both.LogicalMin);
        Equal("both: output range is the scale max", 1, both.LogicalMax);
        Equal("both: feature range kept", 255, both.FeatureLogicalMax);
        Equal("both: report id", (byte)1, both.ReportId);
        Equal("both: feature report id", (byte)2, both.FeatureReportId);
        True("both: flags", both.HasOutput && both.HasFeature);
        Equal("both: lengths", "2/3", both.OutputLength + "/" + both.FeatureLength);
        Equal("both: MaxLevel from the output range", 1,
            HidKbBacklight.MaxLevel(both.LogicalMin, both.LogicalMax));

        HidKbBacklight.Device featureOnly = HidKbBacklight.Describe("p", caps, null, Value(2, 0, 255));
        Equal("feature only: scale from the feature range", 255, featureOnly.LogicalMax);
        True("feature only: flags", !featureOnly.HasOutput && featureOnly.HasFeature);
        Equal("feature only: MaxLevel", 2,
            HidKbBacklight.MaxLevel(featureOnly.LogicalMin, featureOnly.LogicalMax));

        HidKbBacklight.Device outputOnly = HidKbBacklight.Describe("p", caps, Value(1, 0, 100), null);
        True("output only: flags", outputOnly.HasOutput && !outputOnly.HasFeature);
        Equal("output only: no feature range", 0, outputOnly.FeatureLogicalMax);
        True("output only: reading fails without touching the device",
            !HidKbBacklight.Read(outputOnly).Ok && HidKbBacklight.Read(outputOnly).Maximum == 0);
        Equal("neither: no device", null, HidKbBacklight.Describe("p", caps, null, null));
        True("no device: reading fails", !HidKbBacklight.Read(null).Ok);

        byte[] report = HidKbBacklight.NewReport(4, 5);
        Equal("report with id", "5,0,0,0", String.Join(",", report));
        Equal("report without id", "0,0,0", String.Join(",", HidKbBacklight.NewReport(3, 0)));
        Equal("empty report", 0, HidKbBacklight.NewReport(0, 5).Length);
    }

    static void HidMessages()
    {
        Equal("refused status in capitals", "rapport Set Level refuse (0xC0110004)",
            HidKbBacklight.RefusedMessage(unchecked((int)0xC0110004)));
        Equal("refused status without leading zeros", "rapport Set Level refuse (0x110001)",
            HidKbBacklight.RefusedMessage(0x00110001));
        Equal("open failure", "ouverture HID impossible (erreur 5)", HidKbBacklight.OpenFailedMessage(5));
        Equal("no report accepted", "aucun rapport HID accepte (erreur 31)",
            HidKbBacklight.NotAcceptedMessage(31));
        Equal("success status", 0x00110000, HidKbBacklight.StatusSuccess);
        True("missing device raises its text", Raises(delegate { HidKbBacklight.Write(null, 1); },
            "peripherique HID absent"));
    }

    static bool Raises(Action action, string message)
    {
        try
        {
            action();
        }
        catch (Exception e)
        {
            if (e.Message == message) return true;
            Console.WriteLine("  raised: " + e.Message);
            return false;
        }
        return false;
    }

    static void ThinkpadStateWord()
    {
        TpKbBacklight.State state = TpKbBacklight.Decode(0x00050231);
        Equal("current level bits 0-3", 1, state.Level);
        Equal("highest level bits 8-11", 2, state.Highest);
        True("ready when bits 16-19 are 5", state.Ready);
        True("bit 21 clear", !state.Flag21);
        Equal("whole word kept", 0x00050231, state.Word);

        True("bits 16-19 of 4: not ready", !TpKbBacklight.Decode(0x00040201).Ready);
        True("bits 16-19 of 0xD: not ready", !TpKbBacklight.Decode(0x000D0201).Ready);
        True("bit 20 beside the marker: ready", TpKbBacklight.Decode(0x00150201).Ready);
        True("bit 21 set", TpKbBacklight.Decode(0x00250201).Flag21);
        Equal("level uses four bits", 0xF, TpKbBacklight.Decode(0x7FFFFFFF).Level);
        Equal("highest uses four bits", 0xF, TpKbBacklight.Decode(0x7FFFFFFF).Highest);

        Equal("highest 0 gives max 1", 1, TpKbBacklight.MaxLevel(TpKbBacklight.Decode(0x00050000)));
        Equal("highest 1 gives max 1", 1, TpKbBacklight.MaxLevel(TpKbBacklight.Decode(0x00050100)));
        Equal("highest 2 gives max 2", 2, TpKbBacklight.MaxLevel(TpKbBacklight.Decode(0x00050200)));
        Equal("highest 7 gives max 2", 2, TpKbBacklight.MaxLevel(TpKbBacklight.Decode(0x00050700)));
        Equal("current level limited to max", 2,
            TpKbBacklight.CurrentLevel(TpKbBacklight.Decode(0x00050705), 2));
        Equal("current level within max", 1,
            TpKbBacklight.CurrentLevel(TpKbBacklight.Decode(0x00050701), 2));
        Equal("current level limited to max 1", 1,
            TpKbBacklight.CurrentLevel(TpKbBacklight.Decode(0x00050002), 1));

        Equal("set argument with bit 21", 0x172, TpKbBacklight.SetArgument(0x00250270, 2));
        Equal("set argument without bit 21", 0x071, TpKbBacklight.SetArgument(0x00050270, 1));
        Equal("set argument drops the other bits", 0x0A0,
            TpKbBacklight.SetArgument(0x7FD5FFA2 & ~(1 << 21), 0));
        Equal("set argument level 0 keeps bits 4-7", 0x1F0, TpKbBacklight.SetArgument(0x002502F2, 0));
        Equal("get and set control codes", "2238080/2238084",
            TpKbBacklight.GetStateCode + "/" + TpKbBacklight.SetStateCode);
    }

    static void ThinkpadMessages()
    {
        Equal("not ready text", "retroeclairage non pret (0x40201)",
            TpKbBacklight.NotReadyMessage(0x00040201));
        Equal("not ready text in capitals", "retroeclairage non pret (0xABCDEF)",
            TpKbBacklight.NotReadyMessage(0x00ABCDEF));
        Equal("not ready text of zero", "retroeclairage non pret (0x0)", TpKbBacklight.NotReadyMessage(0));
        Equal("not ready text of a negative word", "retroeclairage non pret (0xFFFFFFFF)",
            TpKbBacklight.NotReadyMessage(-1));
        Equal("driver absent", "IBMPmDrv absent (erreur 2)", TpKbBacklight.AbsentMessage(2));
        Equal("ioctl failure", "DeviceIoControl 2238084 (erreur 1)",
            TpKbBacklight.IoctlMessage(TpKbBacklight.SetStateCode, 1));
        Equal("device path", @"\\.\IBMPmDrv", TpKbBacklight.DevicePath);

        Equal("little endian bytes", "68,51,34,17",
            String.Join(",", TpKbBacklight.ToLittleEndian(0x11223344)));
        Equal("little endian round trip", -123456789,
            TpKbBacklight.FromLittleEndian(TpKbBacklight.ToLittleEndian(-123456789)));
        Equal("little endian high byte", unchecked((int)0x80000001),
            TpKbBacklight.FromLittleEndian(new byte[] { 1, 0, 0, 0x80 }));
    }

    static int Main()
    {
        HidLevelsFullByteRange();
        HidLevelsOnOffRange();
        HidLevelsRangeWithoutZero();
        HidLevelsExtremeRanges();
        HidLevelsRoundTrip();
        HidReportParsing();
        HidDeviceRecord();
        HidMessages();
        ThinkpadStateWord();
        ThinkpadMessages();
        Console.WriteLine("level arithmetic: " + passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }
}
