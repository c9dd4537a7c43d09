# Runs the backlight script the way Nivalto runs it, against the simulated
# device layer, and reads back what it printed and what it did.

Set-StrictMode -Version 3.0
$ErrorActionPreference = 'Stop'

# The first line of the script: where its text starts inside the executable.
$script:ScriptFirstLine = "# Nivalto keyboard backlight script.`n"

# Builds the stand-ins for kernel32.dll, hid.dll and setupapi.dll (under the
# names .NET probes first on Linux for DllImport("kernel32.dll"): the name with
# ".so" appended) and the Framework tool, into Directory.
function Build-Simulator {
    param([string]$Source, [string]$Directory)
    $null = New-Item -ItemType Directory -Force -Path $Directory
    $flags = @('-std=c11', '-D_GNU_SOURCE', '-Wall', '-Wextra', '-Werror', '-O1', '-fPIC')
    $core = Join-Path $Directory 'libnivalto_device_sim.so'
    $builds = @(
        , (@('-shared', '-o', $core, "$Source/simulator.c", "$Source/hid_device.c", '-ljansson',
            '-Wl,-soname,libnivalto_device_sim.so'))
    )
    foreach ($library in 'kernel32', 'hid', 'setupapi') {
        $builds += , (@('-shared', '-fvisibility=hidden', '-o', (Join-Path $Directory "$library.dll.so"),
                "$Source/$library.c", "-L$Directory", '-lnivalto_device_sim', '-ljansson', '-Wl,--no-undefined',
                '-Wl,-rpath,$ORIGIN'))
    }
    $builds += , (@('-o', (Join-Path $Directory 'framework_tool'), "$Source/framework_tool.c", '-ljansson'))
    foreach ($arguments in $builds) {
        $output = & gcc @flags @arguments 2>&1
        if ($LASTEXITCODE -ne 0) {
            throw "gcc $($arguments -join ' '): $($output -join "`n")"
        }
    }
}

# The script text an executable carries: from its first line to the byte 0
# that ends the embedded array. Exactly one copy must be there.
function Get-EmbeddedScript {
    param([string]$Executable)
    $bytes = [System.IO.File]::ReadAllBytes($Executable)
    $text = [System.Text.Encoding]::Latin1.GetString($bytes)
    $start = $text.IndexOf($script:ScriptFirstLine, [System.StringComparison]::Ordinal)
    if ($start -lt 0) { throw "$Executable carries no backlight script" }
    if ($text.IndexOf($script:ScriptFirstLine, $start + 1, [System.StringComparison]::Ordinal) -ge 0) {
        throw "$Executable carries more than one copy of the backlight script"
    }
    $end = $text.IndexOf([char]0, $start)
    return [byte[]]$bytes[$start..($end - 1)]
}

# One case's files: the scenario, the log, a working directory, and the
# Framework tools it names (copies of the simulator's tool under their names,
# or, for 'not-executable', a plain file without execute permission).
function New-CaseFiles {
    param($Case, [string]$Root, [string]$Tool)
    $directory = Join-Path $Root ($Case.Index.ToString('000'))
    $null = New-Item -ItemType Directory -Force -Path $directory
    $scenario = @{}
    foreach ($key in $Case.Sim.Keys) { $scenario[$key] = $Case.Sim[$key] }
    $frameworkDir = Join-Path $directory 'framework'
    if ($Case.ContainsKey('Framework')) {
        $frameworkDir = Join-Path $directory $(if ($Case.ContainsKey('FrameworkName')) { $Case.FrameworkName } else { 'framework' })
        $null = New-Item -ItemType Directory -Force -Path $frameworkDir
        $tools = @{}
        foreach ($name in $Case.Framework.Keys) {
            $target = Join-Path $frameworkDir $name
            $behaviour = $Case.Framework[$name]
            if ($behaviour -is [string] -and $behaviour -eq 'not-executable') {
                [System.IO.File]::WriteAllText($target, "MZ`n")
            } else {
                Copy-Item -LiteralPath $Tool -Destination $target
                $tools[$name] = $behaviour
            }
        }
        $scenario['framework'] = $tools
    }
    if ($Case.ContainsKey('ToolsInWorkingDirectory')) {
        foreach ($name in 'framework_tool.exe', 'qmk_hid.exe') {
            Copy-Item -LiteralPath $Tool -Destination (Join-Path $directory $name)
        }
        $scenario['framework'] = @{ 'framework_tool.exe' = @{ outputs = @('100 %') }; 'qmk_hid.exe' = @{ outputs = @('100 %') } }
    }
    if ($Case.ContainsKey('EmptyFrameworkDir')) { $frameworkDir = '' }
    $scenarioPath = Join-Path $directory 'scenario.json'
    [System.IO.File]::WriteAllText($scenarioPath, (ConvertTo-Json -InputObject $scenario -Depth 8))
    return @{
        Directory    = $directory
        Scenario     = $scenarioPath
        Log          = Join-Path $directory 'calls.log'
        FrameworkDir = $frameworkDir
    }
}

