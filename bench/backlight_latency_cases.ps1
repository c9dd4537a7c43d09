# The scenarios of bench/backlight-latency, a read and a write for each of the
# engine's three backends, laid out with the script suite's harness (the
# simulated device layer built into Root/simulator, each case's files in a
# folder of its own). Prints them as JSON: name, the engine's and the script's
# command lines, working folder, scenario and log files.
param([string]$Root, [string]$Pwsh, [string]$Engine, [string]$ScriptFile)
Set-StrictMode -Version 3.0
$ErrorActionPreference = 'Stop'
Import-Module (Join-Path $PSScriptRoot '../tests/scripts/pester/Harness.psm1') -Force

$simulator = Join-Path $Root 'simulator'
Build-Simulator (Join-Path $PSScriptRoot '../tests/scripts/simulator') $simulator
$scriptPath = Join-Path $Root "nivalto-keyboard-$PID.ps1"
Copy-Item -LiteralPath $ScriptFile -Destination $scriptPath

# ThinkPad state words: ready (5 in bits 16-19), highest level 2, level 0 to 2.
$tp = @(0x50200, 0x50201, 0x50202)
$kbd = @{ output = @(@{ min = 0; max = 255 }); feature = @(@{ min = 0; max = 255 }) }
$cases = @(
    @{ Name = 'thinkpad-pm read'; Sim = @{ thinkpad = @{ gets = @($tp[1]) } } }
    @{ Name = 'thinkpad-pm write'; Mode = 'write'; Level = 2; Sim = @{ thinkpad = @{ gets = @($tp[0], $tp[0], $tp[2]) } } }
    @{ Name = 'hid read'; Sim = @{ hid = @(($kbd + @{ value = 170 })) } }
    @{ Name = 'hid write'; Mode = 'write'; Level = 1; Sim = @{ hid = @(($kbd + @{ value = 0 })) } }
    @{ Name = 'framework read'; Framework = @{ 'framework_tool.exe' = @{ outputs = @('60 %') } }; Sim = @{} }
    @{ Name = 'framework write'; Mode = 'write'; Level = 2; Framework = @{ 'framework_tool.exe' = @{ outputs = @('0 %', '', '100 %') } }; Sim = @{} }
)
$scriptCommand = Get-ScriptCommand $Pwsh $scriptPath
$laid = for ($i = 0; $i -lt $cases.Count; $i++) {
    $case = $cases[$i]
    $case.Index = $i
    $files = New-CaseFiles $case $Root (Join-Path $simulator 'framework_tool')
    $mode = if ($case.ContainsKey('Mode')) { $case.Mode } else { 'read' }
    $level = if ($case.ContainsKey('Level')) { [string]$case.Level } else { '0' }
    $parameters = @('-Mode', $mode, '-Level', $level, '-FrameworkDir', $files.FrameworkDir)
    [ordered]@{
        name      = $case.Name
        engine    = @($Engine, '--libraries', $simulator) + $parameters
        script    = $scriptCommand + $parameters
        directory = $files.Directory
        scenario  = $files.Scenario
        log       = $files.Log
        simulator = $simulator
    }
}
ConvertTo-Json -InputObject @($laid) -Depth 4
