# The backlight script is written for Windows PowerShell 5.1: it may use
# nothing that only later PowerShell has.
param([string]$Pwsh, [string]$Executable, [string[]]$OtherExecutables = @())

BeforeAll {
    . (Join-Path $PSScriptRoot 'Windows51.ps1')
}

Describe 'Nothing newer than Windows PowerShell 5.1' {
    It 'the backlight script uses nothing newer' {
        $text = [System.IO.File]::ReadAllText((Join-Path $PSScriptRoot '../../../hal/scripts/keyboard_backlight.ps1'))
        Find-NewerThanWindowsPowerShell51 $text | Should -BeNullOrEmpty
    }

    It 'finds <Finding> in: <Text>' -ForEach @(
        @{ Text = '$a = $b ? 1 : 2'; Finding = 'ternary' }
        @{ Text = 'Get-Item x && Get-Item y'; Finding = '&& or ||' }
        @{ Text = 'Get-Item x || exit 1'; Finding = '&& or ||' }
        @{ Text = '$a = $b ?? 3'; Finding = '??' }
        @{ Text = '$a ??= 3'; Finding = '??=' }
        @{ Text = '${a}?.Length'; Finding = '?.' }
        @{ Text = '${a}?[0]'; Finding = '?[]' }
        @{ Text = '1..3 | ForEach-Object -Parallel { $_ }'; Finding = '-Parallel' }
        @{ Text = '1..3 | % -Par { $_ }'; Finding = '-Parallel' }
        @{ Text = 'Get-Error'; Finding = 'Get-Error' }
        @{ Text = '$PSStyle.Reset'; Finding = '$PSStyle' }
        @{ Text = 'if ($IsWindows) { }'; Finding = '$IsWindows' }
        @{ Text = 'ConvertTo-Json -InputObject 1 -EscapeHandling Default'; Finding = '-EscapeHandling' }
        @{ Text = '$x | ConvertTo-Json -AsArray'; Finding = '-AsArray' }
        @{ Text = 'ConvertFrom-Json $t -AsHashtable'; Finding = '-AsHashtable' }
        @{ Text = 'Join-Path a b -AdditionalChildPath c'; Finding = '-AdditionalChildPath' }
        @{ Text = '[System.Text.Json.JsonSerializer]::Serialize(1)'; Finding = 'System.Text.Json' }
        @{ Text = 'New-Object System.Text.Json.JsonDocumentOptions'; Finding = 'System.Text.Json' }
        @{ Text = '[Runtime.InteropServices.Marshal]::GetLastPInvokeError()'; Finding = 'GetLastPInvokeError' }
        @{ Text = '"`e[0m"'; Finding = '`e' }
        @{ Text = '"`u{2713}"'; Finding = '`u{' }
        @{ Text = 'Get-Content x -AsByteStream'; Finding = '-AsByteStream' }
        @{ Text = 'Out-File x -Encoding utf8NoBOM'; Finding = 'utf8NoBOM' }
        @{ Text = "'a' -replace 'a', { `$_.Value }"; Finding = 'script block' }
        @{ Text = 'Start-Sleep 1 &'; Finding = 'background' }
    ) {
        $found = @(Find-NewerThanWindowsPowerShell51 $Text)
        ($found -join "`n") | Should -BeLike "*$([System.Management.Automation.WildcardPattern]::Escape($Finding))*"
    }

    It 'finds nothing in 5.1 text: <_>' -ForEach @(
        '$a = if ($b) { 1 } else { 2 }'
        'ConvertTo-Json -InputObject $r -Compress -Depth 4'
        'Join-Path $a $b'
        '$x = @(1, 2) | ForEach-Object { $_ }'
        '[Runtime.InteropServices.Marshal]::GetLastWin32Error()'
        'if ($a -and $b) { $c.Length }'
        '"a`tb`n"'
        "Get-CimClass -Namespace root/WMI -ClassName X -ErrorAction SilentlyContinue"
    ) {
        Find-NewerThanWindowsPowerShell51 $_ | Should -BeNullOrEmpty
    }
}