# PowerShell and the first six of the twelve arguments Nivalto passes to
# powershell.exe, in its order; the script's parameters follow.
function Get-ScriptCommand {
    param([string]$Pwsh, [string]$ScriptPath)
    return @($Pwsh, '-NoProfile', '-NonInteractive', '-ExecutionPolicy', 'Bypass', '-File', $ScriptPath)
}

# Runs one case: Command (a program and its first arguments) followed by the
# script's parameters for the case.
function Start-Case {
    param($Case, $Files, [string[]]$Command, [string]$Simulator, [string]$FakeModules)
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $Command[0]
    $mode = if ($Case.ContainsKey('Mode')) { $Case.Mode } else { 'read' }
    $level = if ($Case.ContainsKey('Level')) { [string]$Case.Level } else { '0' }
    $parameters = @('-Mode', $mode, '-Level', $level, '-FrameworkDir', $Files.FrameworkDir)
    foreach ($argument in @($Command | Select-Object -Skip 1) + $parameters) {
        $info.ArgumentList.Add($argument)
    }
    $info.WorkingDirectory = $Files.Directory
    $info.UseShellExecute = $false
    $info.RedirectStandardInput = $true
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    $info.Environment['LD_LIBRARY_PATH'] = $Simulator
    $info.Environment['NIVALTO_SIM_SCENARIO'] = $Files.Scenario
    $info.Environment['NIVALTO_SIM_LOG'] = $Files.Log
    $info.Environment['PSModulePath'] = $FakeModules + [System.IO.Path]::PathSeparator + $env:PSModulePath
    $process = [System.Diagnostics.Process]::Start($info)
    # Standard input empty, as the product gives it.
    $process.StandardInput.Close()
    $stdout = New-Object System.IO.MemoryStream
    return @{
        Case    = $Case
        Files   = $Files
        Process = $process
        Stdout  = $stdout
        Copy    = $process.StandardOutput.BaseStream.CopyToAsync($stdout)
        Stderr  = $process.StandardError.ReadToEndAsync()
        Started = [DateTime]::UtcNow
    }
}

function Complete-Case {
    param($Run)
    $finished = $Run.Process.HasExited
    if (-not $finished) { $Run.Process.Kill($true); $Run.Process.WaitForExit() }
    $Run.Copy.Wait()
    $log = @()
    if (Test-Path -LiteralPath $Run.Files.Log) {
        $log = @([System.IO.File]::ReadAllLines($Run.Files.Log))
    }
    return [pscustomobject]@{
        Name     = $Run.Case.Name
        TimedOut = -not $finished
        ExitCode = $Run.Process.ExitCode
        Stdout   = [System.Text.Encoding]::UTF8.GetString($Run.Stdout.ToArray())
        Stderr   = $Run.Stderr.Result
        Log      = $log
        Seconds  = ([DateTime]::UtcNow - $Run.Started).TotalSeconds
    }
}

