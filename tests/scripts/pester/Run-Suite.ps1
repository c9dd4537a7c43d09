# Runs the backlight script suite with Pester; called by scripts/test-script.
param([string]$Pester, [string]$Pwsh, [string]$Executable, [string[]]$OtherExecutables = @(),
    [string]$RunsDirectory = '')
$ErrorActionPreference = 'Stop'
Import-Module $Pester
$data = @{ Pwsh = $Pwsh; Executable = $Executable; OtherExecutables = @($OtherExecutables | Where-Object { $_ })
    RunsDirectory = $RunsDirectory }
$config = New-PesterConfiguration
$config.Run.Container = New-PesterContainer -Path (Join-Path $PSScriptRoot '*.Tests.ps1') -Data $data
$config.Run.PassThru = $true
$config.Output.Verbosity = 'Normal'
$result = Invoke-Pester -Configuration $config
$failed = $result.FailedCount + $result.FailedBlocksCount + $result.FailedContainersCount
Write-Host ('script suite: {0} passed, {1} failed' -f $result.PassedCount, $failed)
exit ([int](($failed -ne 0) -or ($result.PassedCount -eq 0)))
