# The backlight script run for real by PowerShell, each case in its own
# process started with Nivalto's argument list, against the simulated device
# layer (../simulator), the CIM cmdlets of ./CimCmdlets and Framework tools
# written into the case's FrameworkDir.
#
# Data: Pwsh, the PowerShell that runs each case; Executable, the nivalto.exe
# whose embedded script is run; OtherExecutables, builds that must carry the
# same bytes; CaseFilter, a wildcard on case names (all by default);
# RunsDirectory, where the runs are kept for scripts/compare-backlight (made
# afresh; by default a temporary folder, removed at the end).
param([string]$Pwsh, [string]$Executable, [string[]]$OtherExecutables = @(), [string]$CaseFilter = '*',
    [string]$RunsDirectory = '')

BeforeDiscovery {
    $cases = @(& (Join-Path $PSScriptRoot 'Cases.ps1') | Where-Object { $_.Name -like $CaseFilter })
}

BeforeAll {
    Import-Module (Join-Path $PSScriptRoot 'Harness.psm1') -Force
    $root = Join-Path ([System.IO.Path]::GetTempPath()) "nivalto-script-suite-$PID"
    if ($RunsDirectory) {
        $root = $RunsDirectory
        # No run of an earlier suite may pass for one of this one.
        if (Test-Path -LiteralPath $root) { Remove-Item -Recurse -Force -LiteralPath $root }
    }
    $null = New-Item -ItemType Directory -Force -Path $root
    $simulator = Join-Path $root 'simulator'
    Build-Simulator (Join-Path $PSScriptRoot '../simulator') $simulator

    # The script as Nivalto writes it: the embedded bytes, unchanged, under
    # the product's file name.
    $embedded = Get-EmbeddedScript $Executable
    $scriptPath = Join-Path $root "nivalto-keyboard-$PID.ps1"
    [System.IO.File]::WriteAllBytes($scriptPath, $embedded)

    $cases = @(& (Join-Path $PSScriptRoot 'Cases.ps1') | Where-Object { $_.Name -like $CaseFilter })
    for ($i = 0; $i -lt $cases.Count; $i++) { $cases[$i].Index = $i }
    $parallel = if ($env:NIVALTO_SCRIPT_PARALLEL) { [int]$env:NIVALTO_SCRIPT_PARALLEL } else { 3 }
    $watch = [System.Diagnostics.Stopwatch]::StartNew()
    $results = Invoke-Cases -Cases $cases -Root $root -Command (Get-ScriptCommand $Pwsh $scriptPath) `
        -Simulator $simulator -FakeModules $PSScriptRoot -Parallel $parallel
    if ($RunsDirectory) { Save-ScriptRuns $results $root (Join-Path $PSScriptRoot 'Cases.ps1') $embedded }
    Write-Host ("{0} script runs in {1:0.0} s, {2} at a time" -f $cases.Count, $watch.Elapsed.TotalSeconds, $parallel)
    $slowest = @($results.Values | Sort-Object Seconds -Descending | Select-Object -First 3 | ForEach-Object { '{0} ({1:0.0} s)' -f $_.Name, $_.Seconds })
    Write-Host ('slowest: ' + ($slowest -join ', '))
}

AfterAll {
    if ($env:NIVALTO_SCRIPT_KEEP -or $RunsDirectory) { Write-Host "kept $root" } else { Remove-Item -Recurse -Force -LiteralPath $root }
}

Describe 'The script run is the one Nivalto carries' {
    It 'the embedded text is the file in the tree, byte for byte' {
        $file = [System.IO.File]::ReadAllBytes((Join-Path $PSScriptRoot '../../../hal/scripts/keyboard_backlight.ps1'))
        $embedded.Length | Should -Be $file.Length
        [Convert]::ToBase64String($embedded) -ceq [Convert]::ToBase64String($file) | Should -BeTrue
    }

    It 'every other build carries the same bytes: <_>' -ForEach $OtherExecutables {
        $other = Get-EmbeddedScript $_
        [Convert]::ToBase64String($other) -ceq [Convert]::ToBase64String($embedded) | Should -BeTrue
    }
}

Describe 'Backlight script: <Name>' -ForEach $cases {
    BeforeAll {
        $run = $results[$Name]
    }

    It 'ends in time with the expected exit status' {
        $run.TimedOut | Should -BeFalse
        if ($_.ContainsKey('Fails')) {
            $run.ExitCode | Should -Not -Be 0
            $run.Stdout | Should -BeNullOrEmpty
        } else {
            $run.ExitCode | Should -Be 0 -Because $run.Stderr
            $run.Stderr | Should -BeNullOrEmpty
        }
    }

    It 'prints one compact line with every member in order' -Skip:($_.ContainsKey('Fails')) {
        $reason = if ($_.ContainsKey('Reason')) { $_.Reason } else { '' }
        $expected = Get-ExpectedLine $_.Expect $reason
        $run.Stdout | Should -Not -BeNullOrEmpty
        $run.Stdout.EndsWith("`n") | Should -BeTrue
        $line = $run.Stdout.Substring(0, $run.Stdout.Length - 1)
        $line | Should -Not -Match '[\r\n]'
        if ($reason.Contains('*')) {
            Test-Pattern $line $expected | Should -BeTrue -Because "the line was $line, expected $expected"
        } else {
            $line | Should -BeExactly $expected
        }
    }

    It 'makes the expected calls and releases what it opens' {
        $missing = if ($_.ContainsKey('Log')) { Find-MissingLogLine $run.Log $_.Log } else { $null }
        $missing | Should -BeNullOrEmpty -Because ("the log was:`n" + ($run.Log -join "`n"))
        foreach ($pattern in @($(if ($_.ContainsKey('NotLog')) { $_.NotLog }))) {
            @($run.Log | Where-Object { Test-Pattern $_ $pattern }) | Should -BeNullOrEmpty -Because "no call matches $pattern"
        }
        Get-ResourceFaults $run.Log | Should -BeNullOrEmpty
    }
}

# No run reaches this text: the script writes only to a device it found. The
# class it compiles is checked here directly, from the same embedded bytes.
Describe 'HidKbBacklight.Write without a device' {
    It 'raises "peripherique HID absent"' {
        $text = [System.Text.Encoding]::ASCII.GetString($embedded)
        $source = [regex]::Match($text, "(?s)\`$HidKbBacklightSource = @'\n(.*?)\n'@").Groups[1].Value
        $source | Should -Not -BeNullOrEmpty
        Add-Type -TypeDefinition $source -IgnoreWarnings
        { [HidKbBacklight]::Write($null, 0) } | Should -Throw -ExpectedMessage '*"peripherique HID absent"'
    }
}