# Runs every case with Command (see Start-Case), at most Parallel child
# processes at a time; returns the results by case name.
function Invoke-Cases {
    param([object[]]$Cases, [string]$Root, [string[]]$Command, [string]$Simulator,
        [string]$FakeModules, [int]$Parallel = 2, [int]$TimeoutSeconds = 60)
    $results = @{}
    $waiting = New-Object System.Collections.Generic.Queue[object]
    foreach ($case in $Cases) { $waiting.Enqueue($case) }
    $running = New-Object System.Collections.Generic.List[object]
    while ($waiting.Count -gt 0 -or $running.Count -gt 0) {
        while ($waiting.Count -gt 0 -and $running.Count -lt $Parallel) {
            $case = $waiting.Dequeue()
            $files = New-CaseFiles $case $Root (Join-Path $Simulator 'framework_tool')
            $running.Add((Start-Case $case $files $Command $Simulator $FakeModules))
        }
        $done = $null
        foreach ($run in $running) {
            $late = ([DateTime]::UtcNow - $run.Started).TotalSeconds -gt $TimeoutSeconds
            if ($run.Process.HasExited -or $late) { $done = $run; break }
        }
        if ($null -eq $done) {
            $running[0].Process.WaitForExit(100) | Out-Null
            continue
        }
        $null = $running.Remove($done)
        $results[$done.Case.Name] = Complete-Case $done
    }
    return $results
}

# JSON text of a string, escaped the way both PowerShell editions do for the
# characters the script's texts can hold.
function ConvertTo-JsonText {
    param([string]$Text)
    $builder = New-Object System.Text.StringBuilder
    foreach ($c in $Text.ToCharArray()) {
        switch ($c) {
            '"' { $null = $builder.Append('\"') }
            '\' { $null = $builder.Append('\\') }
            "`n" { $null = $builder.Append('\n') }
            "`r" { $null = $builder.Append('\r') }
            "`t" { $null = $builder.Append('\t') }
            default { $null = $builder.Append($c) }
        }
    }
    return $builder.ToString()
}

# The line the script must print: the initial result with the members of
# each table of Expect changed in turn, members in their fixed order, compact. A reason given as
# a pattern keeps '*' as a wildcard.
function Get-ExpectedLine {
    param($Expect, [string]$Reason)
    $members = [ordered]@{ available = $false; known = $false; level = 0; max_level = 2; source = ''; applied = $false; verified = $false }
    foreach ($table in @($Expect)) {
        foreach ($key in $table.Keys) {
            if (-not $members.Contains($key)) { throw "unknown member $key" }
            $members[$key] = $table[$key]
        }
    }
    $parts = foreach ($key in $members.Keys) {
        $value = $members[$key]
        $text = if ($value -is [bool]) { $value.ToString().ToLowerInvariant() }
        elseif ($value -is [string]) { '"' + (ConvertTo-JsonText $value) + '"' }
        else { [string]$value }
        '"' + $key + '":' + $text
    }
    return '{' + ($parts -join ',') + ',"reason":"' + (ConvertTo-JsonText $Reason) + '"}'
}

# Text matching where '*' is the only wildcard.
function Test-Pattern {
    param([string]$Text, [string]$Pattern)
    $escaped = ($Pattern -split '*', 0, 'SimpleMatch' | ForEach-Object { [System.Management.Automation.WildcardPattern]::Escape($_) }) -join '*'
    return $Text -like $escaped
}

# The log lines matched by the patterns, in their order; the first pattern
# that has no match after the previous one, or $null.
function Find-MissingLogLine {
    param([string[]]$Log, [string[]]$Patterns)
    $position = 0
    foreach ($pattern in $Patterns) {
        $found = $false
        while ($position -lt $Log.Count) {
            $line = $Log[$position]
            $position++
            if (Test-Pattern $line $pattern) { $found = $true; break }
        }
        if (-not $found) { return $pattern }
    }
    return $null
}

