# The scenario list: one entry per script run.
#   Name, Mode ('read'), Level (0), Sim (the simulated machine: thinkpad, hid,
#   wmi, class_devs_error), Framework (tool file name -> @{ outputs; stream }
#   or 'not-executable'), EmptyFrameworkDir, Expect (members that differ from
#   the initial result, tables applied in turn), Reason (exact, or with '*' where PowerShell's own
#   text goes), Log (call patterns that must appear in this order), NotLog
#   (patterns no call may match), Fails (the run must end with a non-zero
#   status and print nothing).

# A ThinkPad state word: level in bits 0-3, carried bits 4-7, highest level
# in bits 8-11, ready marker 5 in bits 16-19, and bit 21.
function Tp {
    param([int]$Level, [int]$Highest = 2, [int]$Carried = 0, [switch]$Bit21, [switch]$NotReady)
    $word = $Level -bor ($Carried -shl 4) -bor ($Highest -shl 8)
    if (-not $NotReady) { $word = $word -bor 0x50000 }
    if ($Bit21) { $word = $word -bor 0x200000 }
    return $word
}

# A HID keyboard backlight interface with one Set Level value in the output
# and in the feature report (range Min..Max), reading Value.
function Kbd {
    param([int]$Min = 0, [int]$Max = 255, [int]$Value = 0, [hashtable]$More = @{}, [switch]$OutputOnly,
        [switch]$FeatureOnly, [int]$ReportId = 0)
    $device = @{ value = $Value }
    $set = @{ min = $Min; max = $Max; report_id = $ReportId }
    if (-not $FeatureOnly) { $device.output = @($set) }
    if (-not $OutputOnly) { $device.feature = @($set) }
    foreach ($key in $More.Keys) { $device[$key] = $More[$key] }
    return $device
}

$none = 'aucune interface de retroeclairage clavier detectee'
$tpOpen = 'CreateFileW \\.\IBMPmDrv access=0x80000000 share=1 disposition=3 flags=0x0 security=null template=null'
$getState = 'DeviceIoControl handle * code=0x222680 in=0x00000000'
$hidEnum = 'SetupDiGetClassDevsW guid=hid enumerator=null parent=null flags=0x12'
$hidOpen = 'CreateFileW \\?\hid#* access=0xc0000000 share=3 disposition=3 flags=0x80 security=null template=null'
$tpRead = @{ available = $true; known = $true; source = 'thinkpad-pm' }
$fw = @{ available = $true; known = $true; source = 'framework' }
$hid = @{ available = $true; known = $true; source = 'hid' }
$wmi = @{ available = $true; known = $true; source = 'lenovo-wmi' }

