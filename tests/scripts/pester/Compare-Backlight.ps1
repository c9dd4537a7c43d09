# Sets the native backlight engine beside the script, case by case, over the
# same simulated device layer: each side gets the case's scenario afresh and a
# call log of its own. Called by scripts/compare-backlight.
#
# Per case: the printed line byte for byte (where the table's reason has a
# '*', the text of PowerShell's or .NET's own, that part alone is a wildcard
# on both lines); the writes, same bytes in the same order; no handle left
# open and no FAULT line on either side. A case in which the script reaches
# the Lenovo WMI class must find the engine handing over after reads only:
# the product then runs this same script, whose run is the answer.
#
# Data: CasesFile, a table in the format of Cases.ps1; Engine, the program
# backlight_engine_sim; Pwsh and ScriptFile, the PowerShell and the script
# run for the cases that ScriptRuns (a folder kept by the script suite) does
# not hold.
param([string]$CasesFile, [string]$Engine, [string]$Pwsh, [string]$ScriptFile, [string]$ScriptRuns = '')
Set-StrictMode -Version 3.0
$ErrorActionPreference = 'Stop'
Import-Module (Join-Path $PSScriptRoot 'Harness.psm1') -Force

# What the engine's program prints when the script must answer.
$handover = "HANDOVER`n"

# The writes a log records, without the handles (each side numbers its own):
# ThinkPad set-state calls, HID output and feature reports with their bytes,
# and the vendor tool runs that carry a percentage. Failed attempts count: the
# order of fall-backs is part of what is sent.
function Get-Writes {
    param([string[]]$Log)
    foreach ($line in $Log) {
        if ($line -match '^DeviceIoControl handle \S+ (code=0x222684 in=0x[0-9a-f]+)$') {
            "DeviceIoControl $($Matches[1])"
        } elseif ($line -match '^(WriteFile|HidD_SetOutputReport|HidD_SetFeature) handle \S+ (report=\[[0-9a-f ]*\])$') {
            "$($Matches[1]) $($Matches[2])"
        } elseif ($line -match '^\S+ argc=\d+( \[[^\]]*\])* \[[0-9]+\]$') {
            $line
        }
    }
}

function Format-Text {
    param([string]$Text)
    if ($Text.Length -eq 0) { return '(nothing)' }
    return $Text.Replace("`n", '\n')
}

# What differs in one case, as texts (none when the two sides agree), and
# whether the engine handed over.
function Compare-Case {
    param($Case, $Script, $EngineRun)
    $differences = New-Object System.Collections.Generic.List[string]
    foreach ($side in @(@('script', $Script), @('engine', $EngineRun))) {
        if ($side[1].TimedOut) { $differences.Add("$($side[0]) did not end") }
        foreach ($fault in Get-ResourceFaults $side[1].Log) { $differences.Add("$($side[0]): $fault") }
    }
    $handedOver = $false
    if ($Case.ContainsKey('Fails')) {
        foreach ($side in @(@('script', $Script), @('engine', $EngineRun))) {
            if ($side[1].ExitCode -eq 0 -or $side[1].Stdout.Length -ne 0) {
                $differences.Add("$($side[0]) must fail silently: status $($side[1].ExitCode), printed $(Format-Text $side[1].Stdout)")
            }
        }
        return @{ Differences = $differences.ToArray(); HandedOver = $false }
    }
    if ($EngineRun.ExitCode -ne 0) {
        $differences.Add("engine status $($EngineRun.ExitCode): $(Format-Text $EngineRun.Stderr)")
    }
    $engineWrites = @(Get-Writes $EngineRun.Log)
    if (@($Script.Log | Where-Object { $_ -like 'Get-CimClass *' }).Count -gt 0) {
        $handedOver = $EngineRun.Stdout -ceq $handover
        if (-not $handedOver) {
            $differences.Add("the script reached the WMI class, the engine printed $(Format-Text $EngineRun.Stdout)")
        }
        if ($engineWrites.Count -gt 0) { $differences.Add("writes before the hand-over: $($engineWrites -join ', ')") }
        return @{ Differences = $differences.ToArray(); HandedOver = $handedOver }
    }
    $reason = if ($Case.ContainsKey('Reason')) { $Case.Reason } else { '' }
    if ($EngineRun.Stdout -ceq $handover) {
        $differences.Add("the engine handed over, the script printed $(Format-Text $Script.Stdout)")
    } elseif ($reason.Contains('*')) {
        $pattern = (Get-ExpectedLine $Case.Expect $reason) + "`n"
        foreach ($side in @(@('script', $Script), @('engine', $EngineRun))) {
            if (-not (Test-Pattern $side[1].Stdout $pattern) -or $side[1].Stdout.IndexOf("`n") -ne $side[1].Stdout.Length - 1) {
                $differences.Add("$($side[0]) line $(Format-Text $side[1].Stdout) is not $(Format-Text $pattern)")
            }
        }
    } elseif ($EngineRun.Stdout -cne $Script.Stdout) {
        $differences.Add("line: engine $(Format-Text $EngineRun.Stdout), script $(Format-Text $Script.Stdout)")
    }
    $scriptWrites = @(Get-Writes $Script.Log)
    if (($engineWrites -join "`n") -cne ($scriptWrites -join "`n")) {
        $differences.Add("writes: engine [$($engineWrites -join ', ')], script [$($scriptWrites -join ', ')]")
    }
    return @{ Differences = $differences.ToArray(); HandedOver = $false }
}