# What a run left open or broke: simulator faults, handles not closed (or
# closed twice), preparsed data not freed, device lists not destroyed.
function Get-ResourceFaults {
    param([string[]]$Log)
    $faults = New-Object System.Collections.Generic.List[string]
    foreach ($line in $Log) { if ($line.StartsWith('FAULT')) { $faults.Add($line) } }
    $open = New-Object System.Collections.Generic.HashSet[string]
    foreach ($line in $Log) {
        if ($line -match '^  -> handle (0x[0-9a-f]+)$') { $null = $open.Add($Matches[1]) }
        elseif ($line -match '^CloseHandle (0x[0-9a-f]+)$') {
            if (-not $open.Remove($Matches[1])) { $faults.Add("closed twice: $($Matches[1])") }
        }
    }
    foreach ($handle in $open) { $faults.Add("handle $handle never closed") }
    $preparsed = @($Log | Where-Object { $_ -like 'HidD_GetPreparsedData * -> preparsed #*' }).Count
    $freed = @($Log | Where-Object { $_ -eq 'HidD_FreePreparsedData' }).Count
    if ($preparsed -ne $freed) { $faults.Add("preparsed data: $preparsed taken, $freed freed") }
    $sets = 0
    for ($i = 0; $i -lt $Log.Count; $i++) {
        if ($Log[$i] -like 'SetupDiGetClassDevsW *' -and -not (($i + 1 -lt $Log.Count) -and $Log[$i + 1] -like '  -> invalid handle*')) { $sets++ }
    }
    $destroyed = @($Log | Where-Object { $_ -eq 'SetupDiDestroyDeviceInfoList' }).Count
    if ($sets -ne $destroyed) { $faults.Add("device lists: $sets opened, $destroyed destroyed") }
    return $faults.ToArray()
}

# What identifies the runs of a case table: the table's text and the
# script's bytes.
function Get-RunsKey {
    param([string]$CasesFile, [byte[]]$Script)
    $sha = [System.Security.Cryptography.SHA256]::Create()
    $table = [Convert]::ToHexString($sha.ComputeHash([System.IO.File]::ReadAllBytes($CasesFile)))
    return $table + ' ' + [Convert]::ToHexString($sha.ComputeHash($Script))
}

# Keeps the script's runs (printed text, exit status, call log...) in
# Directory/runs.json, so that scripts/compare-backlight can set the engine
# beside them without running the script again.
function Save-ScriptRuns {
    param([hashtable]$Results, [string]$Directory, [string]$CasesFile, [byte[]]$Script)
    $saved = @{ Key = (Get-RunsKey $CasesFile $Script); Runs = $Results }
    [System.IO.File]::WriteAllText((Join-Path $Directory 'runs.json'), (ConvertTo-Json -InputObject $saved -Depth 5))
}

# The runs kept by Save-ScriptRuns, by case name, when they were made from
# this very table and script; otherwise $null.
function Read-ScriptRuns {
    param([string]$Directory, [string]$CasesFile, [byte[]]$Script)
    $path = Join-Path $Directory 'runs.json'
    if (-not (Test-Path -LiteralPath $path)) { return $null }
    $saved = [System.IO.File]::ReadAllText($path) | ConvertFrom-Json -AsHashtable
    if ($saved.Key -ne (Get-RunsKey $CasesFile $Script)) { return $null }
    $runs = @{}
    foreach ($name in $saved.Runs.Keys) {
        $run = $saved.Runs[$name]
        $run.Log = [string[]]@($run.Log)
        $runs[$name] = [pscustomobject]$run
    }
    return $runs
}

Export-ModuleMember -Function Build-Simulator, Get-EmbeddedScript, Get-ScriptCommand, Invoke-Cases,
    Get-ExpectedLine, Test-Pattern, Find-MissingLogLine, Get-ResourceFaults, Save-ScriptRuns, Read-ScriptRuns,
    New-CaseFiles