@(
    # ---- nothing there, parameters --------------------------------------
    @{ Name = 'no backend and no diagnostics'; Sim = @{}; Expect = @{}; Reason = $none
        Log = @($tpOpen, '  -> invalid handle, error 2', $hidEnum, 'SetupDiEnumDeviceInterfaces index=0 -> no more items',
            'Get-CimClass namespace=root/WMI class=LENOVO_LIGHTING_METHOD erroraction=SilentlyContinue')
        NotLog = @('Get-CimInstance*', 'framework_tool.exe*') }
    @{ Name = 'mode x ends with a non-zero status'; Mode = 'x'; Sim = @{}; Fails = $true; NotLog = @('*') }
    @{ Name = 'mode WRITE is write'; Mode = 'WRITE'; Level = 1; Sim = @{ thinkpad = @{ gets = @((Tp 0), (Tp 1)) } }
        Expect = $tpRead, @{ level = 1; applied = $true; verified = $true }
        Log = @('DeviceIoControl handle * code=0x222684 in=0x00000001') }
    @{ Name = 'level not a number ends with a non-zero status'; Mode = 'write'; Level = 'abc'; Sim = @{}; Fails = $true }
    @{ Name = 'empty FrameworkDir runs no Framework tool, not even one in the working directory'; EmptyFrameworkDir = $true
        ToolsInWorkingDirectory = $true; Sim = @{}; Expect = @{}; Reason = $none; NotLog = @('framework_tool.exe*', 'qmk_hid.exe*') }

    # ---- Framework tools ---------------------------------------------------
    @{ Name = 'Framework 60 space percent is level 1'; Framework = @{ 'framework_tool.exe' = @{ outputs = @('Keyboard backlight: 60 %') } }
        Sim = @{ thinkpad = @{ gets = @((Tp 2)) } }; Expect = $fw, @{ level = 1 }
        Log = @('framework_tool.exe argc=1 [--kblight]'); NotLog = @('CreateFileW*', 'qmk_hid.exe*') }
    @{ Name = 'Framework 100 percent is level 2'; Framework = @{ 'framework_tool.exe' = @{ outputs = @('100%') } }
        Sim = @{}; Expect = $fw, @{ level = 2 } }
    @{ Name = 'Framework 20 percent is level 0, read from standard error'; Framework = @{ 'framework_tool.exe' = @{ outputs = @('20 %'); stream = 'stderr' } }
        Sim = @{}; Expect = $fw, @{ level = 0 } }
    @{ Name = 'Framework write 1 sends 50 and a read-back of 45 percent verifies'; Mode = 'write'; Level = 1
        Framework = @{ 'framework_tool.exe' = @{ outputs = @('0 %', '', '45 %') } }; Sim = @{}
        Expect = $fw, @{ level = 1; applied = $true; verified = $true }
        Log = @('framework_tool.exe argc=1 [--kblight]', 'framework_tool.exe argc=2 [--kblight] [50]', 'framework_tool.exe argc=1 [--kblight]') }
    @{ Name = 'Framework write 2 read back as 60 percent is applied, not verified, no failure'; Mode = 'write'; Level = 2
        Framework = @{ 'framework_tool.exe' = @{ outputs = @('0 %', '', '60 %') } }; Sim = @{}
        Expect = $fw, @{ level = 1; applied = $true }; Log = @('framework_tool.exe argc=2 [--kblight] [100]') }
    @{ Name = 'Framework read-back without a percentage'; Mode = 'write'; Level = 0
        Framework = @{ 'framework_tool.exe' = @{ outputs = @('80 %', 'done', 'busy') } }; Sim = @{}
        Expect = $fw, @{ level = 0; applied = $true }; Reason = 'commande Framework envoyee ; confirmation indisponible'
        Log = @('framework_tool.exe argc=2 [--kblight] [0]') }
    @{ Name = 'Framework write level 3 is out of range'; Mode = 'write'; Level = 3
        Framework = @{ 'framework_tool.exe' = @{ outputs = @('80 %') } }; Sim = @{}
        Expect = $fw, @{ level = 2 }; Reason = 'niveau hors limites'; NotLog = @('framework_tool.exe argc=2*') }
    @{ Name = 'qmk_hid answers when framework_tool prints no percentage'; Mode = 'write'; Level = 2
        Framework = @{ 'framework_tool.exe' = @{ outputs = @('unknown command') }; 'qmk_hid.exe' = @{ outputs = @('Brightness: 0%', 'ok', '100%') } }
        Sim = @{}; Expect = $fw, @{ level = 2; applied = $true; verified = $true }
        Log = @('framework_tool.exe argc=1 [--kblight]', 'qmk_hid.exe argc=2 [via] [--backlight]', 'qmk_hid.exe argc=3 [via] [--backlight] [100]', 'qmk_hid.exe argc=2 [via] [--backlight]')
        NotLog = @('framework_tool.exe argc=2*') }
    @{ Name = 'Framework tools without a percentage fall through to the ThinkPad driver'
        Framework = @{ 'framework_tool.exe' = @{ outputs = @('no backlight') }; 'qmk_hid.exe' = @{ outputs = @('') } }
        Sim = @{ thinkpad = @{ gets = @((Tp 1)) } }; Expect = $tpRead, @{ level = 1 }
        Log = @('framework_tool.exe argc=1 [--kblight]', 'qmk_hid.exe argc=2 [via] [--backlight]', $tpOpen) }
    @{ Name = 'Framework tool in a directory with spaces and quotes gets its arguments whole'; FrameworkName = "frame work 'x' `"y`""
        Framework = @{ 'framework_tool.exe' = @{ outputs = @('30 %') } }; Sim = @{}; Expect = $fw, @{ level = 1 }
        Log = @('framework_tool.exe argc=1 [--kblight]') }
    @{ Name = 'Framework failure stays in reason when the ThinkPad driver answers'
        Framework = @{ 'framework_tool.exe' = 'not-executable' }; Sim = @{ thinkpad = @{ gets = @((Tp 2)) } }
        Expect = $tpRead, @{ level = 2 }; Reason = 'Framework : *' }
    @{ Name = 'Framework failure is replaced by the end text when no backend answers'
        Framework = @{ 'framework_tool.exe' = 'not-executable' }; Sim = @{}; Expect = @{}; Reason = $none }

    # ---- ThinkPad driver ---------------------------------------------------
    @{ Name = 'ThinkPad read'; Sim = @{ thinkpad = @{ gets = @((Tp 1)) } }; Expect = $tpRead, @{ level = 1 }
        Log = @($tpOpen, $getState, '  -> out=0x00050201', 'CloseHandle *'); NotLog = @('SetupDi*', 'Get-Cim*') }
    @{ Name = 'ThinkPad highest level 0 gives max_level 1'; Sim = @{ thinkpad = @{ gets = @((Tp 1 -Highest 0)) } }
        Expect = $tpRead, @{ level = 1; max_level = 1 } }
    @{ Name = 'ThinkPad highest level 7 gives max_level 2, level 5 read as 2'; Sim = @{ thinkpad = @{ gets = @((Tp 5 -Highest 7)) } }
        Expect = $tpRead, @{ level = 2 } }
    @{ Name = 'ThinkPad write with bit 21 sets 0x100 and carries bits 4 to 7'; Mode = 'write'; Level = 2
        Sim = @{ thinkpad = @{ gets = @((Tp 0 -Carried 0xA -Bit21), (Tp 0 -Carried 0xA -Bit21), (Tp 2 -Carried 0xA -Bit21)) } }
        Expect = $tpRead, @{ level = 2; applied = $true; verified = $true }
        Log = @($getState, $getState, 'DeviceIoControl handle * code=0x222684 in=0x000001a2', $getState) }
    @{ Name = 'ThinkPad write without bit 21 sends the level and bits 4 to 7 only'; Mode = 'write'; Level = 0
        Sim = @{ thinkpad = @{ gets = @((Tp 2 -Carried 3), (Tp 2 -Carried 3), (Tp 0 -Carried 3)) } }
        Expect = $tpRead, @{ level = 0; applied = $true; verified = $true }
        Log = @('DeviceIoControl handle * code=0x222684 in=0x00000030') }
    @{ Name = 'ThinkPad write level 2 with max_level 1 is out of range'; Mode = 'write'; Level = 2
        Sim = @{ thinkpad = @{ gets = @((Tp 1 -Highest 1)) } }; Expect = $tpRead, @{ level = 1; max_level = 1 }
        Reason = 'niveau hors limites'; NotLog = @('*code=0x222684*') }
    @{ Name = 'ThinkPad write level -1 is out of range'; Mode = 'write'; Level = -1
        Sim = @{ thinkpad = @{ gets = @((Tp 1)) } }; Expect = $tpRead, @{ level = 1 }; Reason = 'niveau hors limites' }
    @{ Name = 'ThinkPad read-back different'; Mode = 'write'; Level = 2
        Sim = @{ thinkpad = @{ gets = @((Tp 0), (Tp 0), (Tp 1)) } }
        Expect = $tpRead, @{ level = 1; applied = $true }; Reason = 'lecture de confirmation differente' }
    @{ Name = 'ThinkPad not ready at the write answers, HID never tried'; Mode = 'write'; Level = 1
        Sim = @{ thinkpad = @{ gets = @((Tp 0), (Tp 0 -NotReady -Bit21 -Highest 2 -Carried 0xB)) }; hid = @((Kbd)) }
        Expect = $tpRead, @{ known = $false }; Reason = 'retroeclairage non pret (0x2002B0)'; NotLog = @('SetupDi*', '*code=0x222684*') }
    @{ Name = 'ThinkPad set-state failure answers, HID never tried'; Mode = 'write'; Level = 1
        Sim = @{ thinkpad = @{ gets = @((Tp 0)); sets = @(5) }; hid = @((Kbd)) }
        Expect = $tpRead, @{ known = $false }; Reason = 'DeviceIoControl 2238084 (erreur 5)'; NotLog = @('SetupDi*') }
    @{ Name = 'ThinkPad read-back failure answers'; Mode = 'write'; Level = 1
        Sim = @{ thinkpad = @{ gets = @((Tp 0), (Tp 0), @{ error = 1167 }) }; hid = @((Kbd)) }
        Expect = $tpRead, @{ known = $false; applied = $true }; Reason = 'DeviceIoControl 2238080 (erreur 1167)'; NotLog = @('SetupDi*') }
    @{ Name = 'ThinkPad driver gone during the write'; Mode = 'write'; Level = 1
        Sim = @{ thinkpad = @{ opens = @(0, 2); gets = @((Tp 0)) } }
        Expect = $tpRead, @{ known = $false }; Reason = 'IBMPmDrv absent (erreur 2)' }
    @{ Name = 'ThinkPad not ready falls through to HID'; Sim = @{ thinkpad = @{ gets = @((Tp 1 -NotReady)) }; hid = @((Kbd -Value 255)) }
        Expect = $hid, @{ level = 2 }; Log = @($getState, $hidEnum) }
    @{ Name = 'ThinkPad first read failing falls through to HID'; Sim = @{ thinkpad = @{ gets = @(@{ error = 31 }) }; hid = @((Kbd -Value 255)) }
        Expect = $hid, @{ level = 2 }; Log = @($getState, '  -> error 31', $hidEnum) }
    @{ Name = 'ThinkPad not ready and first read failing are diagnostics'
        Sim = @{ thinkpad = @{ gets = @((Tp 1 -NotReady)) } }; Expect = @{}; Reason = "$none (ThinkPad PM : retroeclairage non pret)" }
    @{ Name = 'ThinkPad first read failing is a diagnostic'
        Sim = @{ thinkpad = @{ gets = @(@{ error = 31 }) } }; Expect = @{}; Reason = "$none (ThinkPad PM : DeviceIoControl 2238080 (erreur 31))" }
    @{ Name = 'ThinkPad not ready and HID raising compose the no-interface reason'
        Sim = @{ thinkpad = @{ gets = @((Tp 1 -NotReady)) }; hid = @(@{ detail_size = 2147483656 }) }
        Expect = @{}; Reason = "$none (ThinkPad PM : retroeclairage non pret; HID : *)" }

    # ---- HID ---------------------------------------------------------------
    @{ Name = 'HID 0-255 read 0'; Sim = @{ hid = @((Kbd -Value 0)) }; Expect = $hid, @{ level = 0 }
        Log = @($hidEnum, 'SetupDiEnumDeviceInterfaces index=0 -> interface 0', 'SetupDiGetDeviceInterfaceDetailW interface 0 size query -> *',
            'SetupDiGetDeviceInterfaceDetailW interface 0 cbSize=8 size=*', $hidOpen, 'HidP_GetCaps -> 0x00110000',
            'HidP_GetValueCaps type=1 room=1 -> 1, 0x00110000', 'HidP_GetValueCaps type=2 room=1 -> 1, 0x00110000',
            'HidD_GetFeature handle * report=[00 00 00]', 'HidP_GetUsageValue type=2 page=0x0c usage=0x7b length=3 -> 0x00110000 value=0')
        NotLog = @('Get-Cim*') }
    @{ Name = 'HID 0-255 read 170 is level 2'; Sim = @{ hid = @((Kbd -Value 170)) }; Expect = $hid, @{ level = 2 } }
    @{ Name = 'HID 0-255 read 169 is level 1'; Sim = @{ hid = @((Kbd -Value 169)) }; Expect = $hid, @{ level = 1 } }
    @{ Name = 'HID 0-255 write 1 sends raw 102'; Mode = 'write'; Level = 1; Sim = @{ hid = @((Kbd -Value 0 -ReportId 3)) }
        Expect = $hid, @{ level = 1; applied = $true; verified = $true }
        Log = @('HidP_SetUsageValue type=1 page=0x0c usage=0x7b value=102 length=3 -> 0x00110000', 'WriteFile handle * report=[03 66 00]', '  -> sent 102',
            'HidD_GetFeature handle * report=[03 00 00]') }
    @{ Name = 'HID 0-255 write 2 sends raw 255'; Mode = 'write'; Level = 2; Sim = @{ hid = @((Kbd -Value 0)) }
        Expect = $hid, @{ level = 2; applied = $true; verified = $true }; Log = @('WriteFile handle * report=[00 ff 00]') }
    @{ Name = 'HID 0-255 write 0 sends raw 0'; Mode = 'write'; Level = 0; Sim = @{ hid = @((Kbd -Value 200)) }
        Expect = $hid, @{ level = 0; applied = $true; verified = $true }; Log = @('WriteFile handle * report=[00 00 00]') }
    @{ Name = 'HID 0-1 has max_level 1 and write 1 sends 1'; Mode = 'write'; Level = 1; Sim = @{ hid = @((Kbd -Min 0 -Max 1 -Value 0)) }
        Expect = $hid, @{ level = 1; max_level = 1; applied = $true; verified = $true }; Log = @('WriteFile handle * report=[00 01 00]') }
    @{ Name = 'HID 0-1 write 2 is out of range'; Mode = 'write'; Level = 2; Sim = @{ hid = @((Kbd -Min 0 -Max 1 -Value 1)) }
        Expect = $hid, @{ level = 1; max_level = 1 }; Reason = 'niveau hors limites'; NotLog = @('WriteFile*') }
    @{ Name = 'HID 1-3 write 0 sends the minimum and reads back level 1'; Mode = 'write'; Level = 0; Sim = @{ hid = @((Kbd -Min 1 -Max 3 -Value 3)) }
        Expect = $hid, @{ level = 1; applied = $true }; Reason = 'lecture de confirmation differente'; Log = @('WriteFile handle * report=[00 01 00]') }
    @{ Name = 'HID feature-only device writes with SetFeature'; Mode = 'write'; Level = 1; Sim = @{ hid = @((Kbd -Min 0 -Max 1 -FeatureOnly -ReportId 2)) }
        Expect = $hid, @{ level = 1; max_level = 1; applied = $true; verified = $true }
        Log = @('HidP_SetUsageValue type=2 page=0x0c usage=0x7b value=1 length=3 -> 0x00110000', 'HidD_SetFeature handle * report=[02 01 00]'); NotLog = @('WriteFile*') }
    @{ Name = 'HID output-only device read is unknown'; Sim = @{ hid = @((Kbd -OutputOnly -Value 255)) }
        Expect = $hid, @{ known = $false }; Reason = 'etat HID non lisible (rapport de confirmation absent)'; NotLog = @('HidD_GetFeature*') }
    @{ Name = 'HID output-only device write is sent and applied'; Mode = 'write'; Level = 2; Sim = @{ hid = @((Kbd -OutputOnly)) }
        Expect = $hid, @{ known = $false; level = 2; applied = $true }; Reason = 'etat HID non lisible (rapport de confirmation absent)'
        Log = @('WriteFile handle * report=[00 ff 00]') }
    @{ Name = 'HID WriteFile failing sends with SetOutputReport'; Mode = 'write'; Level = 2; Sim = @{ hid = @((Kbd -More @{ write_file = @(1) })) }
        Expect = $hid, @{ level = 2; applied = $true; verified = $true }
        Log = @('WriteFile handle * report=[00 ff 00]', '  -> error 1', 'HidD_SetOutputReport handle * report=[00 ff 00]', '  -> sent 255'); NotLog = @('HidD_SetFeature*') }
    @{ Name = 'HID output refused everywhere falls back to the feature report'; Mode = 'write'; Level = 2
        Sim = @{ hid = @((Kbd -More @{ write_file = @(1); set_output = @(31) })) }
        Expect = $hid, @{ level = 2; applied = $true; verified = $true }; Log = @('HidD_SetOutputReport*', '  -> error 31', 'HidD_SetFeature handle * report=[00 ff 00]') }
    @{ Name = 'HID no report accepted'; Mode = 'write'; Level = 2; Sim = @{ hid = @((Kbd -More @{ write_file = @(1); set_output = @(31); set_feature = @(121) })) }
        Expect = $hid, @{ known = $false }; Reason = 'aucun rapport HID accepte (erreur 121)' }
    @{ Name = 'HID Set Level refused with a negative status'; Mode = 'write'; Level = 1; Sim = @{ hid = @((Kbd -More @{ set_usage_status = 3222339588 })) }
        Expect = $hid, @{ known = $false }; Reason = 'rapport Set Level refuse (0xC0110004)'; NotLog = @('WriteFile*') }
    @{ Name = 'HID open failing at the write'; Mode = 'write'; Level = 1; Sim = @{ hid = @((Kbd -More @{ opens = @(0, 0, 5) })) }
        Expect = $hid, @{ known = $false }; Reason = 'ouverture HID impossible (erreur 5)' }
    @{ Name = 'HID preparsed data missing at the write'; Mode = 'write'; Level = 1; Sim = @{ hid = @((Kbd -More @{ preparsed = @(0, 0, 87) })) }
        Expect = $hid, @{ known = $false }; Reason = 'descripteur HID illisible' }
    @{ Name = 'HID read-back failing'; Mode = 'write'; Level = 1; Sim = @{ hid = @((Kbd -More @{ get_feature = @(0, 31) })) }
        Expect = $hid, @{ known = $false; level = 1; applied = $true }; Reason = 'commande HID envoyee ; confirmation indisponible' }
    @{ Name = 'HID first read failing is unknown'; Sim = @{ hid = @((Kbd -More @{ get_feature = @(31) })) }
        Expect = $hid, @{ known = $false }; Reason = 'etat HID non lisible (rapport de confirmation absent)' }
    @{ Name = 'HID read value normalised with the feature range, max_level from the output range'
        Sim = @{ hid = @(@{ value = 1; output = @(@{ min = 0; max = 255 }); feature = @(@{ min = 0; max = 1 }) }) }; Expect = $hid, @{ level = 1 } }
    @{ Name = 'HID interfaces that do not fit are skipped until the backlight'
        Sim = @{ hid = @(
                @{ detail_size = 0 }
                @{ detail_error = 13 }
                @{ opens = @(5) }
                @{ preparsed = @(87) }
                @{ caps_status = 3222339585; output = @(@{}) }
                @{ usage_page = 1; usage = 6; output = @(@{}) }
                @{ output = @(@{ usage_page = 8 }, @{ usage = 0x7A }); feature = @(@{ range = @(0x70, 0x7A) }) }
                (Kbd -Value 255 -More @{ output = @(@{ usage_page = 8 }, @{ range = @(0x70, 0x80); report_id = 4 }); output_length = 5; feature = @(@{ min = 0; max = 255; report_id = 4 }) })
                (Kbd -Value 0)
            ) }
        Expect = $hid, @{ level = 2 }; Log = @('HidD_GetFeature handle * report=[04 00 00]', '  -> [04 ff 00]'); NotLog = @('*interface 8*') }
    @{ Name = 'HID enumeration that cannot be opened leaves no trace'; Sim = @{ class_devs_error = 13; hid = @((Kbd)) }
        Expect = @{}; Reason = $none; NotLog = @('SetupDiEnumDeviceInterfaces*') }

    # ---- Lenovo WMI --------------------------------------------------------
    @{ Name = 'WMI read 1 is level 0'; Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 1 }) } }
        Expect = $wmi, @{ level = 0 }; Log = @('Get-CimInstance namespace=root/WMI class=LENOVO_LIGHTING_METHOD', 'Invoke-CimMethod instance=0 Get_Lighting_Current_Status Lighting_ID=0:UInt32') }
    @{ Name = 'WMI read 3 is level 2'; Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 3 }) } }; Expect = $wmi, @{ level = 2 } }
    @{ Name = 'WMI read 0 is out of range'; Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 0 }) } }
        Expect = $wmi, @{ known = $false }; Reason = 'niveau WMI hors plage' }
    @{ Name = 'WMI answer without Current_Brightness_Level is out of range'; Sim = @{ wmi = @{ class = 'present'; gets = @(@{}) } }
        Expect = $wmi, @{ known = $false }; Reason = 'niveau WMI hors plage' }
    @{ Name = 'WMI write 1 sets brightness 2'; Mode = 'write'; Level = 1
        Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 1 }, @{ Current_Brightness_Level = 2 }) } }
        Expect = $wmi, @{ level = 1; applied = $true; verified = $true }
        Log = @('Invoke-CimMethod instance=0 Set_Lighting_Current_Status Current_Brightness_Level=2:UInt32 Current_State_Type=0:UInt32 Lighting_ID=0:UInt32', 'Invoke-CimMethod instance=0 Get_Lighting_Current_Status*') }
    @{ Name = 'WMI read-back different records no failure'; Mode = 'write'; Level = 2
        Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 1 }, @{ Current_Brightness_Level = 2 }) } }
        Expect = $wmi, @{ level = 1; applied = $true } }
    @{ Name = 'WMI read-back out of range'; Mode = 'write'; Level = 2
        Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 2 }, @{}) } }
        Expect = $wmi, @{ known = $false; level = 2; applied = $true }; Reason = 'commande WMI envoyee ; confirmation indisponible' }
    @{ Name = 'WMI set failing'; Mode = 'write'; Level = 0
        Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 3 }); sets = @(@{ error = 'Generic failure' }) } }
        Expect = $wmi, @{ level = 2 }; Reason = 'Generic failure' }
    @{ Name = 'WMI write level 3 is out of range'; Mode = 'write'; Level = 3
        Sim = @{ wmi = @{ class = 'present'; gets = @(@{ Current_Brightness_Level = 2 }) } }
        Expect = $wmi, @{ level = 1 }; Reason = 'niveau hors limites'; NotLog = @('*Set_Lighting_Current_Status*') }
    @{ Name = 'WMI get failing'; Sim = @{ wmi = @{ class = 'present'; gets = @(@{ error = 'Invalid method Parameter(s)' }) } }
        Expect = @{ available = $true; source = 'lenovo-wmi' }; Reason = 'Invalid method Parameter(s)' }
    @{ Name = 'WMI without an instance'; Sim = @{ wmi = @{ class = 'present'; instances = 0 } }
        Expect = @{ available = $true; source = 'lenovo-wmi' }; Reason = 'instance WMI absente'; NotLog = @('Invoke-CimMethod*') }
    @{ Name = 'WMI class missing, reported by throwing, leaves no trace'; Sim = @{ wmi = @{ class = 'absent-throws' } }
        Expect = @{}; Reason = $none; NotLog = @('Get-CimInstance*') }
    @{ Name = 'WMI look-up failing is a diagnostic'; Sim = @{ wmi = @{ class = 'fails'; fail_message = 'Access denied' } }
        Expect = @{}; Reason = "$none (Lenovo WMI : Access denied)" }
)