$cases = @(& $CasesFile)
for ($i = 0; $i -lt $cases.Count; $i++) { $cases[$i].Index = $i }
$names = @{}
foreach ($case in $cases) {
    if ($names.ContainsKey($case.Name)) { throw "$CasesFile names two cases '$($case.Name)'" }
    $names[$case.Name] = $true
}

$root = Join-Path ([System.IO.Path]::GetTempPath()) "nivalto-compare-backlight-$PID"
$null = New-Item -ItemType Directory -Force -Path $root
try {
    $scriptBytes = [System.IO.File]::ReadAllBytes($ScriptFile)
    $storedRuns = $null
    if ($ScriptRuns) {
        $storedRuns = Read-ScriptRuns $ScriptRuns $CasesFile $scriptBytes
        if ($null -eq $storedRuns) { Write-Host "$ScriptRuns holds no runs of this table and script: running the script" }
    }
    if ($null -ne $storedRuns -and (Test-Path -LiteralPath (Join-Path $ScriptRuns 'simulator/kernel32.dll.so'))) {
        $simulator = Join-Path $ScriptRuns 'simulator'
    } else {
        $simulator = Join-Path $root 'simulator'
        Build-Simulator (Join-Path $PSScriptRoot '../simulator') $simulator
    }
    if ($null -eq $storedRuns) { $storedRuns = @{} }
    $missing = @($cases | Where-Object { -not $storedRuns.ContainsKey($_.Name) })
    if ($missing.Count -gt 0) {
        # Under the product's file name, as Nivalto writes it.
        $scriptPath = Join-Path $root "nivalto-keyboard-$PID.ps1"
        [System.IO.File]::WriteAllBytes($scriptPath, $scriptBytes)
        $parallel = if ($env:NIVALTO_SCRIPT_PARALLEL) { [int]$env:NIVALTO_SCRIPT_PARALLEL } else { 3 }
        $ran = Invoke-Cases -Cases $missing -Root (Join-Path $root 'script') -Command (Get-ScriptCommand $Pwsh $scriptPath) `
            -Simulator $simulator -FakeModules $PSScriptRoot -Parallel $parallel
        foreach ($name in $ran.Keys) { $storedRuns[$name] = $ran[$name] }
    }
    $engineRuns = Invoke-Cases -Cases $cases -Root (Join-Path $root 'engine') -Command @($Engine, '--libraries', $simulator) `
        -Simulator $simulator -FakeModules $PSScriptRoot -Parallel 2 -TimeoutSeconds 90

    $identical = 0
    $handedOver = New-Object System.Collections.Generic.List[string]
    foreach ($case in $cases) {
        $outcome = Compare-Case $case $storedRuns[$case.Name] $engineRuns[$case.Name]
        if ($outcome.Differences.Count -eq 0) {
            $identical++
            if ($outcome.HandedOver) { $handedOver.Add($case.Name) }
        } else {
            Write-Host "differs: $($case.Name): $($outcome.Differences -join '; ')"
        }
    }
    if ($handedOver.Count -gt 0) {
        Write-Host ("handed over after reads only, the script's own run answers: {0} cases" -f $handedOver.Count)
    }
    Write-Host ('backlight engines: {0} cases, {1} identical, {2} differ' -f $cases.Count, $identical, ($cases.Count - $identical))
    exit ([int]($identical -ne $cases.Count))
} finally {
    if ($env:NIVALTO_SCRIPT_KEEP) { Write-Host "kept $root" } else { Remove-Item -Recurse -Force -LiteralPath $root }
}
